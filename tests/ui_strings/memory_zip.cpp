#include "memory_zip.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>

namespace velmo_test {

namespace {

struct Stream {
    std::string_view bytes;
    ZPOS64_T position = 0;
};

voidpf Open(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return new Stream{*static_cast<std::string_view*>(opaque), 0};
}

uLong Read(voidpf, voidpf stream, void* buf, uLong size) {
    auto* s = static_cast<Stream*>(stream);
    const ZPOS64_T left = s->bytes.size() - std::min<ZPOS64_T>(s->position, s->bytes.size());
    const uLong n = static_cast<uLong>(std::min<ZPOS64_T>(size, left));
    std::memcpy(buf, s->bytes.data() + s->position, n);
    s->position += n;
    return n;
}

uLong Write(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T Tell(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->position; }

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<Stream*>(stream);
    ZPOS64_T base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = s->position; break;
        case ZLIB_FILEFUNC_SEEK_END: base = s->bytes.size(); break;
        default: return -1;
    }
    if (base + offset > s->bytes.size()) return -1;
    s->position = base + offset;
    return 0;
}

int Close(voidpf, voidpf stream) {
    delete static_cast<Stream*>(stream);
    return 0;
}

int Error(voidpf, voidpf) { return 0; }

}  // namespace

bool ReadZipFromMemory(std::string_view archive, std::vector<ZipEntry>& entries) {
    entries.clear();
    zlib_filefunc64_def functions{};
    functions.zopen64_file = Open;
    functions.zread_file = Read;
    functions.zwrite_file = Write;
    functions.ztell64_file = Tell;
    functions.zseek64_file = Seek;
    functions.zclose_file = Close;
    functions.zerror_file = Error;
    functions.opaque = &archive;
    unzFile zip = unzOpen2_64("memory", &functions);
    if (!zip) return false;
    bool ok = unzGoToFirstFile(zip) == UNZ_OK;
    while (ok) {
        unz_file_info64 info{};
        char name[512] = {};
        ok = unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) == UNZ_OK &&
             unzOpenCurrentFile(zip) == UNZ_OK;
        if (!ok) break;
        ZipEntry entry{name, std::string(info.uncompressed_size, '\0')};
        const int read = entry.data.empty() ? 0 : unzReadCurrentFile(zip, entry.data.data(), static_cast<unsigned>(entry.data.size()));
        ok = unzCloseCurrentFile(zip) == UNZ_OK && read == static_cast<int>(entry.data.size());
        if (!ok) break;
        entries.push_back(std::move(entry));
        const int next = unzGoToNextFile(zip);
        if (next == UNZ_END_OF_LIST_OF_FILE) break;
        ok = next == UNZ_OK;
    }
    unzClose(zip);
    return ok;
}

}  // namespace velmo_test
