// The shell's side of starting things: ShellExecute with HKCR associations, ShellOpen, reboot
// requests.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/environment.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/process_internal.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Appends one line to a log in the prefix, in one write call so that concurrent writers never mix.
bool AppendLine(const char* fileName, std::wstring_view line) {
    fs::path file = MachineFile(fileName);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::string text = Utf8FromWide(line) + "\n";
    ssize_t written = ::write(fd, text.data(), text.size());
    int err = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(text.size())) {
        SetLastErrorFromErrno(written < 0 ? err : ENOSPC);
        return false;
    }
    return true;
}

std::wstring_view LastComponent(std::wstring_view path) {
    std::size_t pos = path.find_last_of(L"\\/");
    return pos == std::wstring_view::npos ? path : path.substr(pos + 1);
}

std::wstring Extension(std::wstring_view path) {
    std::wstring_view base = LastComponent(path);
    std::size_t dot = base.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring() : std::wstring(base.substr(dot));
}

bool IsProgramExtension(const std::wstring& ext) {
    for (const wchar_t* e : {L"", L".exe", L".com", L".bat", L".cmd"}) {
        if (EqualsNoCase(ext, e)) return true;
    }
    return false;
}

// "http:", "mailto:" ... (a one-letter scheme is a drive letter).
bool HasUrlScheme(std::wstring_view file) {
    std::size_t colon = file.find(L':');
    if (colon == std::wstring_view::npos || colon < 2) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        wchar_t c = file[i];
        bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                  (i > 0 && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'));
        if (!ok) return false;
    }
    return true;
}

// The default value of HKCR\<key>, expanded when it is REG_EXPAND_SZ.
bool ClassesString(const std::wstring& key, std::wstring& value) {
    RegKey k;
    if (RegKey::Open(Hive::ClassesRoot, key, KEY_READ, k) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    std::string data;
    if (k.QueryValue(L"", type, data) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    value = WideFromUtf16Le(data);
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    if (type == REG_EXPAND_SZ) value = ExpandEnvironmentStrings(value);
    return !value.empty();
}

// The open command of a class: "<class>\shell\<verb>\command".
bool ClassCommand(const std::wstring& cls, const std::wstring& verb, std::wstring& command) {
    return ClassesString(cls + L"\\shell\\" + verb + L"\\command", command);
}

// Fills the placeholders of an association's command: %1 and %L are the document (quoted when it
// has blanks and the command did not quote it), %* the parameters, %2..%9 nothing. A command
// without %1 gets the quoted document appended, as the shell does.
std::wstring FillCommand(std::wstring_view command, const std::wstring& document, std::wstring_view parameters) {
    std::wstring out;
    bool usedDocument = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        wchar_t c = command[i];
        if (c != L'%' || i + 1 >= command.size()) {
            out.push_back(c);
            continue;
        }
        wchar_t next = command[i + 1];
        if (next == L'1' || next == L'l' || next == L'L') {
            bool quotedAlready = i > 0 && command[i - 1] == L'"';
            bool needsQuotes = !quotedAlready && document.find_first_of(L" \t") != std::wstring::npos;
            out += needsQuotes ? L"\"" + document + L"\"" : document;
            usedDocument = true;
            ++i;
        } else if (next == L'*') {
            out += parameters;
            ++i;
        } else if (next >= L'2' && next <= L'9') {
            ++i;
        } else if (next == L'%') {
            out.push_back(L'%');
            ++i;
        } else {
            out.push_back(c);
        }
    }
    if (!usedDocument) out += L" \"" + document + L"\"";
    return out;
}

bool RunCommandLine(const std::wstring& commandLine, const StartOptions& options, Process* process) {
    Process local;
    Process& target = process ? *process : local;
    // A dropped handle does not wait: closing it leaves the child to the background reaper.
    return CreateProcess(L"", commandLine, options, target);
}

std::wstring QuoteProgramToken(std::wstring_view file) {
    if (file.find_first_of(L" \t") == std::wstring_view::npos && !file.empty()) return std::wstring(file);
    return L"\"" + std::wstring(file) + L"\"";
}

}  // namespace

bool ShellExecute(std::wstring_view verb, std::wstring_view file, std::wstring_view parameters,
                  const StartOptions& options, Process* process) {
    if (file.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // There is no elevation on the host: "runas" starts the program like "open".
    std::wstring action = verb.empty() || EqualsNoCase(verb, L"runas") ? L"open" : std::wstring(verb);

    if (HasUrlScheme(file)) {
        std::wstring scheme(file.substr(0, file.find(L':')));
        std::wstring command;
        if (!ClassCommand(scheme, action, command)) {
            SetLastError(ERROR_NO_ASSOCIATION);
            return false;
        }
        return RunCommandLine(FillCommand(command, std::wstring(file), parameters), options, process);
    }

    std::wstring ext = Extension(file);
    if (IsProgramExtension(ext)) {
        if (!EqualsNoCase(action, L"open")) {
            SetLastError(ERROR_NO_ASSOCIATION);
            return false;
        }
        std::wstring commandLine = QuoteProgramToken(file);
        if (!parameters.empty()) commandLine += L" " + std::wstring(parameters);
        return RunCommandLine(commandLine, options, process);
    }

    // A document: it must exist, then its class says how it opens.
    std::wstring document = GetFullPathName(file);
    fs::path host;
    struct stat st;
    if (document.empty() || !ToHostPath(document, host) || ::stat(host.c_str(), &st) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::wstring command;
    std::wstring progId;
    bool found = (ClassesString(ext, progId) && ClassCommand(progId, action, command)) ||
                 ClassCommand(ext, action, command);
    if (!found) {
        SetLastError(ERROR_NO_ASSOCIATION);
        return false;
    }
    return RunCommandLine(FillCommand(command, document, parameters), options, process);
}

bool ShellOpen(std::wstring_view target) {
    if (!AppendLine("shell-open.log", target)) return false;
    const char* display = std::getenv("DISPLAY");
    const char* interactive = std::getenv("VELMO_INTERACTIVE");
    if (!display || !*display || !interactive || std::strcmp(interactive, "1") != 0) return true;
    std::string opener = process_detail::FindOnHostPath("xdg-open");
    if (opener.empty()) return true;
    // A Windows path opens as its host file; links and other text go as they are.
    std::wstring what(target);
    if (what.size() >= 3 && what[1] == L':' && (what[2] == L'\\' || what[2] == L'/')) {
        fs::path host;
        if (ToHostPath(what, host)) what = WideFromUtf8(host.string());
    }
    // The request is recorded either way; a failing opener does not make it fail.
    RunCommandLine(BuildCommandLine({WideFromUtf8(opener), what}), StartOptions{}, nullptr);
    return true;
}

bool RequestReboot(std::wstring_view reason) {
    return AppendLine("reboot-requests.log", reason.empty() ? std::wstring_view(L"(no reason given)") : reason);
}

}  // namespace platform
