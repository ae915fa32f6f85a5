#include "platform/errors.h"

#include <cerrno>

namespace platform {
namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

DWORD WindowsErrorFromErrno(int err) {
    switch (err) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR: return ERROR_ACCESS_DENIED;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case ENOSPC: return ERROR_DISK_FULL;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
        case EPIPE: return ERROR_BROKEN_PIPE;
        case ETIMEDOUT: return ERROR_TIMEOUT;
        case ETXTBSY:
        case EBUSY: return ERROR_SHARING_VIOLATION;
        default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD SetLastErrorFromErrno(int err) {
    DWORD code = WindowsErrorFromErrno(err);
    SetLastError(code);
    return code;
}

}  // namespace platform
