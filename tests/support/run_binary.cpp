#include "support/run_binary.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

extern char** environ;

namespace velmo_test {

BinaryRun RunBinary(const std::filesystem::path& binary, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env) {
    BinaryRun run;
    char codeTemplate[] = "/tmp/velmo-exitcode-XXXXXX";
    int codeFd = ::mkstemp(codeTemplate);
    if (codeFd >= 0) ::close(codeFd);
    ::unlink(codeTemplate);

    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    all["VELMO_EXIT_CODE_FILE"] = codeTemplate;
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{binary.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return run;
    }
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) run.output.append(buf, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.fullExitCode = run.status;
    std::ifstream code(codeTemplate);
    long long full = 0;
    if (code >> full && (full & 0xFF) == run.status) run.fullExitCode = full;
    ::unlink(codeTemplate);
    return run;
}

}  // namespace velmo_test
