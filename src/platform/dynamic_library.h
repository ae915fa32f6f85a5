// Shared libraries loaded at run time, in the manner of LoadLibrary, GetProcAddress and
// FreeLibrary.
//
// The path is a Windows path of the machine ("Z:\usr\lib\p7zip\7z.so" for a host file) or a host
// path beginning with "/". Loading the same library twice gives the same module; every
// LoadLibrary needs its FreeLibrary. Failing calls set the thread's last error.
#pragma once

#include <string_view>

#include "platform/errors.h"

namespace platform {

inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

// Opaque handle of a loaded library; null when none.
using HMODULE = void*;

// Null with ERROR_MOD_NOT_FOUND when the file is missing, ERROR_BAD_EXE_FORMAT when it is not a
// loadable library, ERROR_INVALID_NAME when the path maps to no host file.
HMODULE LoadLibrary(std::wstring_view path);
// The address of an exported function or object; null with ERROR_PROC_NOT_FOUND when absent.
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);

}  // namespace platform
