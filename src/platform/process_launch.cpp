// What a Windows program name turns into on the host: which file, and how it runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/process_internal.h"
#include "platform/text.h"

namespace platform::process_detail {
namespace {

namespace fs = std::filesystem;

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
bool IsAsciiAlpha(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring_view BaseName(std::wstring_view path) {
    std::size_t pos = path.find_last_of(L"\\/");
    return pos == std::wstring_view::npos ? path : path.substr(pos + 1);
}

bool HasFolder(std::wstring_view program) {
    return program.find_first_of(L"\\/") != std::wstring_view::npos ||
           (program.size() >= 2 && program[1] == L':');
}

bool HasExtension(std::wstring_view program) { return BaseName(program).find(L'.') != std::wstring_view::npos; }

bool IsRegularFile(const fs::path& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FindWindowsFile(const std::wstring& windowsPath, fs::path& host) {
    fs::path candidate;
    if (!ToHostPath(windowsPath, candidate)) return false;
    if (!IsRegularFile(candidate)) return false;
    host = std::move(candidate);
    return true;
}

// Characters a bare word can hold in sh without quoting.
bool IsShellSafe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("_./:@%+=,-", c) != nullptr;
}

std::string ShellQuote(const std::string& word) {
    bool safe = !word.empty();
    for (char c : word) safe = safe && IsShellSafe(c);
    if (safe) return word;
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

// Inside sh double quotes only $ ` " \ are special.
std::string EscapeForDoubleQuotes(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '$' || c == '`' || c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The host form of a drive-letter path, keeping a trailing separator.
std::string HostFormOfWindowsPath(std::wstring_view path) {
    fs::path host;
    if (!ToHostPath(path, host)) return Utf8FromWide(path);
    std::string out = host.string();
    if (!path.empty() && IsSep(path.back()) && (out.empty() || out.back() != '/')) out.push_back('/');
    return out;
}

bool IsPathStart(std::wstring_view text, std::size_t i) {
    return i + 2 < text.size() && IsAsciiAlpha(text[i]) && text[i + 1] == L':' && IsSep(text[i + 2]);
}

// A bare path may begin after these (or at the start of the text).
bool IsPathBoundary(wchar_t c) { return IsBlank(c) || std::wcschr(L"=(<>|&;,'\n", c) != nullptr; }

// Ends a bare word in sh.
bool IsWordEnd(wchar_t c) { return IsBlank(c) || c == L'\n' || std::wcschr(L";|&<>()\"'", c) != nullptr; }

// The prefix that starts `host` as the process layer would; empty when sh can run it as it is.
std::string LauncherFor(const fs::path& host, bool& runnable) {
    runnable = true;
    LaunchPlan plan;
    if (!PlanFile(host, {}, plan)) {
        runnable = false;
        return {};
    }
    // PlanFile puts the file itself last; everything before it is the launcher.
    std::string prefix;
    for (std::size_t i = 0; i + 1 < plan.argv.size(); ++i) prefix += ShellQuote(plan.argv[i]) + " ";
    return prefix;
}

}  // namespace

std::string FindOnHostPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) dir = ".";
        fs::path candidate = fs::path(dir) / name;
        if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

bool ResolveProgram(std::wstring_view program, const std::wstring& currentDirectory, fs::path& host) {
    if (program.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::vector<std::wstring> names{std::wstring(program)};
    if (!HasExtension(program)) names.push_back(std::wstring(program) + L".exe");

    if (HasFolder(program)) {
        for (const auto& name : names) {
            std::wstring full = name;
            // A relative path with a folder is relative to the child's directory.
            if (!(name.size() >= 2 && name[1] == L':') && !IsSep(name[0])) full = currentDirectory + L"\\" + name;
            if (FindWindowsFile(full, host)) return true;
        }
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    for (const std::wstring& dir : {currentDirectory, std::wstring(L"C:\\Windows\\System32")}) {
        if (dir.empty()) continue;
        for (const auto& name : names) {
            if (FindWindowsFile(dir + L"\\" + name, host)) return true;
        }
    }
    std::string found = FindOnHostPath(Utf8FromWide(program));
    if (!found.empty()) {
        host = found;
        return true;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

bool PlanFile(const fs::path& host, const std::vector<std::string>& arguments, LaunchPlan& plan) {
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    char head[512];
    ssize_t got = 0;
    {
        int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        got = ::read(fd, head, sizeof head);
        ::close(fd);
        if (got < 0) got = 0;
    }
    std::string_view bytes(head, static_cast<std::size_t>(got));
    const std::string file = host.string();
    const bool executable = (st.st_mode & S_IXUSR) != 0 && ::access(host.c_str(), X_OK) == 0;
    plan = {};

    if (bytes.substr(0, 2) == "MZ") {
        std::string wine = FindOnHostPath("wine");
        if (wine.empty()) {
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return false;
        }
        plan.path = wine;
        plan.argv = {wine, file};
    } else if (bytes.substr(0, 4) == "\x7f" "ELF") {
        if (!executable) {
            // Windows needs no execute bit; give the file the bits its read bits allow.
            mode_t mode = st.st_mode | ((st.st_mode & 0444) >> 2);
            if (::chmod(host.c_str(), mode & 07777) != 0) {
                SetLastErrorFromErrno(errno);
                return false;
            }
        }
        plan.path = file;
        plan.argv = {file};
    } else if (bytes.substr(0, 2) == "#!" && executable) {
        plan.path = file;
        plan.argv = {file};
    } else if (bytes.substr(0, 2) == "#!") {
        // The kernel's rule: the interpreter, then the rest of the line as one optional argument.
        std::string_view line = bytes.substr(2);
        line = line.substr(0, line.find('\n'));
        auto trim = [](std::string_view s) {
            while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
            while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
            return s;
        };
        line = trim(line);
        std::size_t blank = line.find_first_of(" \t");
        std::string interpreter(line.substr(0, blank));
        if (interpreter.empty()) interpreter = "/bin/sh";
        plan.path = interpreter;
        plan.argv = {interpreter};
        if (blank != std::string_view::npos) {
            std::string_view extra = trim(line.substr(blank));
            if (!extra.empty()) plan.argv.emplace_back(extra);
        }
        plan.argv.push_back(file);
    } else if (bytes.find('\0') != std::string_view::npos) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return false;
    } else {
        // A text file without "#!" is a batch file: the command interpreter is /bin/sh.
        plan.path = "/bin/sh";
        plan.argv = {"/bin/sh", file};
    }
    plan.argv.insert(plan.argv.end(), arguments.begin(), arguments.end());
    return true;
}

bool IsCommandInterpreter(std::wstring_view program) {
    std::wstring_view base = BaseName(program);
    return EqualsNoCase(base, L"cmd.exe") || EqualsNoCase(base, L"cmd");
}

bool CommandInterpreterText(std::wstring_view line, std::wstring& text) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && IsBlank(line[i])) ++i;
    // The program token, by the first-token rule of the splitter.
    if (i < n && line[i] == L'"') {
        std::size_t close = line.find(L'"', i + 1);
        i = close == std::wstring_view::npos ? n : close + 1;
    } else {
        while (i < n && !IsBlank(line[i])) ++i;
    }
    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i + 1 >= n || line[i] != L'/') break;
        wchar_t sw = LowerChar(line[i + 1]);
        if (sw == L'c' || sw == L'k') {
            i += 2;
            while (i < n && IsBlank(line[i])) ++i;
            std::wstring rest(line.substr(i));
            if (!rest.empty() && rest.front() == L'"') {
                rest.erase(0, 1);
                std::size_t last = rest.rfind(L'"');
                if (last != std::wstring::npos) rest.erase(last, 1);
            }
            text = std::move(rest);
            return true;
        }
        while (i < n && !IsBlank(line[i])) ++i;  // another switch (/s, /q, /d, /e:on ...)
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

std::string ShellTextFromCommandText(std::wstring_view input, const std::wstring& currentDirectory) {
    const std::wstring text = ExpandEnvironmentStrings(input);
    const std::size_t n = text.size();
    std::string out;
    bool commandPosition = true;
    std::size_t i = 0;

    // Emits one word that names a host file; in command position it gets its launcher.
    auto emitFile = [&](const std::string& hostPath, bool quoted) {
        if (commandPosition && IsRegularFile(hostPath)) {
            bool runnable = true;
            out += LauncherFor(hostPath, runnable);
        }
        out += quoted ? "\"" + EscapeForDoubleQuotes(hostPath) + "\"" : ShellQuote(hostPath);
    };

    while (i < n) {
        wchar_t c = text[i];
        if (IsBlank(c)) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c == L';' || c == L'&' || c == L'|' || c == L'(' || c == L'\n') {
            out.push_back(static_cast<char>(c));
            ++i;
            commandPosition = true;
            continue;
        }
        if (c == L'"') {
            std::size_t close = text.find(L'"', i + 1);
            if (close == std::wstring::npos) close = n;
            std::wstring_view inner = std::wstring_view(text).substr(i + 1, close - i - 1);
            // A path may start anywhere in the quoted text after a boundary ("--log=C:\a b").
            std::size_t start = std::wstring_view::npos;
            for (std::size_t k = 0; k < inner.size(); ++k) {
                if (IsPathStart(inner, k) && (k == 0 || IsPathBoundary(inner[k - 1]))) {
                    start = k;
                    break;
                }
            }
            if (start == 0) {
                emitFile(HostFormOfWindowsPath(inner), true);
            } else if (start != std::wstring_view::npos) {
                out += "\"" + Utf8FromWide(inner.substr(0, start)) +
                       EscapeForDoubleQuotes(HostFormOfWindowsPath(inner.substr(start))) + "\"";
            } else {
                std::string word = Utf8FromWide(inner);
                fs::path host;
                if (commandPosition && (HasExtension(inner) || inner.find(L'\\') != std::wstring_view::npos) &&
                    FindWindowsFile(currentDirectory + L"\\" + std::wstring(inner), host)) {
                    emitFile(host.string(), true);
                } else {
                    out += "\"" + word + "\"";
                }
            }
            i = close < n ? close + 1 : n;
            commandPosition = false;
            continue;
        }
        if (c == L'\'') {
            // cmd has no single quotes; sh does, so such text passes through as written.
            std::size_t close = text.find(L'\'', i + 1);
            if (close == std::wstring::npos) close = n - 1;
            out += Utf8FromWide(std::wstring_view(text).substr(i, close - i + 1));
            i = close + 1;
            commandPosition = false;
            continue;
        }
        if (c == L'<' || c == L'>') {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        // A bare word.
        std::size_t end = i;
        while (end < n && !IsWordEnd(text[end])) ++end;
        std::wstring_view word = std::wstring_view(text).substr(i, end - i);
        bool atBoundary = i == 0 || IsPathBoundary(text[i - 1]);
        fs::path host;
        if (IsPathStart(word, 0) && atBoundary) {
            emitFile(HostFormOfWindowsPath(word), false);
        } else if (commandPosition && (HasExtension(word) || word.find(L'\\') != std::wstring_view::npos) &&
                   word.find(L'/') == std::wstring_view::npos && word.find(L'=') == std::wstring_view::npos &&
                   FindWindowsFile(currentDirectory + L"\\" + std::wstring(word), host)) {
            // cmd runs files of the current directory by name; sh needs their path.
            emitFile(host.string(), false);
        } else {
            // A path after a prefix inside a word ("--log=C:\x", "2>C:\x" is handled above).
            std::size_t k = 1;
            for (; k < word.size(); ++k) {
                if (IsPathStart(word, k) && IsPathBoundary(word[k - 1])) break;
            }
            if (k < word.size()) {
                out += Utf8FromWide(word.substr(0, k)) + ShellQuote(HostFormOfWindowsPath(word.substr(k)));
            } else {
                out += Utf8FromWide(word);
            }
        }
        i = end;
        commandPosition = false;
    }
    return out;
}

}  // namespace platform::process_detail
