// Reading zip archives through minizip: ExtractZip and ReadFirstZipEntry.
#include <algorithm>
#include <cstdint>
#include <memory>

#include <unzip.h>

#include "archive/entry_names.h"
#include "archive/zip_archive.h"
#include "archive/zip_file_functions.h"
#include "platform/file.h"
#include "util/file_helpers.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace archive {
namespace {

constexpr std::size_t kBlockSize = 8192;
// Names are read as at most this many bytes.
constexpr uLong kNameBytes = 255;

struct UnzipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};
using UnzipHandle = std::unique_ptr<void, UnzipCloser>;

struct Request {
    std::wstring_view destination;
    std::vector<std::wstring>* entries;
    std::wstring_view filter;
    std::wstring_view topFolderReplacement;
};

// Keeps a file being written from surviving a failure: unless Keep() is called, the file is
// closed and removed, so no half-written target looks complete.
class PartialFile {
public:
    PartialFile(platform::File& file, std::wstring path) : file_(file), path_(std::move(path)) {}
    ~PartialFile() {
        if (kept_) return;
        file_.Close();
        if (!platform::DeleteFile(path_))
            util::LogError(L"cannot remove the partly written file %s, LastError: %d ", path_, platform::GetLastError());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    void Keep() { kept_ = true; }

private:
    platform::File& file_;
    std::wstring path_;
    bool kept_ = false;
};

// Adds the name to the caller's list as the request asks; false when the entry is filtered out.
bool ListEntry(const Request& request, const std::wstring& name) {
    if (!request.entries) return true;
    std::vector<std::wstring>& list = *request.entries;
    if (request.filter == L"*") {
        list.push_back(name);
        return false;
    }
    if (!request.filter.empty()) {
        if (!util::EndsWithNoCase(name, request.filter)) return false;
        list.push_back(name);
        return true;
    }
    std::size_t sep = name.find(L'\\');
    std::wstring top = sep == std::wstring::npos ? name : name.substr(0, sep + 1);
    if (std::find(list.begin(), list.end(), top) == list.end()) list.push_back(std::move(top));
    return true;
}

bool CreateFolder(const std::wstring& folder) {
    if (util::CreateDirectoryTree(folder)) return true;
    util::LogError(L"isFolder false, N_CreateFolder %s failed, LastError: %d ", folder, platform::GetLastError());
    return false;
}

// Streams the current entry into the target. 0, -1 for a file that cannot be created or
// written, or the zip library's negative code for damaged data (the target is then removed).
int WriteEntry(unzFile zip, const unz_file_info64& info, const std::wstring& target) {
    int err = unzOpenCurrentFile(zip);
    if (err != UNZ_OK) return err;
    platform::File out = platform::File::Open(target, platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                                              platform::CREATE_ALWAYS);
    if (!out) {
        util::LogError(L"CreateFile %s failed, LastError: %d ", target, platform::GetLastError());
        unzCloseCurrentFile(zip);
        return -1;
    }
    PartialFile partial(out, target);
    int result = 0;
    std::uint64_t written = 0;
    unsigned char block[kBlockSize];
    for (;;) {
        int n = unzReadCurrentFile(zip, block, kBlockSize);
        if (n < 0) {
            result = n;
            break;
        }
        if (n == 0) break;
        if (!out.Write(block, static_cast<std::size_t>(n))) {
            util::LogError(L"unzReadCurrentFile: %s, ret: %d, WriteFile: %d", target, n, 0);
            result = -1;
            break;
        }
        written += static_cast<std::uint64_t>(n);
    }
    // The CRC is checked when the entry is closed after its last byte; a stream that ends before
    // the declared size is damaged as well.
    int closed = unzCloseCurrentFile(zip);
    if (result == 0 && closed != UNZ_OK) result = closed;
    if (result == 0 && written != info.uncompressed_size) result = UNZ_BADZIPFILE;
    if (result == 0) partial.Keep();
    return result;
}

int HandleEntry(unzFile zip, const Request& request) {
    char rawName[kNameBytes + 1] = {};
    unz_file_info64 info{};
    int err = unzGetCurrentFileInfo64(zip, &info, rawName, kNameBytes, nullptr, 0, nullptr, 0);
    if (err != UNZ_OK) return err;
    std::wstring name = EntryNameFromUtf8(rawName);
    if (!request.topFolderReplacement.empty()) {
        std::size_t sep = name.find(L'\\');
        if (sep != std::wstring::npos) name = std::wstring(request.topFolderReplacement) + name.substr(sep);
    }
    if (!ListEntry(request, name)) return 0;
    if (request.destination.empty()) return 0;

    if (!StaysInsideDestination(name)) {
        util::LogError(L"zip entry outside the destination refused: %s", name);
        return -1;
    }
    std::wstring target = util::JoinPath(request.destination, name);
    if (!name.empty() && name.back() == L'\\') {
        while (!target.empty() && target.back() == L'\\') target.pop_back();
        return CreateFolder(target) ? 0 : -1;
    }
    if (name.find(L'\\') != std::wstring::npos && !CreateFolder(target.substr(0, target.rfind(L'\\')))) return -1;
    return WriteEntry(zip, info, target);
}

}  // namespace

int ExtractZip(std::wstring_view archivePath, std::wstring_view destination, std::vector<std::wstring>* entries,
               std::wstring_view filter, std::wstring_view topFolderReplacement) {
    const std::wstring path(archivePath);
    zlib_filefunc64_def functions = PlatformFileFunctions();
    UnzipHandle zip(unzOpen2_64(path.c_str(), &functions));
    unz_global_info64 global{};
    if (!zip || unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK) {
        util::LogError(L"cannot open zip file %s", path);
        return -1;
    }
    const Request request{destination, entries, filter, topFolderReplacement};
    const auto count = static_cast<std::uint32_t>(global.number_entry);
    int result = 0;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        result = HandleEntry(zip.get(), request);
        if (result != 0) {
            util::LogError(L"decompress folder entry failed");
            if (!topFolderReplacement.empty()) util::LogError(L"changedTopfile: %s ", topFolderReplacement);
            break;
        }
        if (i + 1 < global.number_entry) {
            int err = unzGoToNextFile(zip.get());
            if (err != UNZ_OK) {
                util::LogError(L"decompress folder entry failed,entry number:%d", count);
                // The directory promised more entries than it holds: the package is incomplete.
                result = err;
                break;
            }
        }
    }
    return result;
}

std::optional<std::string> ReadFirstZipEntry(const void* data, std::size_t size) {
    if (!data) return std::nullopt;
    MemoryArchive memory{static_cast<const unsigned char*>(data), size};
    zlib_filefunc64_def functions = MemoryFileFunctions();
    UnzipHandle zip(unzOpen2_64(&memory, &functions));
    if (!zip) {
        util::LogError(L"cannot open zip archive in memory");
        return std::nullopt;
    }
    char rawName[257] = {};
    unz_file_info64 info{};
    if (unzGoToFirstFile(zip.get()) != UNZ_OK ||
        unzGetCurrentFileInfo64(zip.get(), &info, rawName, 256, nullptr, 0, nullptr, 0) != UNZ_OK) {
        util::LogError(L"cannot read the first zip entry");
        return std::nullopt;
    }
    if (info.uncompressed_size > kMaxFirstEntrySize) {
        util::LogError(L"first zip entry too large: %llu bytes", static_cast<unsigned long long>(info.uncompressed_size));
        return std::nullopt;
    }
    if (unzOpenCurrentFile(zip.get()) != UNZ_OK) {
        util::LogError(L"cannot read the first zip entry");
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(info.uncompressed_size), '\0');
    int n = unzReadCurrentFile(zip.get(), bytes.data(), static_cast<unsigned>(bytes.size()));
    int closed = unzCloseCurrentFile(zip.get());
    if (n < 0 || static_cast<std::size_t>(n) != bytes.size() || closed != UNZ_OK) {
        util::LogError(L"cannot read the first zip entry, ret: %d", n < 0 ? n : closed);
        return std::nullopt;
    }
    return bytes;
}

}  // namespace archive
