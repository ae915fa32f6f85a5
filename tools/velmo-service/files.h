// Small file helpers of the service: whole-file reads, change stamps and line appends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmo_service {

std::optional<std::string> ReadFile(const std::filesystem::path& path);
// Writes through a temporary file and a rename, so a reader never sees half a file.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// What tells a changed file from an unchanged one: identity, size and modification time.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::filesystem::path& path);

// Appends one line (a newline is added) in one write call on a file opened for appending, so
// lines of concurrent requests, and of several services sharing a catalogue, never interleave.
bool AppendLine(const std::filesystem::path& path, std::string_view line);

}  // namespace velmo_service
