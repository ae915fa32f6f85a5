// Processes: starting programs with Windows command lines, waiting, exit codes, enumeration.
//
// What runs: a host executable or a "#!" script runs directly (no execute bit needed, as on
// Windows); a PE executable runs through `wine` when it is on PATH, otherwise the start fails
// with ERROR_BAD_EXE_FORMAT (193); "cmd.exe /c ..." runs the command text with /bin/sh -c after
// turning the Windows paths in it into host paths; a document runs through its HKCR association
// ("<ext>" -> ProgID -> "shell\open\command"), see ShellExecute.
//
// Full exit codes: POSIX keeps 8 bits. Every child gets VELMO_EXIT_CODE_FILE, a file to write its
// full 32-bit exit code into as decimal text. The platform takes that code when the child's real
// exit status equals its low 8 bits, else the real status. ExitProcess() of our own binaries does
// this; a script does `echo 3010 > "$VELMO_EXIT_CODE_FILE"; exit 194`.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace platform {

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

// The process's own command line and argument rules.
// Remembers argv of this process; call first thing in main. argv[0] becomes the Windows form of
// the executable's path.
void InitProcess(int argc, char** argv);
// The full Windows command line of this process, rebuilt from argv by quoting each argument with
// the inverse of the standard splitting rules.
std::wstring GetCommandLine();
// The standard Windows splitting rules (CommandLineToArgvW): blanks separate, quotes group,
// backslashes escape quotes only before a quote.
std::vector<std::wstring> CommandLineToArgv(std::wstring_view commandLine);
// Quotes one argument so that CommandLineToArgv gives it back unchanged ("" for an empty one).
std::wstring QuoteArgument(std::wstring_view argument);
std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments);

struct StartOptions {
    bool hidden = true;              // recorded only: the host has no console windows to hide
    std::wstring currentDirectory;   // Windows path; empty keeps ours
};

// A started process. Move-only; closing the handle does not end the process.
class Process {
public:
    Process() = default;
    ~Process();
    Process(Process&&) noexcept;
    Process& operator=(Process&&) noexcept;

    bool IsValid() const { return state_ != nullptr; }
    DWORD Id() const;
    // WAIT_OBJECT_0 when it has ended, WAIT_TIMEOUT after timeoutMs (INFINITE waits forever).
    DWORD Wait(DWORD timeoutMs);
    // The full exit code, or STILL_ACTIVE while it runs.
    DWORD ExitCode();
    bool Terminate(DWORD exitCode);
    void Close();

    struct State;

private:
    explicit Process(std::shared_ptr<State> state) : state_(std::move(state)) {}
    friend bool CreateProcess(std::wstring_view, std::wstring_view, const StartOptions&, Process&);
    friend bool OpenProcess(DWORD, Process&);
    std::shared_ptr<State> state_;
};

// Starts `application` (may be empty: the first token of the command line names it) with the
// full Windows command line `commandLine` (whose first token is the program, as on Windows).
bool CreateProcess(std::wstring_view application, std::wstring_view commandLine, const StartOptions& options,
                   Process& process);

// ShellExecuteEx: `file` is a program (run with `parameters`) or a document (run through its HKCR
// association, %1 replaced by the document). Verb "open" or empty. When `process` is null the
// call does not wait and the handle is dropped. ERROR_NO_ASSOCIATION for a document without one.
bool ShellExecute(std::wstring_view verb, std::wstring_view file, std::wstring_view parameters,
                  const StartOptions& options, Process* process);

// Opens a document or link for the user: recorded in <prefix>/shell-open.log; with a display in
// an interactive run also handed to xdg-open. Never opens anything in a test or a silent run.
bool ShellOpen(std::wstring_view target);

// Ends this process with a full 32-bit exit code, reporting it through the exit-code channel.
[[noreturn]] void ExitProcess(DWORD exitCode);
// Reports the code through the channel without exiting (for a return from main).
void ReportExitCode(DWORD exitCode);

// One entry of the process list (from /proc).
struct ProcessEntry {
    DWORD processId = 0;
    DWORD parentProcessId = 0;
    DWORD threadCount = 0;
    std::wstring imagePath;   // Windows form; for a script run by an interpreter, the script
    std::wstring exeName;     // base name of imagePath (the first module's name)
};
bool EnumProcesses(std::vector<ProcessEntry>& entries);
// Opens a process by id for Terminate or Wait (not ExitCode: only children report codes).
bool OpenProcess(DWORD processId, Process& process);
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();

// A reboot request never reboots the host: it is appended to <prefix>/reboot-requests.log.
bool RequestReboot(std::wstring_view reason);

}  // namespace platform
