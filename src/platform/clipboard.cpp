#include "platform/clipboard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace platform {
namespace {

// Writers replace the file by renaming a finished temporary file over it, so a reader in any
// process sees the old text or the new one, never a mix. The last writer wins, as on Windows.
bool ReplaceClipboardFile(const std::string& utf8) {
    const auto target = MachineFile("clipboard.txt");
    std::string tmpl = target.string() + ".XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::size_t done = 0;
    int err = 0;
    while (done < utf8.size()) {
        ssize_t n = ::write(fd, utf8.data() + done, utf8.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (!err && ::fchmod(fd, 0644) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(tmpl.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(tmpl.c_str());
        SetLastErrorFromErrno(err);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace

bool GetClipboardText(std::wstring& text) {
    text.clear();
    int fd = ::open(MachineFile("clipboard.txt").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {  // nothing was ever copied, or the clipboard was emptied
            SetLastError(ERROR_SUCCESS);
            return true;
        }
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::string bytes;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            SetLastErrorFromErrno(err);
            return false;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    text = WideFromUtf8(bytes);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool SetClipboardText(std::wstring_view text) {
    // Clipboard text is terminated by its first NUL, as CF_UNICODETEXT is.
    return ReplaceClipboardFile(Utf8FromWide(text.substr(0, text.find(L'\0'))));
}

bool EmptyClipboard() {
    if (::unlink(MachineFile("clipboard.txt").c_str()) != 0 && errno != ENOENT) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace platform
