#include "util/file_helpers.h"

#include <time.h>

#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/text.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace util {
namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;
constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 in FILETIME ticks

}  // namespace

bool SplitPath(std::wstring_view path, PathParts& parts) {
    parts = PathParts{};
    if (path.empty()) return false;
    std::size_t sep = std::wstring_view::npos;
    std::size_t dot = std::wstring_view::npos;
    for (std::size_t i = path.size(); i-- > 0;) {
        if (IsSep(path[i])) {
            sep = i;
            break;
        }
        if (path[i] == L'.' && dot == std::wstring_view::npos) dot = i;
    }
    if (sep == std::wstring_view::npos) {
        parts.name = std::wstring(path);
    } else {
        parts.folder = std::wstring(path.substr(0, sep));
        parts.name = std::wstring(path.substr(sep + 1));
    }
    if (dot != std::wstring_view::npos) parts.extension = std::wstring(path.substr(dot));
    return true;
}

std::wstring JoinPath(std::wstring_view base, std::wstring_view more) {
    while (!more.empty() && IsSep(more.front())) more.remove_prefix(1);
    if (base.empty()) return std::wstring(more);
    std::wstring out(base);
    while (out.size() > 1 && IsSep(out.back())) out.pop_back();
    if (more.empty()) {
        if (out.size() == 2 && out[1] == L':') out += L"\\";
        return out;
    }
    if (!IsSep(out.back())) out += L"\\";
    out += more;
    return out;
}

std::wstring ExecutableFolder() {
    std::wstring module = platform::GetModuleFileName();
    PathParts parts;
    if (module.empty() || !SplitPath(module, parts)) return {};
    return parts.folder;
}

std::wstring InstallerDataFolder() {
    return JoinPath(platform::GetKnownFolderPath(platform::KnownFolder::ProgramFiles), L"Velmo\\VelmoInstaller");
}

bool FileExists(std::wstring_view path) {
    if (path.empty()) return false;
    platform::DWORD a = platform::GetFileAttributes(path);
    return a != platform::INVALID_FILE_ATTRIBUTES && !(a & platform::FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::wstring_view path) {
    if (path.empty()) return false;
    platform::DWORD a = platform::GetFileAttributes(path);
    return a != platform::INVALID_FILE_ATTRIBUTES && (a & platform::FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectoryTree(std::wstring_view path) {
    if (path.empty() || DirectoryExists(path)) return true;
    PathParts parts;
    SplitPath(path, parts);
    if (!parts.folder.empty() && !DirectoryExists(parts.folder)) {
        // "C:" has no parent to create; its root always exists.
        if (!(parts.folder.size() == 2 && parts.folder[1] == L':')) CreateDirectoryTree(parts.folder);
    }
    if (platform::CreateDirectory(path)) return true;
    return platform::GetLastError() == platform::ERROR_ALREADY_EXISTS && DirectoryExists(path);
}

bool DeleteFileForce(std::wstring_view path) {
    if (path.empty()) return false;
    platform::DWORD a = platform::GetFileAttributes(path);
    if (!platform::SetFileAttributes(path, platform::FILE_ATTRIBUTE_NORMAL)) return false;
    if (a != platform::INVALID_FILE_ATTRIBUTES && (a & platform::FILE_ATTRIBUTE_DIRECTORY))
        return platform::RemoveDirectory(path);
    return platform::DeleteFile(path);
}

std::uint32_t DeleteTree(std::wstring_view path) {
    if (!DirectoryExists(path)) {
        DeleteFileForce(path);
        return 1;
    }
    std::vector<platform::FindData> entries;
    if (!platform::FindFiles(JoinPath(path, L"*"), entries)) return platform::GetLastError();
    for (const auto& e : entries) {
        std::wstring child = JoinPath(path, e.name);
        if (e.info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) DeleteTree(child);
        else DeleteFileForce(child);
    }
    DeleteFileForce(path);
    return 1;
}

bool IsFolderWritable(std::wstring_view folder) {
    std::wstring probe = JoinPath(folder, L"7DD32994-E523-48FE-8364-8EC8F0A52356");
    if (CreateDirectoryTree(probe)) {
        DeleteTree(probe);
        return true;
    }
    LogDebug(L"The folder is not writable: %s", folder);
    return false;
}

std::uint64_t FileSize(std::wstring_view path) {
    platform::FileInfo info;
    return platform::GetFileInfo(path, info) ? info.size : 0;
}

std::uint64_t FolderSize(std::wstring_view folder) {
    std::vector<platform::FindData> entries;
    if (!platform::FindFiles(JoinPath(folder, L"*"), entries)) return 0;
    std::uint64_t total = 0;
    for (const auto& e : entries) {
        if (e.info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) total += FolderSize(std::wstring(folder) + L"\\" + e.name);
        else total += e.info.size;
    }
    return total;
}

std::uint32_t CountFiles(std::wstring_view folder) {
    std::vector<platform::FindData> entries;
    if (!platform::FindFiles(JoinPath(folder, L"*.*"), entries)) return 0;
    std::uint32_t n = 0;
    for (const auto& e : entries)
        if (!(e.info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)) ++n;
    return n;
}

std::wstring NewestFile(const std::vector<std::wstring>& paths) {
    std::wstring best;
    platform::FileTime bestTime = 0;
    for (const auto& p : paths) {
        platform::File f = platform::File::Open(p, platform::GENERIC_READ, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                                platform::OPEN_EXISTING);
        if (!f) continue;
        platform::FileTime created = 0, written = 0;
        if (!f.GetTimes(created, written)) continue;
        if (best.empty() || created >= bestTime) {
            best = p;
            bestTime = created;
        }
    }
    return best;
}

bool WriteAll(platform::File& file, const void* bytes, std::int64_t count) {
    if (!file.IsValid() || count <= 0) return false;
    return file.Write(bytes, static_cast<std::size_t>(count));
}

std::vector<std::wstring> PrerequisiteLogFiles() {
    std::vector<std::wstring> found;
    std::wstring temp = platform::GetTempPath();
    if (temp.empty()) return found;
    std::vector<platform::FindData> entries;
    if (!platform::FindFiles(JoinPath(temp, L"*"), entries)) return found;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t nowTicks = kFileTimeUnixEpoch + static_cast<std::int64_t>(now.tv_sec) * kFileTimeTicksPerSecond;
    for (const auto& e : entries) {
        if (e.info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring full = JoinPath(temp, e.name);
        std::wstring lower = platform::LowerText(full);
        for (std::wstring_view pattern : {std::wstring_view(L"vcredist"), std::wstring_view(L".net")}) {
            bool named = EndsWithNoCase(e.name, pattern);
            bool logLike = lower.find(pattern) != std::wstring::npos &&
                           (lower.ends_with(L"log") || lower.ends_with(L"txt") || lower.ends_with(L"html"));
            std::int64_t hours = (nowTicks - e.info.creationTime) / (kFileTimeTicksPerSecond * 3600);
            if ((named || logLike) && hours <= 24) {
                found.push_back(full);
                break;
            }
        }
    }
    return found;
}

}  // namespace util
