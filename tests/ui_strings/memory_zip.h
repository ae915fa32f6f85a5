// Reads the entries of a zip archive held in memory, with minizip over a memory stream, so the
// licence archives are checked with a reader independent of ours.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmo_test {

struct ZipEntry {
    std::string name;
    std::string data;
};

// Every entry in archive order; false when the bytes are not a readable zip archive.
bool ReadZipFromMemory(std::string_view archive, std::vector<ZipEntry>& entries);

}  // namespace velmo_test
