// Windows paths and their host folders: normalisation, drive mapping, case-insensitive lookup,
// System32 redirection and the folder skeleton of a new machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

class PathMapping : public velmo_test::MachineTest {};

TEST_F(PathMapping, FullPathNameNormalisesSeparatorsDotsAndHostPaths) {
    struct Case {
        const wchar_t* input;
        const wchar_t* expected;
    } cases[] = {
        {L"c:/Program Files//Velmo\\.\\bin\\..\\app.exe", L"C:\\Program Files\\Velmo\\app.exe"},
        {L"C:\\a\\b\\", L"C:\\a\\b"},
        {L"C:\\", L"C:\\"},
        {L"C:\\..\\..\\Windows", L"C:\\Windows"},
        {L"d:\\x\\..\\..\\..", L"D:\\"},
        {L"/home/u/dir", L"Z:\\home\\u\\dir"},
        {L"/", L"Z:\\"},
        {L"Z:\\..\\etc", L"Z:\\etc"},
        {L"\\\\?\\C:\\long\\path", L"C:\\long\\path"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetFullPathName(c.input), c.expected) << c.input;
}

TEST_F(PathMapping, PathsWithoutDriveAreInvalidNames) {
    for (const wchar_t* bad : {L"", L"\\\\server\\share\\x", L"//server/share"}) {
        SetLastError(0);
        EXPECT_EQ(GetFullPathName(bad), L"") << bad;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << bad;
        fs::path host;
        EXPECT_FALSE(ToHostPath(bad, host)) << bad;
    }
}

TEST_F(PathMapping, DrivesMapToPrefixFoldersAndZToHostRoot) {
    struct Case {
        const wchar_t* input;
        fs::path expected;
    } cases[] = {
        {L"C:\\Users\\Public", machine_.root() / "drive_c" / "Users" / "Public"},
        {L"e:\\data\\file.bin", machine_.root() / "drive_e" / "data" / "file.bin"},
        {L"Z:\\etc\\hostname", "/etc/hostname"},
        {L"/usr/bin", "/usr/bin"},
        // ".." stops at the drive root, so no path leaves its drive folder.
        {L"C:\\..\\..\\..\\etc\\passwd", machine_.root() / "drive_c" / "etc" / "passwd"},
        {L"D:\\a\\..\\..\\drive_c", machine_.root() / "drive_d" / "drive_c"},
    };
    for (const auto& c : cases) {
        fs::path host;
        ASSERT_TRUE(ToHostPath(c.input, host)) << c.input;
        EXPECT_EQ(host, c.expected) << c.input;
    }
}

TEST_F(PathMapping, LookupIsExactFirstThenCaseInsensitivePerComponent) {
    const fs::path c = machine_.root() / "drive_c";
    fs::create_directories(c / "Program Files (x86)" / "Velmo");
    std::ofstream(c / "Program Files (x86)" / "Velmo" / "App.EXE") << "x";
    fs::create_directories(c / "Twin");
    fs::create_directories(c / "twin");

    struct Case {
        const wchar_t* input;
        fs::path expected;
    } cases[] = {
        {L"c:\\PROGRAM FILES (X86)\\velmo\\app.exe", c / "Program Files (x86)" / "Velmo" / "App.EXE"},
        // A missing component keeps the spelling given, below the existing ones found case-insensitively.
        {L"C:\\program files (x86)\\VELMO\\New Folder\\a.txt", c / "Program Files (x86)" / "Velmo" / "New Folder" / "a.txt"},
        {L"C:\\twin", c / "twin"},
        {L"C:\\Twin", c / "Twin"},
        {L"C:\\TWIN", c / "Twin"},  // several spellings: the smallest name, so the answer is stable
    };
    for (const auto& cs : cases) {
        fs::path host;
        ASSERT_TRUE(ToHostPath(cs.input, host)) << cs.input;
        EXPECT_EQ(host, cs.expected) << cs.input;
    }
}

TEST_F(PathMapping, HostPathsTurnIntoWindowsForms) {
    EXPECT_EQ(WindowsPathFromHost(machine_.root() / "drive_c" / "Windows" / "Temp"), L"C:\\Windows\\Temp");
    EXPECT_EQ(WindowsPathFromHost(machine_.root() / "drive_d"), L"D:\\");
    EXPECT_EQ(WindowsPathFromHost("/var/tmp/x"), L"Z:\\var\\tmp\\x");
    EXPECT_EQ(WindowsPathFromHost("/"), L"Z:\\");
    EXPECT_EQ(FromExternalPath(L"/home/u/setup.ini"), L"Z:\\home\\u\\setup.ini");
    EXPECT_EQ(FromExternalPath(L"C:\\keep\\as\\is"), L"C:\\keep\\as\\is");
    EXPECT_EQ(FromExternalPath(L"relative\\x"), L"relative\\x");
}

TEST_F(PathMapping, RelativePathsResolveAgainstTheCurrentDirectory) {
    const std::wstring before = GetCurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectory(L"c:\\windows"));
    EXPECT_EQ(GetFullPathName(L"System32\\..\\Temp\\x.log"), L"C:\\windows\\Temp\\x.log");
    EXPECT_EQ(GetFullPathName(L"\\Users"), L"C:\\Users");
    EXPECT_EQ(GetFullPathName(L"C:setup.exe"), L"C:\\windows\\setup.exe");
    EXPECT_FALSE(SetCurrentDirectory(L"C:\\no\\such\\folder"));
    SetCurrentDirectory(before);
}

// ---- System32 redirection -------------------------------------------------------------------

void UseBitness(bool is64Bit) {
    MachineProfile p = CurrentProfile();
    p.is64Bit = is64Bit;
    ASSERT_TRUE(SaveMachineProfile(p));
}

fs::path HostOf(const std::wstring& windowsPath) {
    fs::path host;
    EXPECT_TRUE(ToHostPath(windowsPath, host)) << windowsPath;
    return host;
}

class Wow64Redirection : public velmo_test::MachineTest {
protected:
    fs::path Windows() const { return machine_.root() / "drive_c" / "Windows"; }
};

TEST_F(Wow64Redirection, System32IsSysWow64OnA64BitMachineUntilSwitchedOff) {
    UseBitness(true);
    struct Case {
        const wchar_t* input;
        fs::path redirected;
        fs::path unredirected;
    } cases[] = {
        {L"C:\\Windows\\System32", Windows() / "SysWOW64", Windows() / "System32"},
        {L"c:\\windows\\system32\\msvcp140.dll", Windows() / "SysWOW64" / "msvcp140.dll",
         Windows() / "System32" / "msvcp140.dll"},
        {L"C:\\Windows\\Sysnative\\cmd.exe", Windows() / "System32" / "cmd.exe", Windows() / "Sysnative" / "cmd.exe"},
        {L"C:\\Windows\\System32\\drivers\\etc\\hosts", Windows() / "System32" / "drivers" / "etc" / "hosts",
         Windows() / "System32" / "drivers" / "etc" / "hosts"},
        {L"C:\\Windows\\System32\\spool\\x", Windows() / "System32" / "spool" / "x",
         Windows() / "System32" / "spool" / "x"},
        {L"D:\\Windows\\System32", machine_.root() / "drive_d" / "Windows" / "System32",
         machine_.root() / "drive_d" / "Windows" / "System32"},
    };
    ASSERT_TRUE(IsWow64FsRedirectionEnabled());
    for (const auto& c : cases) EXPECT_EQ(HostOf(c.input), c.redirected) << c.input;
    ASSERT_TRUE(Wow64DisableFsRedirection());
    EXPECT_FALSE(IsWow64FsRedirectionEnabled());
    for (const auto& c : cases) EXPECT_EQ(HostOf(c.input), c.unredirected) << c.input;
    ASSERT_TRUE(Wow64RevertFsRedirection());
    EXPECT_EQ(HostOf(L"C:\\Windows\\System32\\x"), Windows() / "SysWOW64" / "x");
}

TEST_F(Wow64Redirection, FileCallsAreRedirectedToo) {
    UseBitness(true);
    ASSERT_TRUE(WriteWholeFile(L"C:\\Windows\\System32\\probe.txt", "32"));
    EXPECT_TRUE(fs::exists(Windows() / "SysWOW64" / "probe.txt"));
    EXPECT_FALSE(fs::exists(Windows() / "System32" / "probe.txt"));
    std::vector<FindData> found;
    ASSERT_TRUE(FindFiles(L"C:\\Windows\\System32\\*.txt", found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, L"probe.txt");
}

TEST_F(Wow64Redirection, SwitchIsPerThread) {
    UseBitness(true);
    ASSERT_TRUE(Wow64DisableFsRedirection());
    fs::path other;
    std::thread([&] { ToHostPath(L"C:\\Windows\\System32", other); }).join();
    EXPECT_EQ(other, Windows() / "SysWOW64");
    EXPECT_EQ(HostOf(L"C:\\Windows\\System32"), Windows() / "System32");
    Wow64RevertFsRedirection();
}

TEST_F(Wow64Redirection, NoRedirectionOnA32BitMachine) {
    UseBitness(false);
    EXPECT_FALSE(IsWow64FsRedirectionEnabled());
    EXPECT_EQ(HostOf(L"C:\\Windows\\System32\\x.dll"), Windows() / "System32" / "x.dll");
}

// ---- the folder skeleton --------------------------------------------------------------------

// A prefix whose profile exists before the first use, as `velmo-machine profile set` leaves it.
class MachineSkeleton : public ::testing::Test {
protected:
    void StartWith(const std::string& profileJson) {
        char tmpl[] = "/tmp/velmo-skeleton-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        std::ofstream(root_ / "profile.json") << profileJson;
        UseMachine(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path root_;
};

TEST_F(MachineSkeleton, HasTheFoldersOfA64BitWindows10) {
    StartWith(R"({"userName": "alice"})");
    for (const char* folder :
         {"drive_c/Windows/System32", "drive_c/Windows/SysWOW64", "drive_c/Windows/Temp", "drive_c/Program Files",
          "drive_c/Program Files (x86)", "drive_c/Program Files/Common Files",
          "drive_c/Program Files (x86)/Common Files", "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs",
          "drive_c/Users/Public/Desktop", "drive_c/Users/alice/Desktop", "drive_c/Users/alice/AppData/Roaming",
          "drive_c/Users/alice/AppData/Local/Temp",
          "drive_c/Users/alice/AppData/Roaming/Microsoft/Windows/Start Menu/Programs", "run"})
        EXPECT_TRUE(fs::is_directory(root_ / folder)) << folder;
}

TEST_F(MachineSkeleton, A32BitMachineHasNoWow64Folders) {
    StartWith(R"({"userName": "bob", "is64Bit": false})");
    EXPECT_TRUE(fs::is_directory(root_ / "drive_c/Windows/System32"));
    EXPECT_TRUE(fs::is_directory(root_ / "drive_c/Program Files/Common Files"));
    EXPECT_TRUE(fs::is_directory(root_ / "drive_c/Users/bob/AppData/Local/Temp"));
    EXPECT_FALSE(fs::exists(root_ / "drive_c/Windows/SysWOW64"));
    EXPECT_FALSE(fs::exists(root_ / "drive_c/Program Files (x86)"));
}

TEST_F(MachineSkeleton, ANewUserNameGetsItsFoldersWhenTheProfileIsSaved) {
    StartWith("{}");
    MachineProfile p = CurrentProfile();
    p.userName = L"carol";
    ASSERT_TRUE(SaveMachineProfile(p));
    EXPECT_TRUE(fs::is_directory(root_ / "drive_c/Users/carol/AppData/Local/Temp"));
}

}  // namespace
