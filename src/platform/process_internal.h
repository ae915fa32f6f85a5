// Pieces shared by the process files of the platform layer (not part of its interface).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace platform {

// One started or opened process. A child is reaped by whoever sees it end first (a Wait, an
// ExitCode or the background reaper after Close); its full code is taken then.
struct Process::State {
    pid_t pid = -1;
    int pidfd = -1;        // -1 when the kernel has no pidfds: waits fall back to polling
    bool child = true;     // false for OpenProcess: no exit status, only "has ended"
    std::filesystem::path exitFile;  // the child's VELMO_EXIT_CODE_FILE, removed after reaping

    std::mutex mutex;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    std::optional<DWORD> terminateCode;

    ~State();
};

namespace process_detail {

// How a resolved program is started on the host: execve(path, argv).
struct LaunchPlan {
    std::string path;
    std::vector<std::string> argv;
};

// Finds the host file of a program name or path: a name without a folder is looked up in
// `currentDirectory` (Windows form), then C:\Windows\System32, then the host PATH; a name
// without an extension also tries ".exe". False with the last error set when nothing is found.
bool ResolveProgram(std::wstring_view program, const std::wstring& currentDirectory, std::filesystem::path& host);

// Decides how a host file runs (directly, through its "#!" interpreter, /bin/sh, or wine) and
// appends `arguments` after it. False with ERROR_BAD_EXE_FORMAT for a PE without wine or a binary
// the host cannot run, ERROR_ACCESS_DENIED for a folder.
bool PlanFile(const std::filesystem::path& host, const std::vector<std::string>& arguments, LaunchPlan& plan);

// True when the program token names the command interpreter ("cmd.exe" or "cmd", any case,
// any folder).
bool IsCommandInterpreter(std::wstring_view program);

// The command text of "cmd.exe [/switches] /c <text>" after cmd's quotation-mark rule; false
// (ERROR_INVALID_PARAMETER) when there is no /c or /k.
bool CommandInterpreterText(std::wstring_view commandLine, std::wstring& text);

// Turns cmd text into /bin/sh text: expands %VARIABLES% of the Windows environment, maps every
// drive-letter path (quoted or bare) to its host path and starts files in command position as
// the process layer would (interpreter for a script without execute bit, wine for PE).
// `currentDirectory` is the child's directory in Windows form.
std::string ShellTextFromCommandText(std::wstring_view text, const std::wstring& currentDirectory);

// The full path of a program on the host PATH, empty when none.
std::string FindOnHostPath(const std::string& name);

}  // namespace process_detail
}  // namespace platform
