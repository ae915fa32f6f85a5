// Version resources of files named by Windows paths. Kept apart from the parser and builders so
// that build tools using those do not pull in the machine prefix.
#include "platform/paths.h"
#include "platform/version_info.h"

namespace platform {

bool ReadVersionInfo(std::wstring_view windowsPath, VersionInfo& out) {
    std::filesystem::path host;
    if (!ToHostPath(windowsPath, host)) return false;
    return ReadVersionInfoFromHostFile(host, out);
}

}  // namespace platform
