// The system-information block written to the log when the user starts an installation.
#pragma once

#include <string>
#include <string_view>

namespace util {

// "Install path :%s Partition size:%d GB" with the space available to the user on the install
// drive, then "Get Temp folder failed" when the temporary folder cannot be read.
void LogInstallPathInformation(std::wstring_view installPath);

// Operating system, memory, user, domain, installer and configuration versions, Windows Update,
// processor, graphics adapters and the process list, in this order.
void LogSystemDetails();

// Whether the Windows Update Agent reports that an installation is in progress.
bool IsWindowsUpdateRunning();

// The text of "OS GPU Info:%s": the adapter count and the first adapter's details.
std::wstring GpuInformationText();

}  // namespace util
