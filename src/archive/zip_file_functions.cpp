#include "archive/zip_file_functions.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "platform/file.h"

namespace archive {
namespace {

// One open stream of the zip library: the file and whether any call on it failed, which the
// library asks through testerror.
struct PlatformStream {
    platform::File file;
    bool failed = false;
};

voidpf ZCALLBACK OpenPlatform(voidpf, const void* filename, int mode) {
    if (!filename) return nullptr;
    std::wstring_view path(static_cast<const wchar_t*>(filename));
    platform::File file;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
        file = platform::File::Open(path, platform::GENERIC_READ, platform::FILE_SHARE_READ, platform::OPEN_EXISTING);
    else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
        file = platform::File::Open(path, platform::GENERIC_READ | platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                                    platform::OPEN_EXISTING);
    else if (mode & ZLIB_FILEFUNC_MODE_CREATE)
        file = platform::File::Open(path, platform::GENERIC_READ | platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                                    platform::CREATE_ALWAYS);
    if (!file) return nullptr;
    auto* stream = new (std::nothrow) PlatformStream;
    if (!stream) return nullptr;
    stream->file = std::move(file);
    return stream;
}

uLong ZCALLBACK ReadPlatform(voidpf, voidpf handle, void* buf, uLong size) {
    auto* stream = static_cast<PlatformStream*>(handle);
    std::size_t read = 0;
    if (!stream->file.Read(buf, size, read)) stream->failed = true;
    return static_cast<uLong>(read);
}

uLong ZCALLBACK WritePlatform(voidpf, voidpf handle, const void* buf, uLong size) {
    auto* stream = static_cast<PlatformStream*>(handle);
    if (!stream->file.Write(buf, size)) {
        stream->failed = true;
        return 0;
    }
    return size;
}

ZPOS64_T ZCALLBACK TellPlatform(voidpf, voidpf handle) {
    auto* stream = static_cast<PlatformStream*>(handle);
    std::int64_t pos = 0;
    if (!stream->file.Seek(0, platform::FILE_CURRENT, &pos)) {
        stream->failed = true;
        return static_cast<ZPOS64_T>(-1);
    }
    return static_cast<ZPOS64_T>(pos);
}

long ZCALLBACK SeekPlatform(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
    auto* stream = static_cast<PlatformStream*>(handle);
    int from = origin == ZLIB_FILEFUNC_SEEK_SET ? platform::FILE_BEGIN
             : origin == ZLIB_FILEFUNC_SEEK_CUR ? platform::FILE_CURRENT
             : origin == ZLIB_FILEFUNC_SEEK_END ? platform::FILE_END
                                                : -1;
    if (from < 0 || offset > static_cast<ZPOS64_T>(std::numeric_limits<std::int64_t>::max())) return -1;
    if (!stream->file.Seek(static_cast<std::int64_t>(offset), from)) {
        stream->failed = true;
        return -1;
    }
    return 0;
}

int ZCALLBACK ClosePlatform(voidpf, voidpf handle) {
    delete static_cast<PlatformStream*>(handle);
    return 0;
}

int ZCALLBACK ErrorPlatform(voidpf, voidpf handle) { return static_cast<PlatformStream*>(handle)->failed ? 1 : 0; }

struct MemoryStream {
    MemoryArchive archive;
    std::size_t position = 0;
};

voidpf ZCALLBACK OpenMemory(voidpf, const void* filename, int mode) {
    if (!filename || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    auto* stream = new (std::nothrow) MemoryStream;
    if (!stream) return nullptr;
    stream->archive = *static_cast<const MemoryArchive*>(filename);
    return stream;
}

uLong ZCALLBACK ReadMemory(voidpf, voidpf handle, void* buf, uLong size) {
    auto* stream = static_cast<MemoryStream*>(handle);
    std::size_t left = stream->position < stream->archive.size ? stream->archive.size - stream->position : 0;
    std::size_t n = size < left ? size : left;
    if (n) std::memcpy(buf, stream->archive.data + stream->position, n);
    stream->position += n;
    return static_cast<uLong>(n);
}

uLong ZCALLBACK WriteMemory(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellMemory(voidpf, voidpf handle) { return static_cast<MemoryStream*>(handle)->position; }

long ZCALLBACK SeekMemory(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
    auto* stream = static_cast<MemoryStream*>(handle);
    ZPOS64_T base = origin == ZLIB_FILEFUNC_SEEK_SET ? 0
                  : origin == ZLIB_FILEFUNC_SEEK_CUR ? stream->position
                  : origin == ZLIB_FILEFUNC_SEEK_END ? stream->archive.size
                                                     : static_cast<ZPOS64_T>(-1);
    if (base == static_cast<ZPOS64_T>(-1) || offset > stream->archive.size - base) return -1;
    stream->position = static_cast<std::size_t>(base + offset);
    return 0;
}

int ZCALLBACK CloseMemory(voidpf, voidpf handle) {
    delete static_cast<MemoryStream*>(handle);
    return 0;
}

int ZCALLBACK ErrorMemory(voidpf, voidpf) { return 0; }

}  // namespace

zlib_filefunc64_def PlatformFileFunctions() {
    zlib_filefunc64_def table{};
    table.zopen64_file = OpenPlatform;
    table.zread_file = ReadPlatform;
    table.zwrite_file = WritePlatform;
    table.ztell64_file = TellPlatform;
    table.zseek64_file = SeekPlatform;
    table.zclose_file = ClosePlatform;
    table.zerror_file = ErrorPlatform;
    table.opaque = nullptr;
    return table;
}

zlib_filefunc64_def MemoryFileFunctions() {
    zlib_filefunc64_def table{};
    table.zopen64_file = OpenMemory;
    table.zread_file = ReadMemory;
    table.zwrite_file = WriteMemory;
    table.ztell64_file = TellMemory;
    table.zseek64_file = SeekMemory;
    table.zclose_file = CloseMemory;
    table.zerror_file = ErrorMemory;
    table.opaque = nullptr;
    return table;
}

}  // namespace archive
