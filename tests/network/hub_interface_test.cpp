#include "network/hub_interface.h"

#include <gtest/gtest.h>

#include "network/transfer_settings.h"
#include "network/web_api_helper.h"
#include "network_harness.h"
#include "platform/file.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"
#include "util/text_helpers.h"

namespace {

class HubInterfaceTest : public velmo_test::MachineTest {
protected:
    static void WriteHubSettings(const std::string& json) {
        std::wstring path = network::hub::HubSettingsFilePath();
        util::PathParts parts;
        util::SplitPath(path, parts);
        ASSERT_TRUE(util::CreateDirectoryTree(parts.folder));
        ASSERT_TRUE(platform::WriteWholeFile(path, json));
    }
};

TEST_F(HubInterfaceTest, FilesLiveInTheHubsFolders) {
    EXPECT_TRUE(util::EndsWithNoCase(network::hub::HubSettingsFilePath(),
                                     L"\\AppData\\Roaming\\Velmo\\Velmo Hub\\VelmoHubSettings.json"));
    EXPECT_EQ(network::hub::CommonSettingsFilePath(), L"C:\\ProgramData\\Velmo\\Velmo Hub\\Settings.json");
    EXPECT_EQ(network::hub::LaunchArgument(L"{\"a\":1}"), L"--ns-arguments={\"a\":1}");
}

TEST_F(HubInterfaceTest, OnlyAStringMemberOfAJsonObjectOverridesTheDefaults) {
    const std::wstring defaultUpdate = network::AccountApiBase() + L"/api/update/check";
    const std::wstring defaultStat = network::AccountApiBase() + L"/api/stat";
    EXPECT_EQ(network::UpdateCheckUrl(), defaultUpdate) << "no file";
    struct Case {
        const char* json;
        std::wstring update;
        std::wstring stat;
    } cases[] = {
        {R"({"versionServer":"https://v.example/check","accountServer":"https://acc.example"})",
         L"https://v.example/check", L"https://acc.example/api/stat"},
        {R"({"versionServer":5,"accountServer":["x"]})", defaultUpdate, defaultStat},
        {R"(["versionServer","https://v.example/check"])", defaultUpdate, defaultStat},
        {R"({"versionServer":"https://v.example/check")", defaultUpdate, defaultStat},
        {"", defaultUpdate, defaultStat},
    };
    for (const Case& c : cases) {
        WriteHubSettings(c.json);
        EXPECT_EQ(network::UpdateCheckUrl(), c.update) << c.json;
        EXPECT_EQ(network::StatisticsUrl(), c.stat) << c.json;
        EXPECT_EQ(network::GeneralSettingsUrl(), network::AccountApiBase() + L"/api/setting/general");
    }
    // A folder of that name is no file.
    platform::DeleteFile(network::hub::HubSettingsFilePath());
    ASSERT_TRUE(platform::CreateDirectory(network::hub::HubSettingsFilePath()));
    EXPECT_EQ(network::UpdateCheckUrl(), defaultUpdate);
}

TEST_F(HubInterfaceTest, InstallPathIsReplacedOnlyWhenSettingsHoldIt) {
    std::wstring path = network::hub::CommonSettingsFilePath();
    ASSERT_TRUE(util::CreateDirectoryTree(L"C:\\ProgramData\\Velmo\\Velmo Hub"));
    ASSERT_TRUE(platform::WriteWholeFile(path, R"({"other":1})"));
    EXPECT_FALSE(network::hub::ReplaceCommonInstallPath(L"D:\\Velmo"));
    std::string bytes;
    platform::ReadWholeFile(path, bytes);
    EXPECT_EQ(bytes, R"({"other":1})") << "left alone";

    ASSERT_TRUE(platform::WriteWholeFile(path, R"({"installPath":"C:\\old","other":1})"));
    EXPECT_TRUE(network::hub::ReplaceCommonInstallPath(L"D:\\Velmo Ünï"));
    std::wstring value;
    ASSERT_TRUE(network::hub::ReadCommonInstallPath(value));
    EXPECT_EQ(value, L"D:\\Velmo Ünï");

    EXPECT_EQ(network::hub::WriteLauncherInstallPath(L"D:\\Velmo"), 0);
    EXPECT_EQ(network::hub::ReadLauncherInstallPath(value), 0);
    EXPECT_EQ(value, L"D:\\Velmo");
}

TEST_F(HubInterfaceTest, WebApiRejectsAnInvalidUrlWithoutTouchingTheNetwork) {
    velmo_test::LogCapture log;
    for (const wchar_t* url : {L"not a url", L"ftp://host/x"}) {
        std::wstring headers = L"old";
        std::string body = "old";
        EXPECT_FALSE(network::WebAPIHelper::Request(url, "", headers, body, L"Get", L""));
        EXPECT_EQ(network::WebAPIHelper::LastStatusCode(), 200u);
        EXPECT_EQ(network::WebAPIHelper::LastErrorCode(), 0u);
        EXPECT_EQ(body, "old");
        EXPECT_TRUE(log.Contains(std::wstring(L"Invalid url: ") + url)) << log.Dump();
    }
}

}  // namespace
