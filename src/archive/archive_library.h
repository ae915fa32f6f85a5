// The fallback zip reader: the zip handler of the 7-Zip archive library, loaded at run time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace archive {

// Result codes of ExtractWithArchiveLibrary.
inline constexpr int kArchiveLibraryOk = 0;
inline constexpr int kNoCreateObject = 70001;   // library or its CreateObject export missing
inline constexpr int kNoClassObject = 70002;    // CreateObject refused the zip handler
inline constexpr int kCannotOpenFile = 70003;   // the archive file cannot be opened
inline constexpr int kNotAnArchive = 70004;     // not a zip archive; 70004 + code: extraction failed

// Extracts every item of the zip archive into the destination, or only collects top folders.
//   topFolders  receives the top-level folders (first component of items inside a folder), in
//               order of first appearance.
//   listOnly    writes nothing and ends at the first top folder found.
// An item that would land outside the destination, or that fails (damaged data, encryption:
// no password is ever given), fails the run; its partly written file is removed.
int ExtractWithArchiveLibrary(std::wstring_view archivePath, std::wstring_view destination,
                              std::vector<std::wstring>& topFolders, bool listOnly);

// Where the library is loaded from: a host path or a Windows path of the machine. The default
// is Debian's p7zip library, /usr/lib/p7zip/7z.so. For tests and packaging.
void SetArchiveLibraryPath(std::wstring_view path);
std::wstring ArchiveLibraryPath();

}  // namespace archive
