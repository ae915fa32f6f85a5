// What every libcurl handle of the network layer shares: global initialisation, certificate
// verification, the proxy option and the mapping of libcurl's codes to Windows codes.
#pragma once

#include <curl/curl.h>

#include <string>

#include "network/transfer_settings.h"
#include "platform/errors.h"

namespace network::curl {

// curl_global_init once per process (thread-safe); true when libcurl is usable.
bool EnsureGlobalInit();

// Peer and host-name verification on, against the system store plus the extra CA bundle of the
// settings. There is deliberately no way to switch it off.
void ApplyTlsVerification(CURL* easy, const TransferSettings& settings);

// Sets the proxy option explicitly, so libcurl never picks a proxy from the host's environment on
// its own: `proxy` empty means no proxy.
void ApplyProxy(CURL* easy, const std::string& proxy);

// The WinInet/WinHTTP code for a failed transfer.
platform::DWORD WindowsErrorFromCurl(CURLcode code);

}  // namespace network::curl
