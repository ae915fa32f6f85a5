// Starting children, waiting for them and their full exit codes.
//
// Children are started with posix_spawn (no fork of a threaded process), with only stdin, stdout
// and stderr inherited, default signal handling and an empty signal mask. A child is reaped by the
// first Wait or ExitCode that sees it end; a handle closed while the child runs hands it to a
// background thread that reaps it, so no zombie stays behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "platform/environment.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/process_internal.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace process_detail;

constexpr const char* kExitCodeVariable = "VELMO_EXIT_CODE_FILE";

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

// The full code a child wrote into its file, when it wrote one.
std::optional<DWORD> ReadExitCodeFile(const fs::path& file) {
    if (file.empty()) return std::nullopt;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[64];
    ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (got <= 0) return std::nullopt;
    buffer[got] = '\0';
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(buffer, &end, 10);
    if (errno != 0 || end == buffer) return std::nullopt;
    while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n') ++end;
    if (*end != '\0' || value < INT32_MIN || value > static_cast<long long>(UINT32_MAX)) return std::nullopt;
    return static_cast<DWORD>(value);
}

// Windows codes for the ways a host process dies of a signal.
DWORD CodeForSignal(int sig) {
    switch (sig) {
        case SIGSEGV:
        case SIGBUS: return 0xC0000005;  // STATUS_ACCESS_VIOLATION
        case SIGILL: return 0xC000001D;  // STATUS_ILLEGAL_INSTRUCTION
        case SIGFPE: return 0xC0000094;  // STATUS_INTEGER_DIVIDE_BY_ZERO
        case SIGABRT: return 3;          // what abort() returns on Windows
        default: return 128 + static_cast<DWORD>(sig);
    }
}

// The state letter of /proc/<pid>/stat ('R', 'S', 'Z' ...), 0 when it cannot be read.
char ProcessState(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[512];
    ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (got <= 0) return 0;
    std::string_view text(buffer, static_cast<std::size_t>(got));
    std::size_t close = text.rfind(')');
    if (close == std::string_view::npos || close + 2 >= text.size()) return 0;
    return text[close + 2];
}

// Takes the child's status if it has ended. Caller holds s.mutex.
bool TryReapLocked(Process::State& s) {
    if (s.ended) return true;
    if (!s.child) {
        bool gone = false;
        if (s.pidfd >= 0) {
            pollfd p{s.pidfd, POLLIN, 0};
            gone = ::poll(&p, 1, 0) > 0;
        } else {
            // Without pidfds: gone, or a zombie that only its parent can still reap.
            gone = ::kill(s.pid, 0) != 0 && errno == ESRCH;
            if (!gone) {
                char state = ProcessState(s.pid);
                gone = state == 'Z' || state == 'X';
            }
        }
        if (!gone) return false;
        s.ended = true;
        s.exitCode = s.terminateCode.value_or(0);
        return true;
    }
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(s.pid), &info, WEXITED | WNOHANG);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        // Someone else reaped it (a foreign waitpid(-1)); the status is lost.
        s.ended = true;
        s.exitCode = s.terminateCode.value_or(ERROR_INVALID_FUNCTION);
        return true;
    }
    if (info.si_pid == 0) return false;
    s.ended = true;
    if (info.si_code == CLD_EXITED) {
        DWORD status = static_cast<DWORD>(info.si_status) & 0xFF;
        std::optional<DWORD> full = ReadExitCodeFile(s.exitFile);
        // A code the child wrote counts only when its real status is that code's low 8 bits.
        s.exitCode = full && (*full & 0xFF) == status ? *full : status;
    } else {
        s.exitCode = s.terminateCode.value_or(CodeForSignal(info.si_status));
    }
    if (!s.exitFile.empty()) {
        ::unlink(s.exitFile.c_str());
        s.exitFile.clear();
    }
    return true;
}

DWORD WaitState(Process::State& s, DWORD timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
        {
            std::lock_guard lock(s.mutex);
            if (TryReapLocked(s)) return WAIT_OBJECT_0;
        }
        int remaining = -1;
        if (!forever) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return WAIT_TIMEOUT;
            remaining = static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        if (s.pidfd >= 0) {
            pollfd p{s.pidfd, POLLIN, 0};
            int rc = ::poll(&p, 1, remaining);
            if (rc < 0 && errno != EINTR) return WAIT_FAILED;
        } else {
            // No pidfds on this kernel: look again every few milliseconds.
            int step = remaining < 0 ? 10 : std::min(remaining, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(step));
        }
    }
}

fs::path NewExitCodeFile() {
    fs::path dir = MachineFile("run") / "exit";
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string tmpl = (dir / "XXXXXX").string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return {};
    ::close(fd);
    return fs::path(tmpl);
}

// The host environment, plus the Windows variables of the machine (which never replace a host
// variable of the same name: PATH, TEMP or HOME keep what host programs need), plus the channel.
std::vector<std::string> ChildEnvironment(const fs::path& exitFile) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        std::size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        vars.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    for (const auto& [name, value] : WindowsEnvironment()) {
        std::string key = Utf8FromWide(name);
        if (EqualsNoCase(name, L"PATH") || key.empty() || key.find('=') != std::string::npos) continue;
        vars.emplace(key, Utf8FromWide(value));
    }
    vars.erase(kExitCodeVariable);
    if (!exitFile.empty()) vars[kExitCodeVariable] = exitFile.string();
    std::vector<std::string> out;
    out.reserve(vars.size());
    for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

Process::State::~State() {
    if (pidfd >= 0) ::close(pidfd);
    if (!exitFile.empty()) ::unlink(exitFile.c_str());
}

Process::~Process() { Close(); }

Process::Process(Process&& other) noexcept : state_(std::move(other.state_)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Close();
        state_ = std::move(other.state_);
    }
    return *this;
}

DWORD Process::Id() const { return state_ ? static_cast<DWORD>(state_->pid) : 0; }

DWORD Process::Wait(DWORD timeoutMs) {
    if (!state_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return WaitState(*state_, timeoutMs);
}

DWORD Process::ExitCode() {
    if (!state_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return STILL_ACTIVE;
    }
    std::lock_guard lock(state_->mutex);
    if (!TryReapLocked(*state_)) return STILL_ACTIVE;
    return state_->exitCode;
}

bool Process::Terminate(DWORD exitCode) {
    if (!state_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        if (s.ended) {
            SetLastError(ERROR_ACCESS_DENIED);  // as TerminateProcess on a process that has ended
            return false;
        }
        int rc = -1;
#ifdef SYS_pidfd_send_signal
        if (s.pidfd >= 0) rc = static_cast<int>(::syscall(SYS_pidfd_send_signal, s.pidfd, SIGKILL, nullptr, 0));
#endif
        if (rc != 0) rc = ::kill(s.pid, SIGKILL);
        if (rc != 0 && errno != ESRCH) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        s.terminateCode = exitCode;
    }
    // SIGKILL cannot be refused: wait for it so that ExitCode reports the code right away.
    WaitState(s, s.child ? INFINITE : 5000);
    return true;
}

void Process::Close() {
    if (!state_) return;
    std::shared_ptr<State> state = std::move(state_);
    bool running;
    {
        std::lock_guard lock(state->mutex);
        running = state->child && !TryReapLocked(*state);
    }
    if (!running) return;
    try {
        std::thread([state] { WaitState(*state, INFINITE); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until this process ends.
    }
}

bool CreateProcess(std::wstring_view application, std::wstring_view commandLine, const StartOptions& options,
                   Process& process) {
    process.Close();
    std::vector<std::wstring> args = CommandLineToArgv(commandLine);
    std::wstring program = application.empty() ? (args.empty() ? std::wstring() : args[0]) : std::wstring(application);
    if (program.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }

    std::wstring directory = options.currentDirectory.empty() ? GetCurrentDirectory()
                                                               : GetFullPathName(options.currentDirectory);
    fs::path hostDirectory;
    struct stat st;
    if (directory.empty() || !ToHostPath(directory, hostDirectory) || ::stat(hostDirectory.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }

    LaunchPlan plan;
    if (IsCommandInterpreter(program)) {
        std::wstring text;
        std::wstring line = commandLine.empty() ? program : std::wstring(commandLine);
        if (!CommandInterpreterText(line, text)) return false;
        plan.path = "/bin/sh";
        plan.argv = {"/bin/sh", "-c", ShellTextFromCommandText(text, directory)};
    } else {
        fs::path host;
        if (!ResolveProgram(program, directory, host)) return false;
        std::vector<std::string> rest;
        for (std::size_t i = 1; i < args.size(); ++i) rest.push_back(Utf8FromWide(args[i]));
        if (!PlanFile(host, rest, plan)) return false;
    }

    auto state = std::make_shared<Process::State>();
    state->exitFile = NewExitCodeFile();
    std::vector<std::string> env = ChildEnvironment(state->exitFile);
    std::vector<char*> envp = CStrings(env);
    std::vector<char*> argv = CStrings(plan.argv);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addchdir_np(&actions, hostDirectory.c_str());
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attr, &mask);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, plan.path.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        SetLastErrorFromErrno(rc);
        return false;  // the state's destructor removes the exit-code file
    }
    state->pid = pid;
    state->pidfd = OpenPidfd(pid);
    process = Process(std::move(state));
    return true;
}

void ReportExitCode(DWORD exitCode) {
    const char* file = std::getenv(kExitCodeVariable);
    if (!file || !*file) return;
    int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char text[16];
    int len = std::snprintf(text, sizeof text, "%u\n", static_cast<unsigned>(exitCode));
    if (len > 0) {
        ssize_t written = ::write(fd, text, static_cast<std::size_t>(len));
        (void)written;
    }
    ::close(fd);
}

void ExitProcess(DWORD exitCode) {
    ReportExitCode(exitCode);
    std::fflush(nullptr);
    // Like Windows's ExitProcess, other threads are not joined and static objects are not torn
    // down under their feet.
    ::_exit(static_cast<int>(exitCode & 0xFF));
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::gettid()); }

}  // namespace platform
