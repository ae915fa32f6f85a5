#include "network/transfer_settings.h"

#include <algorithm>

#include "network/deployment.h"

namespace network {

TransferSettings CurrentTransferSettings() {
    Deployment deployment = CurrentDeployment();
    TransferSettings settings;
    settings.caBundle = deployment.caBundle;
    settings.stallSeconds = deployment.stallSeconds == 0 ? 60 : static_cast<int>(std::min<std::uint32_t>(deployment.stallSeconds, 86400));
    return settings;
}

std::wstring AccountApiBase() {
    std::wstring base = CurrentDeployment().accountApi;
    while (!base.empty() && base.back() == L'/') base.pop_back();
    return base;
}

}  // namespace network
