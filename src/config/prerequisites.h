// Whether a Visual C++ runtime or the .NET Framework is already present, and the machine facts
// these checks and the builders rely on.
//
// The installer is a 32-bit program: registry reads go to HKEY_LOCAL_MACHINE in the default
// (32-bit) view, and "64-bit Windows" means the process runs under WOW64.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace config {

// Whether the process runs under WOW64 (the machine profile's 64-bit flag).
bool IsWow64();
// 10 for Windows 10.0 and later, 8 from 6.2, 7 from 6.1, 6 below: the codes of `unsupportedos`.
std::int32_t OperatingSystemCode();

// The "Version" value (at most 256 bytes) of the key, a leading "v" dropped and ".0" appended to
// three-part versions, is at least the minimum. Logs "VC Redist Reg check: ..." (Info) after comparing.
bool CheckRuntimeRegistry(std::wstring_view keyPath, std::wstring_view minVersion, bool x86);
// The file version of the file in the system folder (the 32-bit one on 64-bit Windows when x86)
// is at least the minimum; read with file-system redirection off. Logs on every outcome (Info).
bool CheckRuntimeFile(bool x86, std::wstring_view fileName, std::wstring_view minVersion);
// The DWORD "Release" of the key is at least the minimum (leading decimal digits; none give 0).
bool CheckDotNetRelease(std::wstring_view keyPath, std::wstring_view minRelease);

// Command line of the second run of a damaged runtime.
inline constexpr std::wstring_view kRepairParameter = L"/q /repair /norestart";

}  // namespace config
