#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/known_folders.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;

// ---- host metadata ---------------------------------------------------------------------------

FileTime FileTimeFrom(std::int64_t seconds, std::uint32_t nanoseconds) {
    constexpr std::int64_t kEpochDifference = 116444736000000000;  // 1601-01-01 to 1970-01-01 in 100 ns
    return seconds * 10000000 + nanoseconds / 100 + kEpochDifference;
}

struct HostStat {
    mode_t mode = 0;
    std::uint64_t size = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    FileTime creation = 0;
    FileTime lastWrite = 0;
    bool SameFile(const HostStat& o) const { return dev == o.dev && ino == o.ino; }
};

void FromStatx(const struct statx& sx, HostStat& st) {
    st.mode = sx.stx_mode;
    st.size = sx.stx_size;
    st.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.ino = sx.stx_ino;
    st.lastWrite = FileTimeFrom(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    st.creation = (sx.stx_mask & STATX_BTIME) ? FileTimeFrom(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                              : st.lastWrite;
}

void FromStat(const struct stat& s, HostStat& st) {
    st.mode = s.st_mode;
    st.size = static_cast<std::uint64_t>(s.st_size);
    st.dev = s.st_dev;
    st.ino = s.st_ino;
    st.lastWrite = FileTimeFrom(s.st_mtim.tv_sec, static_cast<std::uint32_t>(s.st_mtim.tv_nsec));
    st.creation = st.lastWrite;
}

// statx where the kernel has it (birth time), stat otherwise. False with errno set.
bool StatAt(int dirfd, const char* path, int flags, HostStat& st) {
    struct statx sx {};
    if (::statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        FromStatx(sx, st);
        return true;
    }
    if (errno != ENOSYS) return false;
    struct stat s {};
    int rc = (flags & AT_EMPTY_PATH) ? ::fstat(dirfd, &s) : ::fstatat(dirfd, path, &s, flags & AT_SYMLINK_NOFOLLOW);
    if (rc != 0) return false;
    FromStat(s, st);
    return true;
}

bool StatPath(const fs::path& p, HostStat& st) { return StatAt(AT_FDCWD, p.c_str(), 0, st); }
bool LstatPath(const fs::path& p, HostStat& st) { return StatAt(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW, st); }
bool StatFd(int fd, HostStat& st) { return StatAt(fd, "", AT_EMPTY_PATH, st); }

bool IsDirectory(const fs::path& p) {
    HostStat st;
    return StatPath(p, st) && S_ISDIR(st.mode);
}

// Windows tells a missing file (its folder exists) from a missing folder on the way.
DWORD MissingError(const fs::path& host) {
    return IsDirectory(host.parent_path()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool Fail(DWORD code) {
    SetLastError(code);
    return false;
}

bool FailErrno(int err) {
    SetLastErrorFromErrno(err);
    return false;
}

// ---- attributes ------------------------------------------------------------------------------
// Read-only is the owner's write bit (so host tools see it too); a folder's read-only flag lives
// in the extended attribute instead, because a folder without its write bit refuses new files on
// the host, which a read-only folder on Windows does not. Hidden, system and archive live in the
// user extended attribute, best effort: a file system without user attributes loses them.

constexpr char kAttributeName[] = "user.velmo.attributes";
constexpr DWORD kStoredFileBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kStoredFolderBits = kStoredFileBits | FILE_ATTRIBUTE_READONLY;

DWORD ParseStoredBits(const char* buf, ssize_t n) {
    if (n <= 0) return 0;
    DWORD v = 0;
    auto [ptr, ec] = std::from_chars(buf, buf + n, v);
    return ec == std::errc() ? v : 0;
}

DWORD StoredBits(const fs::path& p) {
    char buf[16];
    return ParseStoredBits(buf, ::getxattr(p.c_str(), kAttributeName, buf, sizeof buf));
}

DWORD StoredBitsFd(int fd) {
    char buf[16];
    return ParseStoredBits(buf, ::fgetxattr(fd, kAttributeName, buf, sizeof buf));
}

// False when the file system keeps no user attributes.
bool StoreBits(const fs::path& p, DWORD bits) {
    if (bits == 0) return ::removexattr(p.c_str(), kAttributeName) == 0 || errno == ENODATA;
    std::string text = std::to_string(bits);
    return ::setxattr(p.c_str(), kAttributeName, text.data(), text.size(), 0) == 0;
}

void StoreBitsFd(int fd, DWORD bits) {
    if (bits == 0) return;
    std::string text = std::to_string(bits);
    ::fsetxattr(fd, kAttributeName, text.data(), text.size(), 0);
}

DWORD AttributesOf(const fs::path& p, const HostStat& st) {
    const bool dir = S_ISDIR(st.mode);
    DWORD a = StoredBits(p) & (dir ? kStoredFolderBits : kStoredFileBits);
    if (!(st.mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
    if (dir) a |= FILE_ATTRIBUTE_DIRECTORY;
    return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool IsReadOnly(const fs::path& p, const HostStat& st) {
    return (AttributesOf(p, st) & FILE_ATTRIBUTE_READONLY) != 0;
}

FileInfo InfoOf(const fs::path& p, const HostStat& st) {
    FileInfo info;
    info.attributes = AttributesOf(p, st);
    info.size = S_ISDIR(st.mode) ? 0 : st.size;
    info.creationTime = st.creation;
    info.lastWriteTime = st.lastWrite;
    return info;
}

// ---- the process's table of open files -------------------------------------------------------
// Windows sharing rules, within this process: a new open must allow what every open handle does
// and every open handle must allow what the new open does. Deleting or moving a file needs every
// handle to share delete. Handles of other processes are not seen.

struct OpenEntry {
    dev_t dev;
    ino_t ino;
    DWORD access;
    DWORD share;
};

struct ShareTable {
    std::mutex mutex;  // held across check, open and insert, so two opens cannot both pass
    std::map<std::uint64_t, OpenEntry> entries;
    std::uint64_t next = 1;
};

ShareTable& Shares() {
    static ShareTable* table = new ShareTable;  // never destroyed: files may close in late destructors
    return *table;
}

bool Reads(DWORD access) { return (access & GENERIC_READ) != 0; }
bool Writes(DWORD access) { return (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0; }

// A handle without data access (attributes only) takes part in no sharing check, as on Windows.
bool DataAccess(DWORD access) { return Reads(access) || Writes(access); }

bool SharingConflict(const HostStat& st, DWORD access, DWORD share) {
    if (!DataAccess(access)) return false;
    for (const auto& [token, e] : Shares().entries) {
        if (e.dev != st.dev || e.ino != st.ino || !DataAccess(e.access)) continue;
        if ((Reads(access) && !(e.share & FILE_SHARE_READ)) || (Writes(access) && !(e.share & FILE_SHARE_WRITE)))
            return true;
        if ((Reads(e.access) && !(share & FILE_SHARE_READ)) || (Writes(e.access) && !(share & FILE_SHARE_WRITE)))
            return true;
    }
    return false;
}

bool DeleteBlocked(const HostStat& st) {
    for (const auto& [token, e] : Shares().entries)
        if (e.dev == st.dev && e.ino == st.ino && DataAccess(e.access) && !(e.share & FILE_SHARE_DELETE)) return true;
    return false;
}

// ---- copying ---------------------------------------------------------------------------------

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool CopyData(int in, int out) {
    // copy_file_range first (reflinks, in-kernel copy); plain reads where it is not available.
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) continue;
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
            kernelCopy = false;
        }
        char buf[1 << 16];
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                if (w == 0) errno = ENOSPC;
                return false;
            }
            done += w;
        }
    }
}

// Copies contents, attributes and last-write time, as CopyFile does. The caller checked the
// Windows rules. Last error set on failure; a destination this call created is removed again.
bool CopyContents(const fs::path& from, const fs::path& to, bool destinationExisted) {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return FailErrno(errno);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return FailErrno(errno);
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0) return FailErrno(errno);
    bool ok = CopyData(in.get(), out.get());
    int err = errno;
    if (ok) {
        StoreBitsFd(out.get(), StoredBitsFd(in.get()) & kStoredFileBits);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        if (::fchmod(out.get(), st.st_mode & 07777) != 0) {
            ok = false;
            err = errno;
        }
    }
    if (!ok) {
        ::close(out.release());
        if (!destinationExisted) ::unlink(to.c_str());
        return FailErrno(err);
    }
    if (::close(out.release()) != 0) return FailErrno(errno);
    return true;
}

// ---- wildcards -------------------------------------------------------------------------------

// '*' any run of characters, '?' exactly one, case-insensitive.
bool Glob(std::wstring_view pattern, std::wstring_view name) {
    std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || UpperChar(pattern[p]) == UpperChar(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::wstring_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

// Windows's extras over plain globbing: "*.*" matches every name, "x.*" also matches "x" and
// "x." matches "x" only when it has no extension (short 8.3 names are not emulated).
bool WildcardMatch(std::wstring_view pattern, std::wstring_view name) {
    if (pattern == L"*" || pattern == L"*.*") return true;
    if (Glob(pattern, name)) return true;
    const bool noDot = name.find(L'.') == std::wstring_view::npos;
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == L".*" && noDot)
        return Glob(pattern.substr(0, pattern.size() - 2), name);
    if (!pattern.empty() && pattern.back() == L'.' && noDot) return Glob(pattern.substr(0, pattern.size() - 1), name);
    return false;
}

// Splits a full Windows path into its folder and last element ("C:\a\b" -> "C:\a", "b").
void SplitLast(const std::wstring& full, std::wstring& folder, std::wstring& name) {
    auto slash = full.find_last_of(L'\\');
    folder = full.substr(0, slash);
    if (folder.size() == 2) folder += L"\\";
    name = full.substr(slash + 1);
}

thread_local int t_redirectionOff = 0;

}  // namespace

// ---- attributes and folders ------------------------------------------------------------------

DWORD GetFileAttributes(std::wstring_view path) {
    fs::path host;
    if (!ToHostPath(path, host)) return INVALID_FILE_ATTRIBUTES;
    HostStat st;
    if (!StatPath(host, st)) {
        SetLastError(errno == ENOENT ? MissingError(host) : WindowsErrorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    SetLastError(ERROR_SUCCESS);
    return AttributesOf(host, st);
}

bool SetFileAttributes(std::wstring_view path, DWORD attributes) {
    fs::path host;
    if (!ToHostPath(path, host)) return false;
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(ERROR_INVALID_PARAMETER);
    HostStat st;
    if (!StatPath(host, st)) return Fail(errno == ENOENT ? MissingError(host) : WindowsErrorFromErrno(errno));
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    mode_t mode = st.mode & 07777;
    if (S_ISDIR(st.mode)) {
        bool stored = StoreBits(host, attributes & kStoredFolderBits);
        if (readOnly && !stored) mode &= ~S_IWUSR;  // no user attributes here: the mode bit is all we have
        if (!readOnly) mode |= S_IWUSR;
    } else {
        StoreBits(host, attributes & kStoredFileBits);  // best effort, see above
        mode = readOnly ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    }
    if (mode != (st.mode & 07777) && ::chmod(host.c_str(), mode) != 0) return FailErrno(errno);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool GetFileInfo(std::wstring_view path, FileInfo& info) {
    fs::path host;
    if (!ToHostPath(path, host)) return false;
    HostStat st;
    if (!StatPath(host, st)) return Fail(errno == ENOENT ? MissingError(host) : WindowsErrorFromErrno(errno));
    info = InfoOf(host, st);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool CreateDirectory(std::wstring_view path) {
    fs::path host;
    if (!ToHostPath(path, host)) return false;
    HostStat st;
    if (LstatPath(host, st)) return Fail(ERROR_ALREADY_EXISTS);
    if (!IsDirectory(host.parent_path())) return Fail(ERROR_PATH_NOT_FOUND);
    if (::mkdir(host.c_str(), 0777) != 0) return FailErrno(errno);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool RemoveDirectory(std::wstring_view path) {
    fs::path host;
    if (!ToHostPath(path, host)) return false;
    HostStat st;
    if (!LstatPath(host, st)) return Fail(errno == ENOENT ? MissingError(host) : WindowsErrorFromErrno(errno));
    if (S_ISLNK(st.mode)) {  // a link to a folder goes like a junction: the link only
        if (!IsDirectory(host)) return Fail(ERROR_DIRECTORY);
        if (::unlink(host.c_str()) != 0) return FailErrno(errno);
        SetLastError(ERROR_SUCCESS);
        return true;
    }
    if (!S_ISDIR(st.mode)) return Fail(ERROR_DIRECTORY);
    if (IsReadOnly(host, st)) return Fail(ERROR_ACCESS_DENIED);
    if (::rmdir(host.c_str()) != 0) return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : WindowsErrorFromErrno(errno));
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool DeleteFile(std::wstring_view path) {
    fs::path host;
    if (!ToHostPath(path, host)) return false;
    std::lock_guard lock(Shares().mutex);
    HostStat st;
    if (!LstatPath(host, st)) return Fail(errno == ENOENT ? MissingError(host) : WindowsErrorFromErrno(errno));
    if (!S_ISLNK(st.mode)) {
        if (S_ISDIR(st.mode)) return Fail(ERROR_ACCESS_DENIED);
        if (IsReadOnly(host, st)) return Fail(ERROR_ACCESS_DENIED);
        if (DeleteBlocked(st)) return Fail(ERROR_SHARING_VIOLATION);
    }
    if (::unlink(host.c_str()) != 0) return FailErrno(errno);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool CopyFile(std::wstring_view from, std::wstring_view to, bool failIfExists) {
    fs::path src, dst;
    if (!ToHostPath(from, src) || !ToHostPath(to, dst)) return false;
    std::lock_guard lock(Shares().mutex);
    HostStat s;
    if (!StatPath(src, s)) return Fail(errno == ENOENT ? MissingError(src) : WindowsErrorFromErrno(errno));
    if (S_ISDIR(s.mode)) return Fail(ERROR_ACCESS_DENIED);
    // The source is read with every sharing allowed, so a log file another handle writes can be copied.
    if (SharingConflict(s, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return Fail(ERROR_SHARING_VIOLATION);
    HostStat d;
    const bool existed = StatPath(dst, d);
    if (existed) {
        if (failIfExists) return Fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(d.mode) || IsReadOnly(dst, d)) return Fail(ERROR_ACCESS_DENIED);
        if (d.SameFile(s) || SharingConflict(d, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
            return Fail(ERROR_SHARING_VIOLATION);
    } else if (!IsDirectory(dst.parent_path())) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (!CopyContents(src, dst, existed)) return false;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool MoveFile(std::wstring_view from, std::wstring_view to, DWORD flags) {
    fs::path src, dst;
    if (!ToHostPath(from, src) || !ToHostPath(to, dst)) return false;
    std::wstring toFull = GetFullPathName(to), toFolder, toName;
    SplitLast(toFull, toFolder, toName);
    std::lock_guard lock(Shares().mutex);
    HostStat s;
    if (!LstatPath(src, s)) return Fail(errno == ENOENT ? MissingError(src) : WindowsErrorFromErrno(errno));
    if (!S_ISLNK(s.mode) && !S_ISDIR(s.mode) && DeleteBlocked(s)) return Fail(ERROR_SHARING_VIOLATION);
    if (!IsDirectory(dst.parent_path())) return Fail(ERROR_PATH_NOT_FOUND);
    HostStat d;
    if (LstatPath(dst, d)) {
        if (d.SameFile(s)) {
            // The same file under another spelling: a change of case, which takes the new spelling.
            dst = dst.parent_path() / Utf8FromWide(toName);
        } else {
            if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
            if (S_ISDIR(d.mode) || S_ISDIR(s.mode) || IsReadOnly(dst, d)) return Fail(ERROR_ACCESS_DENIED);
            if (DeleteBlocked(d)) return Fail(ERROR_SHARING_VIOLATION);
        }
    }
    if (::rename(src.c_str(), dst.c_str()) == 0) {
        SetLastError(ERROR_SUCCESS);
        return true;
    }
    if (errno != EXDEV) return FailErrno(errno);
    // Another device: a copy and a delete when the caller allows it; folders never move across.
    if (!(flags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(s.mode)) return Fail(ERROR_NOT_SAME_DEVICE);
    HostStat existing;
    if (!CopyContents(src, dst, StatPath(dst, existing))) return false;
    ::unlink(src.c_str());  // as on Windows, a source that cannot be deleted stays and the move succeeds
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool FindFiles(std::wstring_view pattern, std::vector<FindData>& entries) {
    entries.clear();
    std::wstring full = GetFullPathName(pattern);
    if (full.empty()) return false;
    std::wstring folder, name;
    SplitLast(full, folder, name);
    if (name.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    fs::path host;
    if (!ToHostPath(folder, host)) return false;
    DIR* dir = ::opendir(host.c_str());
    if (!dir) return Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno));
    while (dirent* e = ::readdir(dir)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        std::wstring wide = WideFromUtf8(entry);
        if (!WildcardMatch(name, wide)) continue;
        HostStat st;
        fs::path p = host / entry;
        if (!StatPath(p, st) && !LstatPath(p, st)) continue;  // vanished while listing
        entries.push_back(FindData{std::move(wide), InfoOf(p, st)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const FindData& a, const FindData& b) { return CompareNoCase(a.name, b.name) < 0; });
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool GetDiskFreeSpace(std::wstring_view path, std::uint64_t& freeToCaller, std::uint64_t& total,
                      std::uint64_t& totalFree) {
    std::wstring full = GetFullPathName(path);
    if (full.empty()) return false;
    const wchar_t drive = full[0];
    fs::path root, host;
    if (!ToHostPath(std::wstring(1, drive) + L":\\", root) || !ToHostPath(full, host)) return false;
    if (!IsDirectory(root)) return Fail(ERROR_PATH_NOT_FOUND);  // a drive exists when its folder does
    // A path that does not exist yet answers for the nearest folder above it on the same drive.
    while (host != root && !IsDirectory(host) && host.has_parent_path()) host = host.parent_path();
    struct statvfs vfs {};
    if (::statvfs(host.c_str(), &vfs) != 0) return FailErrno(errno);
    const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    freeToCaller = static_cast<std::uint64_t>(vfs.f_bavail) * unit;
    totalFree = static_cast<std::uint64_t>(vfs.f_bfree) * unit;
    total = static_cast<std::uint64_t>(vfs.f_blocks) * unit;

    const MachineProfile& profile = CurrentProfile();
    if (auto it = profile.totalSpaceBytes.find(drive); it != profile.totalSpaceBytes.end()) {
        total = it->second;
        freeToCaller = std::min(freeToCaller, total);
        totalFree = std::min(totalFree, total);
    }
    if (auto it = profile.freeSpaceBytes.find(drive); it != profile.freeSpaceBytes.end()) {
        freeToCaller = totalFree = it->second;
        if (profile.totalSpaceBytes.find(drive) == profile.totalSpaceBytes.end()) total = std::max(total, it->second);
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

// ---- File ------------------------------------------------------------------------------------

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), shareToken_(other.shareToken_) {
    other.fd_ = -1;
    other.shareToken_ = 0;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        shareToken_ = other.shareToken_;
        other.fd_ = -1;
        other.shareToken_ = 0;
    }
    return *this;
}

File File::Open(std::wstring_view path, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
    File file;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return file;
    }
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return file;
    }
    fs::path host;
    if (!ToHostPath(path, host)) return file;

    ShareTable& table = Shares();
    std::lock_guard lock(table.mutex);
    HostStat st;
    const bool exists = StatPath(host, st);
    if (exists) {
        if (S_ISDIR(st.mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return file;
        }
        if (disposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return file;
        }
        if ((Writes(access) || truncates) && IsReadOnly(host, st)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return file;
        }
        if (SharingConflict(st, access | (truncates ? GENERIC_WRITE : 0), share)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return file;
        }
    } else if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
        SetLastError(errno == ENOENT ? MissingError(host) : WindowsErrorFromErrno(errno));
        return file;
    }

    const bool reads = (access & GENERIC_READ) != 0;
    const bool writes = (access & GENERIC_WRITE) != 0;
    // Append-only access: the host appends atomically, so one Write is one line at the end even
    // with several writers.
    const bool appends = (access & FILE_APPEND_DATA) != 0 && !writes;
    int flags = O_CLOEXEC;
    if ((writes || appends) && reads) flags |= O_RDWR;
    else if (writes || appends) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    if (appends) flags |= O_APPEND;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
        default: break;
    }
    int fd = ::open(host.c_str(), flags, 0666);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT) SetLastError(MissingError(host));
        else if (err == EEXIST) SetLastError(ERROR_FILE_EXISTS);
        else SetLastErrorFromErrno(err);
        return file;
    }
    HostStat opened;
    if (!StatFd(fd, opened)) {
        int err = errno;
        ::close(fd);
        SetLastErrorFromErrno(err);
        return file;
    }
    if (!exists || disposition == CREATE_ALWAYS) {
        // New attributes apply to the file; the handle keeps the access it was opened with.
        StoreBitsFd(fd, attributes & kStoredFileBits);
        if (attributes & FILE_ATTRIBUTE_READONLY) ::fchmod(fd, opened.mode & 07777 & ~S_IWUSR);
    }
    file.fd_ = fd;
    file.shareToken_ = table.next++;
    table.entries.emplace(file.shareToken_, OpenEntry{opened.dev, opened.ino, access, share});
    SetLastError(exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                          : ERROR_SUCCESS);
    return file;
}

bool File::Read(void* buffer, std::size_t size, std::size_t& read) {
    read = 0;
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    auto* out = static_cast<char*>(buffer);
    while (read < size) {
        ssize_t n = ::read(fd_, out + read, size - read);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : WindowsErrorFromErrno(errno));
        if (n == 0) break;
        read += static_cast<std::size_t>(n);
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool File::Write(const void* data, std::size_t size) {
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    if (size == 0) return true;
    ssize_t n;
    do n = ::write(fd_, data, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : WindowsErrorFromErrno(errno));
    // On a regular file the host writes short only when the disk is full.
    if (static_cast<std::size_t>(n) != size) return Fail(ERROR_DISK_FULL);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool File::Seek(std::int64_t offset, int origin, std::int64_t* newPosition) {
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    int whence = origin == FILE_BEGIN ? SEEK_SET : origin == FILE_CURRENT ? SEEK_CUR : origin == FILE_END ? SEEK_END : -1;
    if (whence < 0) return Fail(ERROR_INVALID_PARAMETER);
    off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (pos < 0) return Fail(errno == EINVAL ? ERROR_NEGATIVE_SEEK : WindowsErrorFromErrno(errno));
    if (newPosition) *newPosition = pos;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool File::GetSize(std::uint64_t& size) const {
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return FailErrno(errno);
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::SetEndOfFile() {
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    if (pos < 0) return FailErrno(errno);
    if (::ftruncate(fd_, pos) != 0) return Fail(errno == EBADF || errno == EINVAL ? ERROR_ACCESS_DENIED
                                                                                : WindowsErrorFromErrno(errno));
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool File::Flush() {
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    if (::fsync(fd_) != 0 && errno != EINVAL) return FailErrno(errno);
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool File::GetTimes(FileTime& creation, FileTime& lastWrite) const {
    if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
    HostStat st;
    if (!StatFd(fd_, st)) return FailErrno(errno);
    creation = st.creation;
    lastWrite = st.lastWrite;
    return true;
}

void File::Close() {
    if (fd_ < 0) return;
    {
        ShareTable& table = Shares();
        std::lock_guard lock(table.mutex);
        table.entries.erase(shareToken_);
    }
    ::close(fd_);
    fd_ = -1;
    shareToken_ = 0;
}

// ---- whole files, process facts, redirection -------------------------------------------------

bool ReadWholeFile(std::wstring_view path, std::string& bytes) {
    File f = File::Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!f) return false;
    std::string out;
    std::uint64_t size = 0;
    if (f.GetSize(size)) out.reserve(static_cast<std::size_t>(size));
    char buf[1 << 16];
    for (;;) {
        std::size_t n = 0;
        if (!f.Read(buf, sizeof buf, n)) return false;
        if (n == 0) break;
        out.append(buf, n);
    }
    bytes = std::move(out);
    return true;
}

bool WriteWholeFile(std::wstring_view path, std::string_view bytes) {
    File f = File::Open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    if (!f) return false;
    constexpr std::size_t kChunk = std::size_t{1} << 26;
    for (std::size_t done = 0; done < bytes.size(); done += kChunk)
        if (!f.Write(bytes.data() + done, std::min(kChunk, bytes.size() - done))) return false;
    f.Close();
    SetLastError(ERROR_SUCCESS);
    return true;
}

std::wstring GetModuleFileName() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        SetLastErrorFromErrno(ec.value());
        return {};
    }
    return WindowsPathFromHost(exe);
}

std::wstring GetTempPath() { return GetKnownFolderPath(KnownFolder::Temp) + L"\\"; }

// Nested switches count, as a caller that keeps Windows's old value and restores it would see.
bool Wow64DisableFsRedirection() {
    ++t_redirectionOff;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool Wow64RevertFsRedirection() {
    if (t_redirectionOff > 0) --t_redirectionOff;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool IsWow64FsRedirectionEnabled() { return t_redirectionOff == 0 && CurrentProfile().is64Bit; }

}  // namespace platform
