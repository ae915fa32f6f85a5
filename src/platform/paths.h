// Windows paths and where they live on the host.
//
// The system keeps Windows paths (drive letter, backslashes). "X:\a\b" lives at
// <prefix>/drive_x/a/b; "Z:\" is the host's "/". Lookup of an existing name is exact
// first, then case-insensitive per component, as Windows file names are; a component
// that does not exist keeps the spelling given (so it is created that way). ".." never
// leaves the drive's root. Both "\" and "/" separate components.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Canonical absolute Windows form: drive letter upper case, backslashes, "." and ".." resolved
// (clamped at the drive root), repeated separators folded, no trailing separator except after
// "X:". Relative paths resolve against the current directory. A host path beginning with "/"
// becomes a "Z:\" path. Returns an empty text (last error ERROR_INVALID_NAME) for a path that
// names no drive (UNC or device paths, empty text).
std::wstring GetFullPathName(std::wstring_view path);

// The host path of a Windows path, resolving existing components case-insensitively.
// File-system redirection applies here (see Wow64DisableFsRedirection in file.h): on a 64-bit
// profile "C:\Windows\System32\..." maps to SysWOW64 (except the folders Windows exempts:
// catroot, catroot2, DriverStore, drivers\etc, LogFiles, spool) and "C:\Windows\Sysnative" to the
// real System32, unless the calling thread switched redirection off. GetFullPathName never redirects.
// False (last error set) when the path cannot be mapped.
bool ToHostPath(std::wstring_view windowsPath, std::filesystem::path& hostPath);

// The Windows path of a host path: inside <prefix>/drive_x the drive form, elsewhere "Z:\...".
std::wstring WindowsPathFromHost(const std::filesystem::path& hostPath);

// A path that comes from outside (command line, configuration): a host path beginning with "/"
// turns into its Windows form; anything else is returned unchanged.
std::wstring FromExternalPath(std::wstring_view path);

// The process's current directory in Windows form (starts as the host's working directory).
std::wstring GetCurrentDirectory();
bool SetCurrentDirectory(std::wstring_view path);

}  // namespace platform
