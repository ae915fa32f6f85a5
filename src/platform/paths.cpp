#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::mutex g_cwdMutex;
std::wstring g_cwd;  // empty until first use

std::wstring CurrentDirectoryLocked() {
    if (g_cwd.empty()) {
        std::error_code ec;
        fs::path host = fs::current_path(ec);
        g_cwd = WindowsPathFromHost(ec ? fs::path("/") : host);
    }
    return g_cwd;
}

// Splits the part after "X:" into components and resolves "." and "..", clamped at the root.
std::vector<std::wstring> Components(std::wstring_view rest) {
    std::vector<std::wstring> parts;
    std::size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && IsSep(rest[i])) ++i;
        std::size_t j = i;
        while (j < rest.size() && !IsSep(rest[j])) ++j;
        if (j > i) {
            std::wstring part(rest.substr(i, j - i));
            if (part == L".") {
            } else if (part == L"..") {
                if (!parts.empty()) parts.pop_back();
            } else {
                parts.push_back(std::move(part));
            }
        }
        i = j;
    }
    return parts;
}

fs::path DriveRoot(wchar_t drive) {
    if (drive == L'Z') return fs::path("/");
    std::string dir = "drive_";
    dir.push_back(static_cast<char>(LowerChar(drive)));
    return MachineRoot() / dir;
}

// Finds an existing entry of `dir` whose name equals `name` ignoring case; empty when none.
std::string FindNoCase(const fs::path& dir, const std::wstring& name) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return {};
    std::string best;
    while (dirent* e = ::readdir(d)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (EqualsNoCase(WideFromUtf8(entry), name)) {
            // Deterministic choice when several spellings exist: the smallest name.
            if (best.empty() || entry < best) best = entry;
        }
    }
    ::closedir(d);
    return best;
}

// File-system redirection of a 32-bit process on 64-bit Windows: C:\Windows\System32 is
// SysWOW64, except for the folders Windows exempts; C:\Windows\Sysnative is the real System32.
// The path test comes first because it is cheap and the profile lookup is not.
void RedirectSystemFolder(wchar_t drive, std::vector<std::wstring>& parts) {
    if (drive != L'C' || parts.size() < 2 || !EqualsNoCase(parts[0], L"Windows")) return;
    const bool system32 = EqualsNoCase(parts[1], L"System32");
    const bool sysnative = EqualsNoCase(parts[1], L"Sysnative");
    if (!system32 && !sysnative) return;
    if (!IsWow64FsRedirectionEnabled()) return;
    if (sysnative) {
        parts[1] = L"System32";
        return;
    }
    if (parts.size() >= 3) {
        static const wchar_t* const kExempt[] = {L"catroot", L"catroot2", L"DriverStore", L"LogFiles", L"spool"};
        for (const wchar_t* e : kExempt)
            if (EqualsNoCase(parts[2], e)) return;
        if (parts.size() >= 4 && EqualsNoCase(parts[2], L"drivers") && EqualsNoCase(parts[3], L"etc")) return;
    }
    parts[1] = L"SysWOW64";
}

}  // namespace

std::wstring GetFullPathName(std::wstring_view path) {
    std::wstring p(path);
    if (p.rfind(L"\\\\?\\", 0) == 0) p.erase(0, 4);
    if (p.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    if (p[0] == L'/' && !(p.size() > 1 && p[1] == L'/')) p = L"Z:" + p;
    if (p.size() >= 2 && IsSep(p[0]) && IsSep(p[1])) {  // UNC and device paths are not supported
        SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    wchar_t drive = 0;
    std::wstring rest;
    if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == L':') {
        drive = UpperChar(p[0]);
        rest = p.substr(2);
        if (rest.empty() || !IsSep(rest[0])) {
            // "C:name" is relative to the current directory of that drive; we keep one directory,
            // so it is relative to the drive root unless the current directory is on that drive.
            std::wstring cwd;
            {
                std::lock_guard lock(g_cwdMutex);
                cwd = CurrentDirectoryLocked();
            }
            if (!cwd.empty() && UpperChar(cwd[0]) == drive) rest = cwd.substr(2) + L"\\" + rest;
            else rest = L"\\" + rest;
        }
    } else {
        std::wstring cwd;
        {
            std::lock_guard lock(g_cwdMutex);
            cwd = CurrentDirectoryLocked();
        }
        drive = cwd[0];
        if (IsSep(p[0])) rest = p;  // "\x" is the root of the current drive
        else rest = cwd.substr(2) + L"\\" + p;
    }
    std::wstring out;
    out.push_back(drive);
    out += L":";
    auto parts = Components(rest);
    if (parts.empty()) return out + L"\\";
    for (const auto& part : parts) out += L"\\" + part;
    return out;
}

bool ToHostPath(std::wstring_view windowsPath, fs::path& hostPath) {
    std::wstring full = GetFullPathName(windowsPath);
    if (full.empty()) return false;
    fs::path cur = DriveRoot(full[0]);
    auto parts = Components(std::wstring_view(full).substr(2));
    RedirectSystemFolder(full[0], parts);
    bool existing = true;  // once a component is missing, the rest cannot exist either
    for (const auto& part : parts) {
        std::string utf8 = Utf8FromWide(part);
        if (existing) {
            struct stat st;
            fs::path exact = cur / utf8;
            if (::lstat(exact.c_str(), &st) == 0) {
                cur = std::move(exact);
                continue;
            }
            std::string found = FindNoCase(cur, part);
            if (!found.empty()) {
                cur /= found;
                continue;
            }
            existing = false;
        }
        cur /= utf8;
    }
    hostPath = std::move(cur);
    return true;
}

std::wstring WindowsPathFromHost(const fs::path& hostPath) {
    fs::path abs = hostPath.is_absolute() ? hostPath : fs::absolute(hostPath);
    abs = abs.lexically_normal();
    const fs::path& root = MachineRoot();
    auto rel = abs.lexically_relative(root);
    if (!rel.empty() && *rel.begin() != ".." && rel.begin()->string().rfind("drive_", 0) == 0 &&
        rel.begin()->string().size() == 7) {
        wchar_t drive = UpperChar(static_cast<wchar_t>(rel.begin()->string()[6]));
        std::wstring out;
        out.push_back(drive);
        out += L":";
        auto it = rel.begin();
        ++it;
        bool any = false;
        for (; it != rel.end(); ++it) {
            if (it->empty() || *it == ".") continue;
            out += L"\\" + WideFromUtf8(it->string());
            any = true;
        }
        return any ? out : out + L"\\";
    }
    std::wstring out = L"Z:";
    bool any = false;
    for (const auto& part : abs) {
        std::string s = part.string();
        if (s == "/" || s.empty()) continue;
        out += L"\\" + WideFromUtf8(s);
        any = true;
    }
    return any ? out : out + L"\\";
}

std::wstring FromExternalPath(std::wstring_view path) {
    if (!path.empty() && path[0] == L'/' && !(path.size() > 1 && path[1] == L'/')) return GetFullPathName(path);
    return std::wstring(path);
}

std::wstring GetCurrentDirectory() {
    std::lock_guard lock(g_cwdMutex);
    return CurrentDirectoryLocked();
}

bool SetCurrentDirectory(std::wstring_view path) {
    std::wstring full = GetFullPathName(path);
    if (full.empty()) return false;
    fs::path host;
    if (!ToHostPath(full, host)) return false;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    std::lock_guard lock(g_cwdMutex);
    g_cwd = full;
    return true;
}

}  // namespace platform
