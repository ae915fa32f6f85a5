// minizip's 64-bit file function tables: over the platform's files, so the zip library reads and
// writes Windows paths of the machine, and over a block of memory for archives held in memory.
#pragma once

#include <cstddef>

#include <ioapi.h>

namespace archive {

// The "file name" handed to unzOpen2_64 / zipOpen2_64 with this table is a null-terminated
// const wchar_t* Windows path. Reading opens existing files shared for reading; writing creates
// the file anew, shared for reading.
zlib_filefunc64_def PlatformFileFunctions();

struct MemoryArchive {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

// The "file name" handed to unzOpen2_64 with this table is a const MemoryArchive*; the memory
// must outlive the open archive. Read-only.
zlib_filefunc64_def MemoryFileFunctions();

}  // namespace archive
