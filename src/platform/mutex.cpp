#include "platform/mutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace platform {
namespace {

// A named mutex is a lock file <prefix>/run/mutex/<name>, held with an open-file-description
// lock: such a lock belongs to our open file, not to the process's other descriptors or threads,
// and the kernel drops it when the last descriptor of that open file closes, which includes a
// process that is killed. The files themselves stay: removing one could let two processes lock
// two different files of the same name.
//
// Creating a handle: try an exclusive lock; if it is granted, nobody else holds the name
// (ERROR_SUCCESS), and the lock is converted in place (atomically) to a shared one; if it is
// refused, another handle exists (ERROR_ALREADY_EXISTS) and we wait for a shared lock, which is
// at most the moment another creator spends between its exclusive lock and its conversion. Of
// two creators racing on a free name exactly one sees ERROR_SUCCESS. The race we accept is the
// one Windows has too: a holder closing at the moment another process creates may or may not be
// seen by it.
class LockFileMutex final : public NamedMutex {
public:
    explicit LockFileMutex(int fd) : fd_(fd) {}
    ~LockFileMutex() override {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    LockFileMutex(const LockFileMutex&) = delete;
    LockFileMutex& operator=(const LockFileMutex&) = delete;

private:
    int fd_;
};

bool Lock(int fd, short type, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // the whole file
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

// "Local\" is this session's namespace, the same as no prefix; "Global\" stays part of the name.
// Names are case-sensitive, as Windows's are. Bytes outside a safe set are %-escaped; a very long
// name keeps a readable beginning and a hash of the whole.
std::string FileNameOf(std::wstring_view name) {
    if (name.size() >= 6 && name.substr(0, 6) == L"Local\\") name.remove_prefix(6);
    std::string utf8 = Utf8FromWide(name);
    std::string out;
    for (unsigned char c : utf8) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == ' ' || c == '{' || c == '}') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    if (out[0] == '.') out.replace(0, 1, "%2E");  // never "." or ".." or a hidden file
    if (out.size() > 200) {
        std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the escaped name
        for (unsigned char c : out) h = (h ^ c) * 1099511628211ull;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
        out = out.substr(0, 150) + "~" + hex;
    }
    return out;
}

class UnnamedMutex final : public NamedMutex {};

}  // namespace

std::unique_ptr<NamedMutex> CreateNamedMutex(std::wstring_view name) {
    if (name.empty() || name == L"Local\\") {  // an unnamed mutex is private to its handle
        SetLastError(ERROR_SUCCESS);
        return std::make_unique<UnnamedMutex>();
    }
    const std::filesystem::path folder = MachineFile("run") / "mutex";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path file = folder / FileNameOf(name);
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    auto handle = std::make_unique<LockFileMutex>(fd);
    DWORD status = ERROR_SUCCESS;
    if (Lock(fd, F_WRLCK, false)) {
        if (!Lock(fd, F_RDLCK, false)) {  // a conversion of our own lock is never refused
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
    } else if (errno == EAGAIN || errno == EACCES) {
        status = ERROR_ALREADY_EXISTS;
        if (!Lock(fd, F_RDLCK, true)) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
    } else {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    SetLastError(status);
    return handle;
}

}  // namespace platform
