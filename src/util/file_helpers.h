// Path, folder and file helpers shared by the whole installer. Paths are Windows paths of the
// machine; every helper reports failure by its result and never throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class File;
}

namespace util {

struct PathParts {
    std::wstring folder;     // without the final separator
    std::wstring name;       // the last element, extension included
    std::wstring extension;  // from the last "." of the name, dot included; empty when none
};
// False for an empty path.
bool SplitPath(std::wstring_view path, PathParts& parts);
// Exactly one "\" between the parts.
std::wstring JoinPath(std::wstring_view base, std::wstring_view more);

std::wstring ExecutableFolder();
// The 32-bit Program Files folder joined with "Velmo\VelmoInstaller".
std::wstring InstallerDataFolder();

bool FileExists(std::wstring_view path);
bool DirectoryExists(std::wstring_view path);
bool CreateDirectoryTree(std::wstring_view path);
bool DeleteFileForce(std::wstring_view path);
// 1 on success (single entries that fail are ignored), or the system error code when the folder
// cannot be listed.
std::uint32_t DeleteTree(std::wstring_view path);
bool IsFolderWritable(std::wstring_view folder);

std::uint64_t FileSize(std::wstring_view path);
std::uint64_t FolderSize(std::wstring_view folder);
std::uint32_t CountFiles(std::wstring_view folder);
// Of the files that can be opened for reading, the one created last (the later one on a tie).
std::wstring NewestFile(const std::vector<std::wstring>& paths);
bool WriteAll(platform::File& file, const void* bytes, std::int64_t count);

// "%d.%d.%d.%d" of the fixed file version; empty when the file has no version resource.
std::wstring FileVersionText(std::wstring_view path);
// A string value of the file's version resource (e.g. "CompanyName"); empty when absent.
std::wstring ModuleStringVersionValue(std::wstring_view modulePath, std::wstring_view valueName);
// The running installer's "ProductVersion" with every "," replaced by "."; computed once.
std::wstring InstallerProductVersion();
// Log files of prerequisite setups in the temporary folder created less than 25 hours ago.
std::vector<std::wstring> PrerequisiteLogFiles();

}  // namespace util
