// Process runs that wait, and registry enumeration below HKEY_LOCAL_MACHINE (default 32-bit view).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {
class RegKey;
}

namespace util {

// Starts the file hidden through the shell and waits at most 180 s: its exit code, 259 when the
// wait timed out, or -1 when it could not start.
std::int32_t RunAndWait(std::wstring_view file, std::wstring_view parameters);
// Runs cmd.exe /c ""program" arguments" hidden, waiting as RunAndWait.
std::int32_t RunCmd(std::wstring_view program, std::wstring_view arguments);

// Every value of the key as (name, data text); -1 when the key cannot be opened, else 0.
int EnumRegistryValues(std::wstring_view keyPath, std::vector<std::pair<std::wstring, std::wstring>>& values);
// Every subkey name; the system error code (0 on success).
std::uint32_t EnumSubkeyNames(const platform::RegKey& key, std::vector<std::wstring>& names);
// The installed application path registered for a launch id, the latest by installation time.
std::wstring ApplicationPathByLaunchId(std::int32_t launchId);

}  // namespace util
