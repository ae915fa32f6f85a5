#include "platform/process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/version_info.h"
#include "support/temp_machine.h"

namespace {

namespace fs = std::filesystem;
using platform::DWORD;

// ---- Command lines ------------------------------------------------------------------------

struct SplitCase {
    std::wstring line;
    std::vector<std::wstring> args;
};

TEST(CommandLineTest, SplitsWithTheWindowsRules) {
    const SplitCase cases[] = {
        {L"prog a b", {L"prog", L"a", L"b"}},
        {L"  prog\ta  ", {L"prog", L"a"}},
        {L"", {}},
        {L"\"C:\\Program Files\\x.exe\" /s", {L"C:\\Program Files\\x.exe", L"/s"}},
        // The program token: backslashes are plain, the closing mark ends it.
        {L"\"C:\\dir\\\" x", {L"C:\\dir\\", L"x"}},
        {L"C:\\a\\\"b c", {L"C:\\a\\\"b", L"c"}},
        {L"p \"a b\" c", {L"p", L"a b", L"c"}},
        {L"p a\\\\b", {L"p", L"a\\\\b"}},               // backslashes not before a mark are literal
        {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},           // 2n+1 backslashes + mark: n and a literal mark
        {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},         // 2n backslashes + mark: n, and the mark quotes
        {L"p \"a\"\"b\"", {L"p", L"a\"b"}},             // "" inside quotes is a literal mark
        {L"p \"a\"\"\"\"b\"", {L"p", L"a\"\"b"}},     // ... and quoting goes on after it
        {L"p \"\" \"\"", {L"p", L"", L""}},
        {L"p a\"\"b", {L"p", L"ab"}},
        {L"p {\"a\":\"b c\"}", {L"p", L"{a:b c}"}},
        {L"p \"unclosed arg", {L"p", L"unclosed arg"}},
        {L"p trailing\\", {L"p", L"trailing\\"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::CommandLineToArgv(c.line), c.args) << platform::Utf8FromWide(c.line);
    }
}

TEST(CommandLineTest, BuildCommandLineIsTheExactInverseOfSplitting) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"VelmoInstaller.exe", L"/install", L"{\"a\":\"b c\"}"},
        {L"prog", L""},
        {L"prog", L"", L"x", L""},
        {L"C:\\Program Files (x86)\\Velmo\\VelmoInstaller.exe", L"/uninstall", L""},
        {L"C:\\dir with blank\\", L"C:\\target dir\\", L"C:\\plain\\"},
        {L"prog", L"a\\\"b", L"\\\\\"", L"\"", L"\\", L"x\\\\"},
        {L"prog", L"tab\there", L"new\nline", L"  lead", L"trail  "},
        {L"prog", L"\"\"", L"a\"\"b", L"\\\\server\\share\\"},
        {L"", L"empty program"},
    };
    for (const auto& args : cases) {
        std::wstring line = platform::BuildCommandLine(args);
        EXPECT_EQ(platform::CommandLineToArgv(line), args) << platform::Utf8FromWide(line);
    }
}

TEST(CommandLineTest, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(platform::QuoteArgument(L"/install"), L"/install");
    EXPECT_EQ(platform::QuoteArgument(L"C:\\a\\b"), L"C:\\a\\b");
    EXPECT_EQ(platform::QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(platform::QuoteArgument(L"a b\\"), L"\"a b\\\\\"");
    EXPECT_EQ(platform::QuoteArgument(L"{\"a\":\"b c\"}"), L"\"{\\\"a\\\":\\\"b c\\\"}\"");
}

class ProcessCommandLineTest : public velmo_test::MachineTest {};

TEST_F(ProcessCommandLineTest, OwnCommandLineStartsWithTheModulePathAndKeepsTheArguments) {
    std::string arg0 = "whatever-the-caller-typed", a1 = "/install", a2 = "{\"a\":\"b c\"}", a3;
    char* argv[] = {arg0.data(), a1.data(), a2.data(), a3.data()};
    platform::InitProcess(4, argv);
    std::wstring module = platform::WindowsPathFromHost(fs::read_symlink("/proc/self/exe"));
    std::vector<std::wstring> expected{module, L"/install", L"{\"a\":\"b c\"}", L""};
    EXPECT_EQ(platform::CommandLineToArgv(platform::GetCommandLine()), expected);
}

// ---- Starting programs --------------------------------------------------------------------

constexpr DWORD kGenerousMs = 60000;  // a safety net against a hung child, not a speed check

class ProcessTest : public velmo_test::MachineTest {
protected:
    // Writes a file at a Windows path of the machine, without execute bit unless asked.
    fs::path Put(const std::wstring& windowsPath, const std::string& content, bool executable = false) {
        fs::path host = machine_.Host(windowsPath);
        fs::create_directories(host.parent_path());
        {
            std::ofstream out(host, std::ios::binary | std::ios::trunc);
            out << content;
        }
        fs::permissions(host, executable ? fs::perms(0755) : fs::perms(0644));
        return host;
    }

    std::string Read(const std::wstring& windowsPath) {
        std::ifstream in(machine_.Host(windowsPath), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Starts and waits; the full exit code, or a failure of the test.
    DWORD Run(const std::wstring& commandLine, const platform::StartOptions& options = {}) {
        platform::Process p;
        EXPECT_TRUE(platform::CreateProcess(L"", commandLine, options, p))
            << platform::Utf8FromWide(commandLine) << " error " << platform::GetLastError();
        if (!p.IsValid()) return 0xDEADBEEF;
        EXPECT_EQ(p.Wait(kGenerousMs), platform::WAIT_OBJECT_0);
        return p.ExitCode();
    }
};

struct ExitCase {
    const char* body;
    DWORD expected;
};

TEST_F(ProcessTest, FullExitCodeTravelsThroughTheChannelOnlyWhenTheLowBitsMatch) {
    const ExitCase cases[] = {
        {"echo 3010 > \"$VELMO_EXIT_CODE_FILE\"; exit 194", 3010},
        {"echo 1641 > \"$VELMO_EXIT_CODE_FILE\"; exit 105", 1641},
        {"echo -1 > \"$VELMO_EXIT_CODE_FILE\"; exit 255", 0xFFFFFFFF},
        {"echo 4294967295 > \"$VELMO_EXIT_CODE_FILE\"; exit 255", 0xFFFFFFFF},
        {"exit 194", 194},
        {"echo 3010 > \"$VELMO_EXIT_CODE_FILE\"; exit 0", 0},   // unmatched: the real status wins
        {"echo 3010 > \"$VELMO_EXIT_CODE_FILE\"; exit 193", 193},
        {"echo garbage > \"$VELMO_EXIT_CODE_FILE\"; exit 5", 5},
        {"exit 0", 0},
    };
    for (const auto& c : cases) {
        Put(L"C:\\Setup\\child.bat", std::string("#!/bin/sh\n") + c.body + "\n");
        EXPECT_EQ(Run(L"C:\\Setup\\child.bat"), c.expected) << c.body;
    }
}

TEST_F(ProcessTest, EachChildGetsAFreshChannelSoAStaleCodeIsIgnored) {
    // A code left in the channel this process itself was given must not reach our child's result.
    fs::path stale = machine_.root() / "stale-code";
    std::ofstream(stale) << "3010\n";
    ::setenv("VELMO_EXIT_CODE_FILE", stale.c_str(), 1);
    Put(L"C:\\Setup\\report.bat", "#!/bin/sh\necho \"$VELMO_EXIT_CODE_FILE\" > \"$VELMO_MACHINE/$1\"\nexit 194\n");
    DWORD first = Run(L"C:\\Setup\\report.bat first.txt");
    DWORD second = Run(L"C:\\Setup\\report.bat second.txt");
    ::unsetenv("VELMO_EXIT_CODE_FILE");
    EXPECT_EQ(first, 194u);
    EXPECT_EQ(second, 194u);
    auto channelOf = [&](const char* name) {
        std::ifstream in(machine_.root() / name);
        std::string line;
        std::getline(in, line);
        return line;
    };
    std::string firstFile = channelOf("first.txt"), secondFile = channelOf("second.txt");
    ASSERT_FALSE(firstFile.empty());
    EXPECT_NE(firstFile, secondFile);
    EXPECT_EQ(firstFile.find(stale.string()), std::string::npos);
    // The channel of an ended child is cleaned up.
    EXPECT_FALSE(fs::exists(firstFile));
}

TEST_F(ProcessTest, ReportExitCodeAndExitProcessWriteTheFullCode) {
    fs::path file = machine_.root() / "code";
    ::setenv("VELMO_EXIT_CODE_FILE", file.c_str(), 1);
    platform::ReportExitCode(1638);
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "1638");
    EXPECT_EXIT(platform::ExitProcess(6016), ::testing::ExitedWithCode(128), "");
    std::ifstream again(file);
    std::getline(again, text);
    EXPECT_EQ(text, "6016");
    ::unsetenv("VELMO_EXIT_CODE_FILE");
}

TEST_F(ProcessTest, ArgumentsDirectoryAndEnvironmentReachTheChild) {
    Put(L"C:\\Tools\\args.bat",
        "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > args.txt\n"
        "pwd > pwd.txt\nprintf '%s\\n' \"$PATH\" \"$VELMO_MACHINE\" \"$ProgramData\" > env.txt\n");
    fs::create_directories(machine_.Host(L"C:\\Work"));
    platform::StartOptions options;
    options.currentDirectory = L"C:\\Work";
    EXPECT_EQ(Run(L"C:\\Tools\\args.bat /install \"{\\\"a\\\":\\\"b c\\\"}\" \"\" C:\\x\\", options), 0u);
    EXPECT_EQ(Read(L"C:\\Work\\args.txt"), "[/install]\n[{\"a\":\"b c\"}]\n[]\n[C:\\x\\]\n");
    EXPECT_EQ(Read(L"C:\\Work\\pwd.txt"), machine_.Host(L"C:\\Work").string() + "\n");
    std::map<std::wstring, std::wstring> windows = platform::WindowsEnvironment();
    std::string programData = std::getenv("ProgramData") ? std::getenv("ProgramData")
                                                          : platform::Utf8FromWide(windows[L"ProgramData"]);
    EXPECT_EQ(Read(L"C:\\Work\\env.txt"),
              std::string(std::getenv("PATH")) + "\n" + machine_.root().string() + "\n" + programData + "\n");
}

TEST_F(ProcessTest, FindsProgramsInTheDirectoryThenSystem32ThenHostPath) {
    Put(L"C:\\Work\\local.exe", "#!/bin/sh\nexit 11\n");
    Put(L"C:\\Windows\\System32\\helper.exe", "#!/bin/sh\nexit 12\n");
    Put(L"C:\\Windows\\System32\\local.exe", "#!/bin/sh\nexit 99\n");
    platform::StartOptions options;
    options.currentDirectory = L"C:\\Work";
    EXPECT_EQ(Run(L"local.exe", options), 11u);
    EXPECT_EQ(Run(L"LOCAL", options), 11u);   // ".exe" is implied, names ignore case
    EXPECT_EQ(Run(L"helper", options), 12u);
    EXPECT_EQ(Run(L"sh -c \"exit 13\"", options), 13u);  // the host PATH

    platform::Process p;
    EXPECT_FALSE(platform::CreateProcess(L"", L"no-such-program-velmo.exe", options, p));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
    options.currentDirectory = L"C:\\Missing";
    EXPECT_FALSE(platform::CreateProcess(L"", L"local.exe", options, p));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_DIRECTORY);
}

TEST_F(ProcessTest, RunsFilesWithoutExecuteBitAsWindowsWould) {
    // A script names its interpreter; a text file without one is a batch file for /bin/sh.
    Put(L"C:\\Apps\\interp.cmd", "#!/bin/sh -e\nexit 21\n");
    Put(L"C:\\Apps\\batch.bat", "exit 22\n");
    EXPECT_EQ(Run(L"C:\\Apps\\interp.cmd"), 21u);
    EXPECT_EQ(Run(L"C:\\Apps\\batch.bat"), 22u);

    // An ELF gets its execute bit and runs.
    fs::path elf = machine_.Host(L"C:\\Apps\\false.exe");
    fs::create_directories(elf.parent_path());
    fs::copy_file("/bin/false", elf);
    fs::permissions(elf, fs::perms(0644));
    EXPECT_EQ(Run(L"C:\\Apps\\false.exe"), 1u);
    EXPECT_NE(fs::status(elf).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(ProcessTest, PeExecutableWithoutWineFailsWithBadExeFormat) {
    if (::system("command -v wine >/dev/null 2>&1") == 0) GTEST_SKIP() << "wine is installed here";
    platform::VersionBlockSpec spec;
    spec.fileVersion = {1, 0, 0, 0};
    fs::path pe = Put(L"C:\\Apps\\setup.exe", platform::BuildPeWithVersion(platform::BuildVersionInfoBlock(spec)));
    platform::Process p;
    EXPECT_FALSE(platform::CreateProcess(L"", L"C:\\Apps\\setup.exe /S", {}, p));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_BAD_EXE_FORMAT);
    EXPECT_FALSE(p.IsValid());
}

// ---- The command interpreter ---------------------------------------------------------------

TEST_F(ProcessTest, CmdRunsAQuotedScriptPathWithBlanksAndMapsItsArguments) {
    // No execute bit, no "#!": started as the process layer would start it.
    Put(L"C:\\Program Files (x86)\\Velmo Test\\velmopack.bat",
        "printf '%s\\n' \"$@\" > \"$2\"\necho 3010 > \"$VELMO_EXIT_CODE_FILE\"\nexit 194\n");
    fs::create_directories(machine_.Host(L"C:\\Out Dir"));
    std::wstring line =
        L"cmd.exe /c \"\"C:\\Program Files (x86)\\Velmo Test\\velmopack.bat\" /quiet \"C:\\Out Dir\\args.txt\" "
        L"C:\\bare\\path.txt\"";
    EXPECT_EQ(Run(line), 3010u);
    EXPECT_EQ(Read(L"C:\\Out Dir\\args.txt"), "/quiet\n" + machine_.Host(L"C:\\Out Dir\\args.txt").string() + "\n" +
                                                  machine_.Host(L"C:\\bare\\path.txt").string() + "\n");
}

TEST_F(ProcessTest, CmdKeepsRedirectionsToWindowsPaths) {
    Put(L"C:\\Setup\\fail.bat", "#!/bin/sh\necho oops >&2\necho fine\nexit 3\n");
    fs::create_directories(machine_.Host(L"C:\\Logs Dir"));
    // The way the system runs a command: the shell verb on cmd.exe, "/c" and the text in quotes.
    platform::Process p;
    ASSERT_TRUE(platform::ShellExecute(
        L"open", L"cmd.exe", L"/c \"\"C:\\Setup\\fail.bat\" 2> \"C:\\Logs Dir\\err.txt\" >C:\\out.txt\"",
        {}, &p));
    ASSERT_EQ(p.Wait(kGenerousMs), platform::WAIT_OBJECT_0);
    EXPECT_EQ(p.ExitCode(), 3u);
    EXPECT_EQ(Read(L"C:\\Logs Dir\\err.txt"), "oops\n");
    EXPECT_EQ(Read(L"C:\\out.txt"), "fine\n");
}

TEST_F(ProcessTest, CmdMapsHostPathsGivenAsZDrive) {
    Put(L"C:\\in.txt", "payload\n");
    std::wstring zPath = platform::WindowsPathFromHost(machine_.Host(L"C:\\in.txt"));
    // The form a host path has after FromExternalPath, outside the prefix it would be Z:\... too.
    std::wstring zForm = L"Z:" + platform::WideFromUtf8(machine_.Host(L"C:\\in.txt").string());
    for (auto& c : zForm) {
        if (c == L'/') c = L'\\';
    }
    EXPECT_EQ(Run(L"cmd.exe /c \"cat " + zForm + L" " + zPath + L" > \"C:\\copy.txt\"\""), 0u);
    EXPECT_EQ(Read(L"C:\\copy.txt"), "payload\npayload\n");
}

TEST_F(ProcessTest, CmdExpandsWindowsVariablesBeforeMappingPaths) {
    EXPECT_EQ(Run(L"cmd.exe /s /c \"echo %SystemRoot%\\System32 %NoSuchVelmoVariable%> C:\\vars.txt\""), 0u);
    EXPECT_EQ(Read(L"C:\\vars.txt"),
              machine_.Host(L"C:\\Windows\\System32").string() + " %NoSuchVelmoVariable%\n");
}

// ---- Documents -----------------------------------------------------------------------------

TEST_F(ProcessTest, DocumentOpensThroughItsClassesRootAssociation) {
    Put(L"C:\\Tools\\viewer.bat", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$VELMO_MACHINE/opened.txt\"\nexit 7\n");
    Put(L"C:\\Docs\\My File.velmodoc", "document\n");
    ASSERT_EQ(platform::RegSetString(platform::Hive::ClassesRoot, L".velmodoc", L"", L"Velmo.Document"),
              platform::ERROR_SUCCESS);
    ASSERT_EQ(platform::RegSetString(platform::Hive::ClassesRoot, L"Velmo.Document\\shell\\open\\command", L"",
                                     L"\"C:\\Tools\\viewer.bat\" /open \"%1\" %*"),
              platform::ERROR_SUCCESS);
    platform::Process p;
    ASSERT_TRUE(platform::ShellExecute(L"", L"C:\\Docs\\my file.VELMODOC", L"/quiet /norestart", {}, &p))
        << platform::GetLastError();
    ASSERT_EQ(p.Wait(kGenerousMs), platform::WAIT_OBJECT_0);
    EXPECT_EQ(p.ExitCode(), 7u);
    std::ifstream in(machine_.root() / "opened.txt");
    std::ostringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "/open\nC:\\Docs\\my file.VELMODOC\n/quiet\n/norestart\n");
}

TEST_F(ProcessTest, DocumentWithoutAssociationOrFileFails) {
    Put(L"C:\\Docs\\plain.velmounknown", "x");
    platform::Process p;
    EXPECT_FALSE(platform::ShellExecute(L"open", L"C:\\Docs\\plain.velmounknown", L"", {}, &p));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NO_ASSOCIATION);
    EXPECT_FALSE(platform::ShellExecute(L"open", L"C:\\Docs\\missing.msi", L"", {}, &p));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

// ---- Waiting, terminating, listing ---------------------------------------------------------

TEST_F(ProcessTest, WaitTimesOutWhileRunningAndTerminateSetsTheExitCode) {
    Put(L"C:\\Apps\\long.bat", "#!/bin/sh\nexec sleep 60\n");
    platform::Process p;
    ASSERT_TRUE(platform::CreateProcess(L"", L"C:\\Apps\\long.bat", {}, p));
    EXPECT_EQ(p.Wait(50), platform::WAIT_TIMEOUT);
    EXPECT_EQ(p.ExitCode(), platform::STILL_ACTIVE);
    EXPECT_TRUE(p.Terminate(1602));
    EXPECT_EQ(p.Wait(kGenerousMs), platform::WAIT_OBJECT_0);
    EXPECT_EQ(p.ExitCode(), 1602u);
    EXPECT_FALSE(p.Terminate(1));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(p.ExitCode(), 1602u);
}

TEST_F(ProcessTest, ClosingTheHandleOfARunningChildLeavesNoZombie) {
    Put(L"C:\\Apps\\short.bat", "#!/bin/sh\nsleep 0.2\n");
    platform::Process p;
    ASSERT_TRUE(platform::CreateProcess(L"", L"C:\\Apps\\short.bat", {}, p));
    fs::path proc = "/proc/" + std::to_string(p.Id());
    p.Close();
    EXPECT_FALSE(p.IsValid());
    // The background reaper takes it once it ends; a zombie would keep its /proc entry.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fs::exists(proc) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(fs::exists(proc));
}

TEST_F(ProcessTest, EnumerationListsAScriptUnderItsOwnName) {
    Put(L"C:\\Games\\Hearthview.exe", "#!/bin/sh\nwhile :; do sleep 1; done\n");
    platform::Process p;
    ASSERT_TRUE(platform::CreateProcess(L"", L"C:\\Games\\Hearthview.exe -silent", {}, p));
    std::vector<platform::ProcessEntry> entries;
    ASSERT_TRUE(platform::EnumProcesses(entries));
    bool sawChild = false, sawSelf = false;
    for (const auto& e : entries) {
        if (e.processId == p.Id()) {
            sawChild = true;
            EXPECT_EQ(e.exeName, L"Hearthview.exe");
            EXPECT_EQ(e.imagePath, L"C:\\Games\\Hearthview.exe");
            EXPECT_EQ(e.parentProcessId, platform::GetCurrentProcessId());
            EXPECT_GE(e.threadCount, 1u);
        }
        if (e.processId == platform::GetCurrentProcessId()) {
            sawSelf = true;
            EXPECT_EQ(e.exeName, L"platform_tests");
            EXPECT_EQ(e.imagePath, platform::WindowsPathFromHost(fs::read_symlink("/proc/self/exe")));
        }
    }
    EXPECT_TRUE(sawChild);
    EXPECT_TRUE(sawSelf);

    // A process opened by id can be waited for and terminated.
    platform::Process opened;
    ASSERT_TRUE(platform::OpenProcess(p.Id(), opened));
    EXPECT_EQ(opened.Wait(0), platform::WAIT_TIMEOUT);
    EXPECT_TRUE(opened.Terminate(1));
    EXPECT_EQ(opened.Wait(kGenerousMs), platform::WAIT_OBJECT_0);
    EXPECT_EQ(p.Wait(kGenerousMs), platform::WAIT_OBJECT_0);
    EXPECT_FALSE(platform::OpenProcess(0x7FFFFFF0, opened));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
}

TEST(ProcessIdTest, ThreadIdsAreDistinctAndTheMainThreadCarriesTheProcessId) {
    EXPECT_EQ(platform::GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
    DWORD other = 0;
    std::thread([&] { other = platform::GetCurrentThreadId(); }).join();
    EXPECT_NE(other, platform::GetCurrentThreadId());
    EXPECT_NE(other, 0u);
}

// ---- Shell records -------------------------------------------------------------------------

TEST_F(ProcessTest, ShellOpenAndRebootRequestsAreRecordedInThePrefix) {
    ::unsetenv("VELMO_INTERACTIVE");
    EXPECT_TRUE(platform::ShellOpen(L"https://example.invalid/survey?id=1"));
    EXPECT_TRUE(platform::ShellOpen(L"C:\\ProgramData\\Velmo\\Logs\\installer.log"));
    EXPECT_TRUE(platform::RequestReboot(L"setup returned 3010"));
    std::ifstream opened(machine_.root() / "shell-open.log");
    std::string line1, line2;
    std::getline(opened, line1);
    std::getline(opened, line2);
    EXPECT_EQ(line1, "https://example.invalid/survey?id=1");
    EXPECT_EQ(line2, "C:\\ProgramData\\Velmo\\Logs\\installer.log");
    std::ifstream reboot(machine_.root() / "reboot-requests.log");
    std::string reason;
    std::getline(reboot, reason);
    EXPECT_EQ(reason, "setup returned 3010");
}

}  // namespace
