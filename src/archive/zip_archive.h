// Zip archives through minizip: extraction of packages and the self-update archive, the first
// entry of an archive in memory (licence texts), and creation (problem report).
//
// Paths are Windows paths of the machine. Entry names are UTF-8 (at most 255 bytes); "/" in them
// becomes "\". Every failure is logged at Error level before it is returned.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace archive {

// Extracts, lists or filters the entries of a zip file, in archive order.
//   destination   folder to extract into; empty lists only.
//   entries       when given, receives names: with filter "*" every name (and nothing is
//                 extracted); with another filter the names ending with it (case-insensitive,
//                 and only those are extracted); without a filter the top-level files and the
//                 top-level folders with their trailing "\", each once.
//   topFolderReplacement  when given, replaces the first component of every name that has one.
// 0 on success; -1 when the archive cannot be opened, a folder or file cannot be created, a
// write fails or an entry would land outside the destination; otherwise the zip library's
// negative code of the damaged entry. A file that failed is removed, never left half written.
int ExtractZip(std::wstring_view archive, std::wstring_view destination,
               std::vector<std::wstring>* entries = nullptr, std::wstring_view filter = {},
               std::wstring_view topFolderReplacement = {});

// Entries declaring more than this are refused by ReadFirstZipEntry.
inline constexpr std::size_t kMaxFirstEntrySize = 64u * 1024 * 1024;

// The uncompressed bytes of the first entry of a zip archive held in memory; nothing when the
// archive or the entry cannot be read, its data is damaged, or it declares more than
// kMaxFirstEntrySize bytes.
std::optional<std::string> ReadFirstZipEntry(const void* data, std::size_t size);

// Packs the files, each under its own name without folders, deflated at the highest level with
// its last-write time (local DOS time). A file that cannot be opened gives an empty entry.
// 0 on success, -1 when the archive cannot be created or written.
int CreateZip(std::wstring_view archive, const std::vector<std::wstring>& files);

}  // namespace archive
