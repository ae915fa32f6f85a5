#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace platform {

HMODULE LoadLibrary(std::wstring_view path) {
    std::filesystem::path host;
    if (path.empty() || !ToHostPath(FromExternalPath(path), host)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(host, ec)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Symbols stay local to the library, so its own helpers never bind to ours or another's.
    void* module = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return module;
}

void* GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ::dlerror();
    void* address = ::dlsym(module, name);
    if (!address) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return address;
}

bool FreeLibrary(HMODULE module) {
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace platform
