// Writing zip archives through minizip: CreateZip.
#include <cstdint>
#include <ctime>
#include <memory>

#include <zip.h>

#include "archive/zip_archive.h"
#include "archive/zip_file_functions.h"
#include "platform/file.h"
#include "platform/text.h"
#include "util/file_helpers.h"
#include "util/log.h"

namespace archive {
namespace {

constexpr std::size_t kReadBlock = 1024;
constexpr uLong kUtf8NameFlag = 0x800;
constexpr std::int64_t kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns

// The file's last-write time as local DOS date and time; zero when the file cannot be found.
uLong DosTimeOf(const std::wstring& path) {
    platform::FileInfo info;
    if (!platform::GetFileInfo(path, info)) return 0;
    std::time_t seconds = static_cast<std::time_t>((info.lastWriteTime - kEpochDifference) / 10000000);
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return 0;
    int year = local.tm_year + 1900;
    if (year < 1980) return (1u << 21) | (1u << 16);  // the DOS epoch, 1980-01-01
    if (year > 2107) year = 2107;
    return (static_cast<uLong>(year - 1980) << 25) | (static_cast<uLong>(local.tm_mon + 1) << 21) |
           (static_cast<uLong>(local.tm_mday) << 16) | (static_cast<uLong>(local.tm_hour) << 11) |
           (static_cast<uLong>(local.tm_min) << 5) | (static_cast<uLong>(local.tm_sec) / 2);
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Adds one entry; false when the archive could not be written.
bool AddFile(zipFile zip, const std::wstring& path) {
    util::PathParts parts;
    util::SplitPath(path, parts);
    // Names are UTF-8, as our readers take them; the flag tells other readers so.
    std::string name = platform::Utf8FromWide(parts.name);
    zip_fileinfo entry{};
    entry.dosDate = DosTimeOf(path);
    platform::File file = platform::File::Open(path, platform::GENERIC_READ,
                                               platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                               platform::OPEN_EXISTING);
    std::uint64_t size = 0;
    if (file) file.GetSize(size);
    const int zip64 = size >= 0xFFFFFFFFull ? 1 : 0;
    if (zipOpenNewFileInZip4_64(zip, name.c_str(), &entry, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                Z_BEST_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                IsAscii(name) ? 0 : kUtf8NameFlag, zip64) != ZIP_OK)
        return false;
    bool ok = true;
    if (file) {
        char block[kReadBlock];
        for (;;) {
            std::size_t read = 0;
            if (!file.Read(block, sizeof block, read) || read == 0) break;
            if (zipWriteInFileInZip(zip, block, static_cast<unsigned>(read)) != ZIP_OK) {
                ok = false;
                break;
            }
        }
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
    return ok;
}

}  // namespace

int CreateZip(std::wstring_view archivePath, const std::vector<std::wstring>& files) {
    const std::wstring path(archivePath);
    zlib_filefunc64_def functions = PlatformFileFunctions();
    zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip) {
        util::LogError(L"cannot create zip file %s, LastError: %d ", path, platform::GetLastError());
        return -1;
    }
    bool ok = true;
    for (const std::wstring& file : files) {
        if (!AddFile(zip, file)) {
            ok = false;
            break;
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK) ok = false;
    if (!ok) {
        util::LogError(L"cannot write zip file %s", path);
        platform::DeleteFile(path);
        return -1;
    }
    return 0;
}

}  // namespace archive
