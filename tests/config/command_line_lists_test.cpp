#include "config/command_line_lists.h"

#include <gtest/gtest.h>

#include "config/package_registry.h"
#include "config_test_util.h"
#include "platform/registry.h"

namespace {

using config::ActionRecord;
using config::ActionType;
using config_test::LogCapture;
using config_test::LogLine;

std::vector<int> Types(const std::vector<ActionRecord>& list) {
    std::vector<int> out;
    for (const auto& r : list) out.push_back(static_cast<int>(r.type));
    return out;
}

TEST(InstallItems, ObjectAndArrayFormsConvertValuesAlike) {
    const std::wstring object =
        LR"({"s":"text","i":-12,"u":18446744073709551615,"f":1.5,"t":true,"n":false,"z":null,"a":[1],"o":{}})";
    for (const std::wstring& argument : {object, L"[" + object + L"]"}) {
        auto items = config::ParseInstallItems(argument);
        ASSERT_EQ(items.size(), 1u) << platform::Utf8FromWide(argument);
        std::map<std::wstring, std::wstring, std::less<>> expected = {
            {L"s", L"text"}, {L"i", L"-12"}, {L"u", L"18446744073709551615"}, {L"f", L"1.500000"},
            {L"t", L"yes"},  {L"n", L"no"},  {L"z", L""},                     {L"a", L""},
            {L"o", L""},
        };
        EXPECT_EQ(items[0].Entries(), expected);
    }
}

TEST(InstallItems, OnlyObjectsAndArraysOfObjectsGiveItems) {
    struct Case {
        std::wstring argument;
        std::size_t items;
    } cases[] = {
        {L"{}", 1},
        {LR"([{"a":"1"},2,"x",{"b":"2"},null])", 2},
        {L"[]", 0},
        {L" {\"a\":1}", 0},  // must begin with the brace
        {L"{\"a\":", 0},     // does not parse
        {L"{\"a\":1} trailing", 0},
        {L"Velmo Hub", 0},
        {L"", 0},
        {L"{\"k\":\"\u00e9\U0001F600\"}", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(config::ParseInstallItems(c.argument).size(), c.items) << platform::Utf8FromWide(c.argument);
    EXPECT_EQ(config::ParseInstallItems(L"{\"k\":\"\u00e9\U0001F600\"}")[0].Get(L"k"), L"\u00e9\U0001F600");
}

class InstallList : public velmo_test::MachineTest {
protected:
    std::vector<ActionRecord> Build(const std::wstring& argument) {
        return config::BuildInstallList(argument, facts_, selection_);
    }
    config::BuildFacts facts_ = config_test::TestFacts();
    config::ProductSelection selection_;
};

const std::wstring kVc64 =
    LR"({"uninstallid":"vcredist64","filename":"vc_redist.x64.exe","url":"https://cdn/vc64.exe","parameter":"/q","displayname":"VC x64","minversion":"14.29","checkreg":"SOFTWARE\\vc64"})";
const std::wstring kHubZip =
    LR"({"uninstallid":"Hub","filename":"VelmoHub.zip","url":"https://cdn/hub.zip","displayname":"Velmo Hub","mainfile":"Hub.exe"})";
const std::wstring kSelfZip =
    LR"({"uninstallid":"VelmoInstaller","filename":"VelmoInstaller.zip","url":"https://cdn/i.zip","displayname":"Installer","mainfile":"VelmoInstaller.exe"})";
const std::wstring kMsi =
    LR"({"uninstallid":"M","filename":"m.msi","url":"https://cdn/m.msi","displayname":"M","mainfile":"m.exe","size":3000000000})";

TEST_F(InstallList, RuntimeItemsFollowTheMachineTheChecksAndDaemonMode) {
    platform::RegSetString(platform::Hive::LocalMachine, L"SOFTWARE\\vc64", L"Version", L"v14.30.0.0");
    const std::wstring missingRuntime =
        LR"({"uninstallid":"vcredist64","filename":"vc.exe","url":"https://cdn/vc.exe","parameter":"/q","displayname":"VC","minversion":"14.29","checkreg":"SOFTWARE\\none"})";
    struct Case {
        const char* what;
        bool is64, daemon;
        std::wstring item;
        std::vector<int> types;
        bool alreadyInstalled;
        std::wstring repair;
    } cases[] = {
        {"64-bit runtime on 32-bit Windows is skipped", false, false, kVc64, {14}, false, L""},
        {"present runtime builds nothing", true, false, kVc64, {14}, false, L""},
        {"present runtime is still reported to the daemon", true, true, kVc64, {8, 12}, true, L""},
        // The only configured check fails: exactly one failing check asks for the repair run.
        {"missing runtime is installed", true, false, missingRuntime, {8, 12, 14}, false, L"/q /repair /norestart"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        facts_.isWow64 = c.is64;
        facts_.daemon = c.daemon;
        auto list = Build(L"[" + c.item + L"]");
        EXPECT_EQ(Types(list), c.types);
        if (list.size() >= 2) {
            EXPECT_EQ(list[1].alreadyInstalled, c.alreadyInstalled);
            EXPECT_EQ(list[1].install_data.repairParameter, c.repair);
        }
    }
}

TEST_F(InstallList, DotNetItemsWithAndWithoutMinimum) {
    platform::RegSetDword(platform::Hive::LocalMachine, L"SOFTWARE\\ndp", L"Release", 528040);
    const std::wstring base = LR"("uninstallid":"dotnet","filename":"ndp.exe","url":"https://cdn/ndp.exe","parameter":"/q","displayname":"NET","checkreg":"SOFTWARE\\ndp")";
    struct Case {
        const char* what;
        std::wstring item;
        bool daemon;
        std::vector<int> types;
    } cases[] = {
        {"current release", L"{" + base + LR"(,"minversion":"461808"})", false, {14}},
        {"current release, daemon", L"{" + base + LR"(,"minversion":461808})", true, {8, 12}},
        {"release too low", L"{" + base + LR"(,"minversion":"533320"})", false, {8, 12, 14}},
        {"no minimum counts as not installed", L"{" + base + L"}", false, {8, 12, 14}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        facts_.daemon = c.daemon;
        EXPECT_EQ(Types(Build(c.item)), c.types);
    }
}

TEST_F(InstallList, MissingKeysLogByRoleAndGiveOneConfigError) {
    struct Case {
        const char* what;
        std::wstring item;
        std::vector<LogLine> log;
    } cases[] = {
        {"runtime", LR"({"uninstallid":"vcredist","filename":"vc.exe","url":"u","displayname":"VC"})",
         {{L"Error", L"parse ini item :vcredist error"}, {L"Error", L"essencial elements missing-   parameter   minversion"}}},
        {".NET", LR"({"uninstallid":"dotnet","filename":"ndp.exe","parameter":"/q","displayname":"NET","minversion":"1"})",
         {{L"Error", L"parse ini item :dotnet"}, {L"Error", L"essencial elements missing-  url    checkreg"}}},
        {"product", LR"({"uninstallid":"P","filename":"p.zip","url":"u","displayname":"P"})",
         {{L"Error", L"essencial elements missing-     mainfile"}}},
        {"product without uninstall id", LR"({"filename":"p.zip","url":"u","displayname":"P","mainfile":"p.exe"})",
         {{L"Error", L"essencial elements missing-   uninstallid   "}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        EXPECT_EQ(Types(Build(L"[" + kMsi + L"," + c.item + L"]")), (std::vector<int>{16}));
        std::vector<LogLine> errors;
        for (const auto& l : log.Lines())
            if (l.level == L"Error") errors.push_back(l);
        EXPECT_EQ(errors, c.log);
    }
}

TEST_F(InstallList, FinishAndRestartFollowDaemonModeAndTheHub) {
    struct Case {
        const char* what;
        bool daemon;
        std::wstring argument;
        std::vector<int> types;
    } cases[] = {
        {"interactive: Finish always", false, kMsi, {9, 13, 14}},
        {"daemon without the hub: no Finish", true, kMsi, {9, 13}},
        {"daemon with the hub: Finish", true, L"[" + kMsi + L"," + kHubZip + L"]", {9, 13, 9, 13, 14}},
        {"daemon: the installer's own package restarts it", true, kSelfZip, {9, 13, 18}},
        {"interactive: no restart", false, kSelfZip, {9, 13, 14}},
        {"daemon: uninstall id 0 restarts too", true,
         LR"({"uninstallid":"0","filename":"x.zip","url":"http://x","displayname":"X","mainfile":"x.exe"})", {9, 13, 18}},
        {"no items", false, L"[1,2]", {14}},
        {"no items, daemon", true, L"nonsense", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        facts_.daemon = c.daemon;
        EXPECT_EQ(Types(Build(c.argument)), c.types);
    }
}

TEST_F(InstallList, ArrayItemsAreRecognisedByRoleAndFileEnding) {
    // Array members are converted like object members, so roles, endings and sizes work there too.
    auto list = Build(L"[" + kMsi + L"]");
    ASSERT_EQ(Types(list), (std::vector<int>{9, 13, 14}));
    EXPECT_EQ(list[0].download_data.ByteSize, 3000000000LL);
    EXPECT_EQ(list[1].install_data.Name, L"m.msi");
}

TEST_F(InstallList, ExcludedAppsAreLeftOut) {
    selection_.AddExcludedApps(L"Hub");
    EXPECT_EQ(Types(Build(kHubZip)), (std::vector<int>{14}));
}

class UninstallList : public velmo_test::MachineTest {
protected:
    void Register(const std::wstring& folder, const std::wstring& id) {
        ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, config::kPackageRegistryKey, folder, id), 0);
    }
    config::BuildFacts facts_ = config_test::TestFacts();
};

TEST_F(UninstallList, ArgumentFormsGiveTheirUninstallRecords) {
    Register(L"C:\\Program Files (x86)\\Velmo\\Common", L"Velmo Common");
    Register(L"C:\\Program Files (x86)\\Velmo\\A", L"A");
    Register(L"C:\\Program Files (x86)\\Velmo\\B", L"B");
    struct Case {
        const char* what;
        std::wstring argument;
        bool silent, daemon;
        std::vector<std::pair<std::wstring, std::wstring>> uninstalls;  // (id, uninstall id)
        bool finish;
        bool error;
    } cases[] = {
        {"all, Velmo Common last", L"all", false, false, {{L"", L"A"}, {L"", L"B"}, {L"", L"Velmo Common"}}, true, false},
        {"all in daemon mode has no Finish", L"all", true, true, {{L"", L"A"}, {L"", L"B"}, {L"", L"Velmo Common"}}, false, false},
        {"a name", L"Velmo Hub", false, false, {{L"", L"Velmo Hub"}}, true, false},
        {"All is a name", L"All", false, false, {{L"", L"All"}}, true, false},
        {"object with id", LR"({"uninstallid":"A","id":"42"})", false, false, {{L"42", L"A"}}, true, false},
        {"object by folder, letter case and slashes ignored", LR"({"installfolder":"c:/program files (x86)/velmo/b/bin","id":"9"})",
         false, false, {{L"9", L"B"}}, true, false},
        {"object by an unknown folder", LR"({"installfolder":"D:\\Elsewhere"})", false, false, {}, true, false},
        {"array", LR"([{"uninstallid":"A"}])", false, false, {}, true, false},
        {"empty object, silent", L"{}", true, false, {}, true, false},
        {"empty object, interactive", L"{}", false, false, {}, false, true},
        {"empty uninstall id, interactive", LR"({"uninstallid":""})", false, false, {}, false, true},
        {"wrong type counts as absent", LR"({"uninstallid":5})", false, false, {}, false, true},
        {"not JSON", L"{broken", false, false, {}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        facts_.silent = c.silent;
        facts_.daemon = c.daemon;
        LogCapture log;
        auto list = config::BuildUninstallList(c.argument, facts_);
        if (c.error) {
            EXPECT_EQ(Types(list), (std::vector<int>{16}));
            EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{L"Error", L"essencial elements uninstallid missing"}}));
            continue;
        }
        std::vector<std::pair<std::wstring, std::wstring>> uninstalls;
        for (const auto& r : list) {
            if (r.type != ActionType::Uninstall) continue;
            uninstalls.emplace_back(r.id, r.install_data.uninstallId);
            EXPECT_EQ(r.install_data.DisplayName, r.install_data.uninstallId);
            EXPECT_EQ(r.install_data.progressInterval, 200);
            EXPECT_EQ(r.install_data.InstallType, 0);
        }
        EXPECT_EQ(uninstalls, c.uninstalls);
        EXPECT_EQ(!list.empty() && list.back().type == ActionType::Finish, c.finish);
        EXPECT_EQ(list.size(), c.uninstalls.size() + (c.finish ? 1 : 0));
    }
}

TEST_F(UninstallList, RegistryReadersFollowThePackageRegistryLayout) {
    EXPECT_TRUE(config::ListRegisteredProducts().empty());
    Register(L"C:\\Apps\\Velmo\\Hub", L"Velmo Hub");
    Register(L"C:\\Apps\\Velmo", L"Velmo Suite");
    Register(L"", L"Default value");
    EXPECT_EQ(config::ListRegisteredProducts(),
              (std::vector<std::wstring>{L"Velmo Hub", L"Velmo Suite", L"Default value"}));
    struct Case {
        std::wstring folder, id;
    } cases[] = {
        {L"C:\\Apps\\Velmo\\Hub\\bin", L"Velmo Hub"},  // the first prefix in registry order
        {L"c:/apps/velmo/other", L"Velmo Suite"},
        {L"C:\\Apps\\VelmoX", L"Velmo Suite"},         // a plain text prefix
        {L"D:\\Apps", L""},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(config::ProductByFolder(c.folder), c.id) << platform::Utf8FromWide(c.folder);
}

TEST_F(UninstallList, ThePackageRegistryLivesInThe32BitView) {
    platform::RegKey native;
    ASSERT_EQ(platform::RegKey::Create(platform::Hive::LocalMachine, config::kPackageRegistryKey,
                                       platform::KEY_ALL_ACCESS | platform::KEY_WOW64_64KEY, native),
              0);
    native.SetString(L"C:\\Native", L"Native");
    EXPECT_TRUE(config::ListRegisteredProducts().empty());
    platform::RegKey wow;
    ASSERT_EQ(platform::RegKey::Create(platform::Hive::LocalMachine, config::kPackageRegistryKey,
                                       platform::KEY_ALL_ACCESS | platform::KEY_WOW64_32KEY, wow),
              0);
    wow.SetString(L"C:\\Wow", L"Wow");
    EXPECT_EQ(config::ListRegisteredProducts(), (std::vector<std::wstring>{L"Wow"}));
}

}  // namespace
