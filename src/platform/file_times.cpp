#include "platform/file_times.h"

#include <errno.h>
#include <sys/stat.h>

namespace platform {
namespace {

// FILETIME counts 100 ns from 1601-01-01; the host counts from 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

timespec ToTimespec(const FileTime* time) {
    timespec ts{};
    if (!time) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    std::int64_t units = *time - kEpochDifference;
    std::int64_t seconds = units / 10000000;
    std::int64_t rest = units % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

}  // namespace

bool SetFileTime(File& file, const FileTime* /*creation*/, const FileTime* lastAccess, const FileTime* lastWrite) {
    if (!file.IsValid()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
    if (::futimens(file.HostDescriptor(), times) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace platform
