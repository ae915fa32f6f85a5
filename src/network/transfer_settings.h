// The deployment values the transfer layer applies to every transfer.
#pragma once

#include <string>

namespace network {

struct TransferSettings {
    // PEM file trusted in addition to the system store; empty for none.
    std::wstring caBundle;
    // A wait for bytes that sees none for this long fails (ERROR_INTERNET_TIMEOUT).
    int stallSeconds = 60;
};

// Read from the current deployment on every call, so a test or a relaunched copy that changes
// the deployment is followed.
TransferSettings CurrentTransferSettings();

// The base URL of the maker's account API (https, no trailing slash).
std::wstring AccountApiBase();

}  // namespace network
