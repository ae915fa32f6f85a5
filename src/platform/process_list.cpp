// The process list, from /proc, and opening foreign processes by id.
//
// The image of a process is its executable, except for a script run by an interpreter (a shell,
// python, perl ...): then it is the script, so that a script fixture named like a Windows program
// is listed under that name. A process whose executable cannot be read (another user's, a kernel
// thread) has an empty image path and its kernel name as exeName.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/paths.h"
#include "platform/process_internal.h"
#include "platform/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string ReadLink(const std::string& path) {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0) return {};
    buffer.resize(static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (buffer.size() > kDeleted.size() && buffer.ends_with(kDeleted)) buffer.resize(buffer.size() - kDeleted.size());
    return buffer;
}

bool IsInterpreter(std::string_view base) {
    for (std::string_view name : {"sh", "bash", "dash", "zsh", "ksh", "mksh", "busybox", "perl", "ruby", "node",
                                  "tclsh", "php", "lua"}) {
        if (base == name) return true;
    }
    // python, python3, python3.11 ...; perl5.36 ...
    return base.starts_with("python") || base.starts_with("perl");
}

// The script an interpreter runs: its first argument that is not an option, when it names an
// existing file (relative names against the process's own directory).
std::string ScriptOf(const std::string& procDir) {
    std::string cmdline = ReadSmallFile(procDir + "/cmdline");
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start < cmdline.size()) {
        std::size_t end = cmdline.find('\0', start);
        if (end == std::string::npos) end = cmdline.size();
        args.push_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i].empty()) return {};
        if (args[i][0] == '-') {
            if (args[i] == "-c" || args[i] == "-m" || args[i] == "-e") return {};  // inline code, no script
            continue;
        }
        fs::path script(args[i]);
        if (script.is_relative()) {
            std::string cwd = ReadLink(procDir + "/cwd");
            if (cwd.empty()) return {};
            script = fs::path(cwd) / script;
        }
        struct stat st;
        if (::stat(script.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return script.lexically_normal().string();
        return {};
    }
    return {};
}

bool ReadStat(const std::string& procDir, DWORD& parent, DWORD& threads, std::string& comm) {
    std::string stat = ReadSmallFile(procDir + "/stat");
    std::size_t open = stat.find('(');
    std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    comm = stat.substr(open + 1, close - open - 1);
    std::istringstream fields(stat.substr(close + 1));
    std::vector<std::string> f;
    std::string field;
    while (fields >> field) f.push_back(field);
    // Fields after the name: state (3), ppid (4) ... num_threads (20).
    if (f.size() < 18) return false;
    parent = static_cast<DWORD>(std::strtoul(f[1].c_str(), nullptr, 10));
    threads = static_cast<DWORD>(std::strtoul(f[17].c_str(), nullptr, 10));
    return true;
}

}  // namespace

bool EnumProcesses(std::vector<ProcessEntry>& entries) {
    entries.clear();
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    while (dirent* e = ::readdir(proc)) {
        std::string_view name = e->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos) continue;
        std::string dir = "/proc/" + std::string(name);
        ProcessEntry entry;
        entry.processId = static_cast<DWORD>(std::strtoul(e->d_name, nullptr, 10));
        std::string comm;
        if (!ReadStat(dir, entry.parentProcessId, entry.threadCount, comm)) continue;  // ended meanwhile
        std::string exe = ReadLink(dir + "/exe");
        if (!exe.empty()) {
            if (IsInterpreter(fs::path(exe).filename().string())) {
                std::string script = ScriptOf(dir);
                if (!script.empty()) exe = script;
            }
            entry.imagePath = WindowsPathFromHost(fs::path(exe));
            std::size_t slash = entry.imagePath.find_last_of(L'\\');
            entry.exeName = slash == std::wstring::npos ? entry.imagePath : entry.imagePath.substr(slash + 1);
        } else {
            entry.exeName = WideFromUtf8(comm);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(proc);
    return true;
}

bool OpenProcess(DWORD processId, Process& process) {
    process.Close();
    struct stat st;
    std::string dir = "/proc/" + std::to_string(processId);
    if (processId == 0 || ::stat(dir.c_str(), &st) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // what OpenProcess says for an id that names nothing
        return false;
    }
    auto state = std::make_shared<Process::State>();
    state->pid = static_cast<pid_t>(processId);
    state->child = false;
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, state->pid, 0);
    if (fd >= 0) state->pidfd = static_cast<int>(fd);
#endif
    process = Process(std::move(state));
    return true;
}

}  // namespace platform
