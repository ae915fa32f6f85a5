// End-to-end start-up decisions: the real VelmoInstaller binary against a fresh machine prefix.
#include "app/startup.h"

#include <gtest/gtest.h>

#include "platform/mutex.h"
#include "platform/registry.h"
#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/run_binary.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"

namespace {

class Startup : public velmo_test::MachineTest {
protected:
    velmo_test::BinaryRun Run(const std::vector<std::string>& args) {
        return velmo_test::RunBinary(velmo_test::BinaryPath("VelmoInstaller"), args,
                                     {{"VELMO_MACHINE", machine_.root().string()}, {"VELMO_LOG_STDERR", "0"}});
    }
    std::wstring UninstallerFolder() {
        return util::JoinPath(platform::GetKnownFolderPath(platform::KnownFolder::Temp), L"VelmoUnInstaller");
    }
};

TEST_F(Startup, UninstallWithAnEmptySpecificationEndsAtOnce) {
    for (auto args : {std::vector<std::string>{"/uninstall", ""}, std::vector<std::string>{"/uninstall"}}) {
        auto run = Run(args);
        EXPECT_EQ(run.fullExitCode, 0);
        EXPECT_EQ(run.output, "");
        EXPECT_FALSE(util::DirectoryExists(UninstallerFolder())) << "no copy is made";
    }
}

TEST_F(Startup, SecondInteractiveInstanceShowsTheMessageAndEnds) {
    auto held = platform::CreateNamedMutex(L"VelmoInstaller_Mutex");
    ASSERT_TRUE(held);
    auto run = Run({});
    EXPECT_EQ(run.fullExitCode, 0);
    EXPECT_EQ(run.output,
              "Velmo Installer: Another installation process is running at the moment. Please wait until this process "
              "is complete and try again. A restart of your computer may be necessary first.\n");
    // Silent runs and /nomutexcheck skip the check.
    for (const char* option : {"/silent", "/nomutexcheck"}) {
        auto other = Run({option});
        EXPECT_EQ(other.fullExitCode, 0);
        EXPECT_EQ(other.output.find("Another installation"), std::string::npos) << option;
    }
}

TEST_F(Startup, StartupMessageIsInTheUsersLanguage) {
    platform::MachineProfile p = platform::CurrentProfile();
    p.uiLanguage = 1031;
    ASSERT_TRUE(platform::SaveMachineProfile(p));
    auto held = platform::CreateNamedMutex(L"VelmoInstaller_Mutex");
    auto run = Run({});
    EXPECT_EQ(run.fullExitCode, 0);
    EXPECT_EQ(run.output,
              "Velmo Installer: Derzeit wird ein anderer Installationsvorgang ausgef\xC3\xBChrt. Bitte warten Sie, bis "
              "dieser Vorgang abgeschlossen ist, und versuchen Sie es dann erneut. M\xC3\xB6glicherweise ist zuerst ein "
              "Neustart Ihres Computers erforderlich.\n");
}

TEST_F(Startup, UninstallRelaunchesFromATemporaryCopyWithTheSameArguments) {
    auto run = Run({"/uninstall", "all", "/installid", "x y"});
    EXPECT_EQ(run.fullExitCode, 0);
    const std::wstring copy = util::JoinPath(UninstallerFolder(), L"VelmoInstaller.exe");
    EXPECT_TRUE(util::FileExists(copy));
    // The copy ran (it is the one that reaches the end of start-up) and got the arguments unchanged.
    EXPECT_NE(run.output.find("VelmoUnInstaller\\VelmoInstaller.exe /uninstall all /installid \"x y\")"),
              std::string::npos)
        << run.output;
}

TEST_F(Startup, DaemonWithoutAParentWindowEndsBeforeAnyCopy) {
    for (const char* handle : {"0", "4242"}) {
        auto run = Run({"/daemon", handle});
        EXPECT_EQ(run.fullExitCode, 0);
        EXPECT_EQ(run.output, "");
        EXPECT_FALSE(util::DirectoryExists(UninstallerFolder()));
    }
}

TEST_F(Startup, CommonRuntimeIsKeptWhileAnotherProductNeedsIt) {
    const std::wstring packs = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\velmopack\\0";
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    EXPECT_FALSE(app::IsCommonRuntimeStillNeeded());
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, packs, L"C:\\common", L"Velmo Common"), 0);
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, uninstall + L"Velmo Common", L"DisplayName", L"Velmo Common"), 0);
    EXPECT_FALSE(app::IsCommonRuntimeStillNeeded()) << "the runtime itself does not count";
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, packs, L"C:\\hub", L"Velmo Hub"), 0);
    EXPECT_FALSE(app::IsCommonRuntimeStillNeeded()) << "registered but no longer in the list of programs";
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, uninstall + L"Velmo Hub", L"DisplayName", L"Velmo Hub"), 0);
    EXPECT_TRUE(app::IsCommonRuntimeStillNeeded());

    auto run = Run({"/uninstall", "Velmo Common"});
    EXPECT_EQ(run.fullExitCode, 0);
    EXPECT_EQ(run.output,
              "Velmo Installer: Couldn't uninstall Velmo Hub. You still have Velmo applications installed on your "
              "computer that require it.\n");
    EXPECT_FALSE(util::DirectoryExists(UninstallerFolder()));
}

TEST_F(Startup, UninstallStartedFromTheCopyRunsInPlace) {
    ASSERT_TRUE(util::CreateDirectoryTree(UninstallerFolder()));
    const std::wstring copy = util::JoinPath(UninstallerFolder(), L"VelmoInstaller.exe");
    ASSERT_TRUE(platform::CopyFile(platform::WindowsPathFromHost(velmo_test::BinaryPath("VelmoInstaller")), copy, false));
    auto run = velmo_test::RunBinary(machine_.Host(copy), {"/uninstall", "all"},
                                     {{"VELMO_MACHINE", machine_.root().string()}});
    EXPECT_EQ(run.fullExitCode, 0);
    EXPECT_NE(run.output.find("start-up complete"), std::string::npos) << run.output;
    std::vector<platform::FindData> entries;
    ASSERT_TRUE(platform::FindFiles(util::JoinPath(platform::GetKnownFolderPath(platform::KnownFolder::Temp), L"VelmoUnInstaller*"), entries));
    EXPECT_EQ(entries.size(), 1u) << "no second copy";
}

}  // namespace
