#include "util/system_helpers.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/registry.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"

namespace {

class SystemHelpers : public velmo_test::MachineTest {};

TEST_F(SystemHelpers, RunCmdRunsAProgramWhosePathHasBlanks) {
    ASSERT_TRUE(util::CreateDirectoryTree(L"C:\\Program Files (x86)\\My Tool"));
    // A script without the execute bit, started through the command interpreter.
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\Program Files (x86)\\My Tool\\tool.cmd",
                                         "#!/bin/sh\nprintf '%s' \"$1\" > \"$2\"\nexit 7\n"));
    int code = util::RunCmd(L"C:\\Program Files (x86)\\My Tool\\tool.cmd", L"hello \"C:\\out.txt\"");
    EXPECT_EQ(code, 7);
    std::string out;
    ASSERT_TRUE(platform::ReadWholeFile(L"C:\\out.txt", out));
    EXPECT_EQ(out, "hello");
}

TEST_F(SystemHelpers, RunAndWaitReturnsTheFullExitCodeOrMinusOne) {
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\setup.exe",
                                         "#!/bin/sh\necho 3010 > \"$VELMO_EXIT_CODE_FILE\"\nexit 194\n"));
    EXPECT_EQ(util::RunAndWait(L"C:\\setup.exe", L"/quiet"), 3010);
    EXPECT_EQ(util::RunAndWait(L"C:\\missing.exe", L""), -1);
}

TEST_F(SystemHelpers, EnumRegistryValuesListsNamesAndTextInOrder) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Create(platform::Hive::LocalMachine, L"SOFTWARE\\Velmo\\Test", platform::KEY_ALL_ACCESS, key), 0);
    key.SetString(L"b", L"second");
    key.SetString(L"a", L"first");
    key.SetDword(L"n", 5);
    std::vector<std::pair<std::wstring, std::wstring>> values;
    EXPECT_EQ(util::EnumRegistryValues(L"SOFTWARE\\Velmo\\Test", values), 0);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], (std::pair<std::wstring, std::wstring>{L"b", L"second"}));
    EXPECT_EQ(values[1], (std::pair<std::wstring, std::wstring>{L"a", L"first"}));
    EXPECT_EQ(values[2].first, L"n");
    EXPECT_EQ(util::EnumRegistryValues(L"SOFTWARE\\Velmo\\Missing", values), -1);
    EXPECT_TRUE(values.empty());
}

TEST_F(SystemHelpers, ApplicationPathByLaunchIdPicksTheLatestExistingApplication) {
    for (const wchar_t* f : {L"C:\\old.exe", L"C:\\new.exe", L"C:\\text.exe"}) ASSERT_TRUE(platform::WriteWholeFile(f, "x"));
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\velmopack\\42";
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, key, L"C:\\gone.exe", L"2030-01-01 00:00:00"), 0);
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, key, L"C:\\new.exe", L"2024-05-13 10:00:00"), 0);
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, key, L"C:\\old.exe", L"2024-05-13 09:00:00"), 0);
    EXPECT_EQ(util::ApplicationPathByLaunchId(42), L"C:\\new.exe");
    // When a time does not parse, the plain text order decides (greater or equal replaces).
    ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, key, L"C:\\text.exe", L"zzz"), 0);
    EXPECT_EQ(util::ApplicationPathByLaunchId(42), L"C:\\text.exe");
    EXPECT_EQ(util::ApplicationPathByLaunchId(7), L"");
}

}  // namespace
