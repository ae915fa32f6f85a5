// Files and folders of the machine, addressed by Windows paths (see paths.h).
//
// Windows attributes the system uses are kept and enforced by these calls: a read-only file
// cannot be deleted or opened for writing (ERROR_ACCESS_DENIED), even when the process runs as
// root, until the attribute is cleared. A file opened here without FILE_SHARE_DELETE cannot be
// deleted or moved through the platform while it is open (ERROR_SHARING_VIOLATION).
// Every failing call sets the thread's last error (errors.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace platform {

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// 100-nanosecond intervals since 1601-01-01 UTC, as Windows FILETIME.
using FileTime = std::int64_t;

struct FileInfo {
    DWORD attributes = 0;
    std::uint64_t size = 0;
    FileTime creationTime = 0;  // birth time where the file system has one, else modification time
    FileTime lastWriteTime = 0;
};

struct FindData {
    std::wstring name;  // the entry's own name, as stored
    FileInfo info;
};

DWORD GetFileAttributes(std::wstring_view path);
bool SetFileAttributes(std::wstring_view path, DWORD attributes);
bool GetFileInfo(std::wstring_view path, FileInfo& info);

// One level; ERROR_ALREADY_EXISTS when it exists, ERROR_PATH_NOT_FOUND when the parent is missing.
bool CreateDirectory(std::wstring_view path);
// Empty folders only (ERROR_DIR_NOT_EMPTY otherwise); refuses a read-only folder.
bool RemoveDirectory(std::wstring_view path);
bool DeleteFile(std::wstring_view path);
bool CopyFile(std::wstring_view from, std::wstring_view to, bool failIfExists);

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
bool MoveFile(std::wstring_view from, std::wstring_view to, DWORD flags);

// Entries of a folder whose names match the wildcard pattern of the last path element
// ("C:\x\*", "C:\x\*.*", "C:\x\*.log"; Windows matching, case-insensitive), without "." and "..".
// False with ERROR_PATH_NOT_FOUND when the folder does not exist; an empty list is not an error.
bool FindFiles(std::wstring_view pattern, std::vector<FindData>& entries);

// Free space available to the caller, total size and total free space of the drive holding the
// path; the machine profile's per-drive overrides take precedence over the host's figures.
bool GetDiskFreeSpace(std::wstring_view path, std::uint64_t& freeToCaller, std::uint64_t& total,
                      std::uint64_t& totalFree);

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_APPEND_DATA = 0x4;  // every write goes to the end of the file, atomically
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr int FILE_BEGIN = 0;
inline constexpr int FILE_CURRENT = 1;
inline constexpr int FILE_END = 2;

// An open file. Move-only; closes on destruction.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Invalid File (last error set) on failure.
    static File Open(std::wstring_view path, DWORD access, DWORD share, DWORD disposition,
                     DWORD attributes = FILE_ATTRIBUTE_NORMAL);

    bool IsValid() const { return fd_ >= 0; }
    explicit operator bool() const { return IsValid(); }

    bool Read(void* buffer, std::size_t size, std::size_t& read);
    // One write call on the host; a short write is reported as failure.
    bool Write(const void* data, std::size_t size);
    bool Seek(std::int64_t offset, int origin, std::int64_t* newPosition = nullptr);
    bool GetSize(std::uint64_t& size) const;
    bool SetEndOfFile();
    bool Flush();
    bool GetTimes(FileTime& creation, FileTime& lastWrite) const;
    void Close();

    // For libraries that do their own I/O on an already opened file.
    int HostDescriptor() const { return fd_; }

private:
    int fd_ = -1;
    std::uint64_t shareToken_ = 0;  // entry in the process's table of open files and their sharing
};

// Reads or writes a whole small file (configuration, profile, fixtures). False on any failure.
bool ReadWholeFile(std::wstring_view path, std::string& bytes);
bool WriteWholeFile(std::wstring_view path, std::string_view bytes);

// The running executable's path in Windows form ("Z:\..." for a host path).
std::wstring GetModuleFileName();

// The user's temporary folder with a trailing backslash, as Windows's GetTempPath.
std::wstring GetTempPath();

// File-system redirection of a 32-bit process on 64-bit Windows: "C:\Windows\System32" is
// "C:\Windows\SysWOW64" unless the calling thread switched redirection off. No effect on a
// 32-bit machine profile.
bool Wow64DisableFsRedirection();
bool Wow64RevertFsRedirection();
bool IsWow64FsRedirectionEnabled();

}  // namespace platform
