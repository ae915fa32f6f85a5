// The Windows environment of the machine: variables answered from the prefix (Windows paths),
// not from the host's environment.
//
// ProgramData, PUBLIC, SystemRoot, windir, SystemDrive, ProgramFiles, ProgramFiles(x86),
// ProgramW6432, CommonProgramFiles, CommonProgramFiles(x86), CommonProgramW6432, TEMP, TMP,
// APPDATA, LOCALAPPDATA, USERPROFILE, USERNAME, ALLUSERSPROFILE, PATH (Windows form). Values
// are those a 32-bit process sees. Names are case-insensitive.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace platform {

// Empty text (last error ERROR_ENVVAR_NOT_FOUND = 203) for an unknown variable.
std::wstring GetEnvironmentVariable(std::wstring_view name);
// Replaces each %NAME% of a known variable; unknown ones stay as written, as Windows does.
std::wstring ExpandEnvironmentStrings(std::wstring_view text);
// Every Windows variable with its value, for the environment of the children the platform starts.
std::map<std::wstring, std::wstring> WindowsEnvironment();

}  // namespace platform
