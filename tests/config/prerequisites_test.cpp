#include "config/prerequisites.h"

#include <gtest/gtest.h>

#include "config_test_util.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/version_info.h"

namespace {

using config_test::LogCapture;
using config_test::SetProfile;

const std::wstring kRuntimeKey = L"SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86";
const std::wstring kNdpKey = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

class Prerequisites : public velmo_test::MachineTest {
protected:
    void SetVersion(const std::wstring& value, platform::DWORD view = 0) {
        platform::RegKey key;
        ASSERT_EQ(platform::RegKey::Create(platform::Hive::LocalMachine, kRuntimeKey, platform::KEY_ALL_ACCESS | view, key), 0);
        ASSERT_EQ(key.SetString(L"Version", value), 0);
    }
    void SetRelease(platform::DWORD release) {
        ASSERT_EQ(platform::RegSetDword(platform::Hive::LocalMachine, kNdpKey, L"Release", release), 0);
    }
    // A DLL with the given file version, written below the real folder (redirection off).
    void WriteDll(const std::wstring& folder, const std::wstring& name, platform::VersionQuad version) {
        platform::VersionBlockSpec spec;
        spec.fileVersion = version;
        ASSERT_TRUE(platform::Wow64DisableFsRedirection());
        bool ok = platform::WriteWholeFile(folder + L"\\" + name,
                                           platform::BuildPeWithVersion(platform::BuildVersionInfoBlock(spec)));
        platform::Wow64RevertFsRedirection();
        ASSERT_TRUE(ok);
    }
};

TEST_F(Prerequisites, RegistryVersionIsNormalisedBeforeTheComparison) {
    struct Case {
        std::wstring stored, minimum;
        bool pass;
    } cases[] = {
        {L"v14.29.30133.00", L"14.29.30133", true},
        {L"v14.20.27508", L"14.20.27508.0", true},  // three parts read as four
        {L"v14.20.27508", L"14.20.27508.1", false},
        {L"14.1", L"14.1.0", false},  // fewer parts compare lower
        {L"14.1.0", L"14.1", true},   // three parts gain ".0"
        {L"v14.30.0.0", L"14.29.30133", true},
        {L"V14.30.0.0", L"14.29.30133", false},  // only a lower-case "v" is dropped
        {L"14.10", L"14.9", true},               // numeric, not textual
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf8FromWide(c.stored + L" vs " + c.minimum));
        SetVersion(c.stored);
        EXPECT_EQ(config::CheckRuntimeRegistry(kRuntimeKey, c.minimum, true), c.pass);
    }
}

TEST_F(Prerequisites, RegistryCheckLogsItsResultAndFailsWithoutKeyOrValue) {
    LogCapture log;
    EXPECT_FALSE(config::CheckRuntimeRegistry(kRuntimeKey, L"14.0", true));
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Create(platform::Hive::LocalMachine, kRuntimeKey, platform::KEY_ALL_ACCESS, key), 0);
    EXPECT_FALSE(config::CheckRuntimeRegistry(kRuntimeKey, L"14.0", true));
    EXPECT_TRUE(log.Lines().empty()) << "nothing is compared, nothing is logged";

    SetVersion(L"v14.29.30133");
    EXPECT_TRUE(config::CheckRuntimeRegistry(kRuntimeKey, L"14.0", false));
    EXPECT_FALSE(config::CheckRuntimeRegistry(kRuntimeKey, L"15.0", true));
    EXPECT_EQ(log.Lines(), (std::vector<config_test::LogLine>{
                               {L"Info", L"VC Redist Reg check: reg:" + kRuntimeKey + L", x86:0, ret: 1"},
                               {L"Info", L"VC Redist Reg check: reg:" + kRuntimeKey + L", x86:1, ret: 0"},
                           }));
}

TEST_F(Prerequisites, RegistryIsReadInTheInstallersDefaultView) {
    // On 64-bit Windows a value of the native view only is not seen by the 32-bit installer.
    SetVersion(L"14.29.30133.0", platform::KEY_WOW64_64KEY);
    EXPECT_FALSE(config::CheckRuntimeRegistry(kRuntimeKey, L"14.0", false));
    SetVersion(L"14.29.30133.0", platform::KEY_WOW64_32KEY);
    EXPECT_TRUE(config::CheckRuntimeRegistry(kRuntimeKey, L"14.0", false));
}

TEST_F(Prerequisites, AVersionValueAbove256BytesCannotBeRead) {
    SetVersion(L"14.29." + std::wstring(130, L'1'));
    EXPECT_FALSE(config::CheckRuntimeRegistry(kRuntimeKey, L"1.0", true));
}

TEST_F(Prerequisites, FileCheckReadsTheSystemFolderOfTheFlagAndMachine) {
    WriteDll(L"C:\\Windows\\System32", L"vcruntime140.dll", {14, 29, 30133, 0});
    WriteDll(L"C:\\Windows\\SysWOW64", L"vcruntime140.dll", {14, 10, 0, 0});
    struct Case {
        const char* what;
        bool is64, x86;
        const wchar_t* minimum;
        bool pass;
        std::wstring folder;
    } cases[] = {
        {"64-bit, x86: the 32-bit folder", true, true, L"14.29", false, L"C:\\Windows\\SysWOW64"},
        {"64-bit, x86: the 32-bit folder's version", true, true, L"14.10", true, L"C:\\Windows\\SysWOW64"},
        {"64-bit, x64: the real System32 despite redirection", true, false, L"14.29.30133.0", true,
         L"C:\\Windows\\System32"},
        {"32-bit: System32 whatever the flag", false, true, L"14.29.30133.0", true, L"C:\\Windows\\System32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetProfile(c.is64);
        LogCapture log;
        EXPECT_EQ(config::CheckRuntimeFile(c.x86, L"vcruntime140.dll", c.minimum), c.pass);
        EXPECT_EQ(log.Lines(), (std::vector<config_test::LogLine>{
                                   {L"Info", L"VC Redist Reg check: folder:" + c.folder + L", filename:vcruntime140.dll, x86:" +
                                                 (c.x86 ? L"1" : L"0") + L", ret: " + (c.pass ? L"1" : L"0")}}));
        EXPECT_TRUE(platform::IsWow64FsRedirectionEnabled() || !c.is64) << "redirection is switched back on";
    }
}

TEST_F(Prerequisites, FileCheckFailsForMissingOrVersionlessFilesAndStillLogs) {
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\Windows\\SysWOW64\\plain.dll", "no version here"));
    LogCapture log;
    EXPECT_FALSE(config::CheckRuntimeFile(true, L"missing.dll", L"1.0"));
    EXPECT_FALSE(config::CheckRuntimeFile(true, L"plain.dll", L"0.0"));
    EXPECT_EQ(log.Messages(L"Info").size(), 2u);
}

TEST_F(Prerequisites, DotNetReleaseIsComparedAsANumber) {
    struct Case {
        platform::DWORD release;
        const wchar_t* minimum;
        bool pass;
    } cases[] = {
        {528040, L"461808", true}, {461808, L"461808", true}, {461807, L"461808", false},
        {378389, L"abc", true},  // no digits: 0
        {378389, L"461808abc", false}, {1, L"-5", true},
    };
    for (const auto& c : cases) {
        SetRelease(c.release);
        EXPECT_EQ(config::CheckDotNetRelease(kNdpKey, c.minimum), c.pass) << c.release;
    }
}

TEST_F(Prerequisites, DotNetCheckFailsWithoutKeyOrDwordValue) {
    EXPECT_FALSE(config::CheckDotNetRelease(kNdpKey, L"0"));
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, kNdpKey, L"Release", L"528040"), 0);
    EXPECT_FALSE(config::CheckDotNetRelease(kNdpKey, L"0"));
}

TEST_F(Prerequisites, OperatingSystemCodeFollowsTheWindowsVersion) {
    struct Case {
        std::uint32_t major, minor;
        std::int32_t code;
    } cases[] = {{10, 0, 10}, {6, 3, 8}, {6, 2, 8}, {6, 1, 7}, {6, 0, 6}, {5, 1, 6}, {11, 0, 10}};
    for (const auto& c : cases) {
        SetProfile(true, c.major, c.minor);
        EXPECT_EQ(config::OperatingSystemCode(), c.code) << c.major << "." << c.minor;
    }
    SetProfile(false);
    EXPECT_FALSE(config::IsWow64());
    SetProfile(true);
    EXPECT_TRUE(config::IsWow64());
}

}  // namespace
