#include "config/action_builders.h"

#include <gtest/gtest.h>

#include "config_test_util.h"
#include "util/launch_options.h"

namespace {

using config::ActionRecord;
using config::ActionType;
using config::ConfigSection;
using config_test::LogCapture;
using config_test::LogLine;

ConfigSection Item(std::initializer_list<std::pair<std::wstring, std::wstring>> entries) {
    ConfigSection s;
    for (const auto& [k, v] : entries) s.Add(k, v);
    return s;
}

ConfigSection ZipItem(std::initializer_list<std::pair<std::wstring, std::wstring>> extra = {}) {
    ConfigSection s = Item(extra);
    s.Add(L"filename", L"VelmoGauge.zip");
    s.Add(L"url", L"https://cdn.example/VelmoGauge.zip");
    s.Add(L"uninstallid", L"Velmo Gauge");
    s.Add(L"displayname", L"Velmo Gauge");
    s.Add(L"mainfile", L"Gauge.exe");
    return s;
}

class Builders : public velmo_test::MachineTest {
protected:
    config::BuildFacts facts_ = config_test::TestFacts();
    config::ProductSelection selection_;
};

TEST_F(Builders, PrerequisiteRecordsCarryEveryField) {
    LogCapture log;
    ConfigSection item = Item({{L"filename", L"vc_redist.x86.exe"}, {L"url", L"https://cdn/vc.exe"},
                               {L"parameter", L"/install /quiet"}, {L"displayname", L"Visual C++"},
                               {L"uninstallid", L"vcredist"}, {L"md5", L"0123abcd"}, {L"size", L"5000000000"},
                               {L"systemcomponents", L"yes"}, {L"isPrerequisite", L"yes"}});
    auto list = config::GetPreRequestActon(item, false, L"/q /repair /norestart", facts_);
    ASSERT_EQ(list.size(), 2u);
    const ActionRecord& d = list[0];
    EXPECT_EQ(d.type, ActionType::PrerequisiteDownload);
    EXPECT_EQ(d.id, L"");
    EXPECT_EQ(d.download_data.UpdateType, L"");
    EXPECT_EQ(d.download_data.URL, L"https://cdn/vc.exe");
    EXPECT_EQ(d.download_data.Name, L"vc_redist.x86.exe");
    EXPECT_EQ(d.download_data.DisplayName, L"Visual C++");
    EXPECT_EQ(d.download_data.downloadMd5, L"0123abcd");
    EXPECT_EQ(d.download_data.ByteSize, 5000000000LL) << "sizes above 4 GiB are kept";
    EXPECT_TRUE(d.download_data.isSystemComponent);
    EXPECT_FALSE(d.download_data.isVelmoComponent);

    const ActionRecord& r = list[1];
    EXPECT_EQ(r.type, ActionType::PrerequisiteInstall);
    EXPECT_EQ(r.id, L"vcredist") << "the uninstall id stands in for a missing id";
    EXPECT_EQ(r.install_data.InstallType, 0);
    EXPECT_EQ(r.install_data.UpdateType, L"");
    EXPECT_EQ(r.install_data.FilePath, L"C:\\Temp\\VelmoInstaller\\hearthview2024\\vc_redist.x86.exe");
    EXPECT_EQ(r.install_data.CommandLineParameter, L"/install /quiet");
    EXPECT_EQ(r.install_data.successExitCodes, (std::map<std::int32_t, std::int32_t>{{1641, 1}, {3010, 1}}));
    EXPECT_EQ(r.install_data.progressInterval, 1000);
    EXPECT_TRUE(r.install_data.needsDownload);
    EXPECT_EQ(r.install_data.installMd5, L"0123abcd");
    EXPECT_TRUE(r.install_data.isPrerequisite);
    EXPECT_TRUE(r.install_data.isSystemComponent);
    EXPECT_EQ(r.install_data.repairParameter, L"/q /repair /norestart");
    EXPECT_FALSE(r.alreadyInstalled);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{
                               {L"Debug", L"Download GetPreRequestActon file:Visual C++ MD5:0123abcd \r\n"},
                               {L"Debug", L"Download GetPreRequestActon file:Visual C++ size:5000000000 \r\n"},
                               {L"Debug", L"Download GetPreRequestActon install_data md5:0123abcd \r\n"},
                           }));
}

TEST(PackageSize, SixtyFourBitCountsAndZeroForAnythingElse) {
    struct Case {
        const wchar_t* text;
        std::int64_t size;
    } cases[] = {
        {L"1234", 1234},
        {L"3000000000", 3000000000LL},
        {L"9223372036854775807", 9223372036854775807LL},
        {L"9223372036854775808", 0},
        {L"-5", 0},
        {L"abc", 0},
        {L"", 0},
        {L" +42kb", 42},
    };
    for (const auto& c : cases) EXPECT_EQ(config::ParsePackageSize(c.text), c.size) << platform::Utf8FromWide(c.text);
}

TEST_F(Builders, SetupProgramsGetTheMsiLogOnTheirCommandLine) {
    LogCapture log;
    ConfigSection item = Item({{L"filename", L"Hub.msi"}, {L"url", L"http://cdn/Hub.msi"}, {L"uninstallid", L"Hub"},
                               {L"displayname", L"Velmo Hub"}, {L"mainfile", L"Hub.exe"}, {L"id", L"7"},
                               {L"parameter", L"/qn ALLUSERS=1"}, {L"upgradecode", L"{UP}"}, {L"size", L"12"},
                               {L"installfolder", L"Velmo/Hub"}});
    auto list = config::GetMSIAction(item, facts_, selection_);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].type, ActionType::SetupDownload);
    EXPECT_EQ(list[0].id, L"7");
    EXPECT_EQ(list[0].download_data.UpdateType, L"setup");
    EXPECT_EQ(list[0].download_data.ByteSize, 12);
    const auto& i = list[1].install_data;
    EXPECT_EQ(list[1].type, ActionType::SetupInstall);
    EXPECT_EQ(i.InstallType, 2);
    EXPECT_EQ(i.UpdateType, L"setup");
    EXPECT_EQ(i.CommandLineParameter,
              L" /log \"C:\\Temp\\VelmoInstaller\\hearthview2024\\24_05_13_09-41AM_ISM.Log\" /qn ALLUSERS=1");
    EXPECT_EQ(i.Upgrade_code, L"{UP}");
    EXPECT_EQ(i.InstallFolder, L"Velmo\\Hub");
    EXPECT_EQ(i.checkVersionFile, L"Hub.exe");
    EXPECT_TRUE(i.needsDownload);
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{L"Debug", L"GetMSIAction download_data fileName:Hub.msi no md5 \r\n"}}));

    ConfigSection bare = Item({{L"filename", L"s.exe"}, {L"url", L"http://x"}, {L"md5", L"ff"}});
    log.Clear();
    auto plain = config::GetMSIAction(bare, facts_, selection_);
    EXPECT_EQ(plain[1].install_data.CommandLineParameter,
              L" /log \"C:\\Temp\\VelmoInstaller\\hearthview2024\\24_05_13_09-41AM_ISM.Log\" ");
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{L"Debug", L"GetMSIAction download_data fileName:s.exe md5:ff \r\n"}}));
}

TEST_F(Builders, ZipPackagesAreFilteredByArchitecture) {
    struct Case {
        bool is64;
        const wchar_t* arch;
        const wchar_t* only64;
        bool built;
    } cases[] = {
        {true, L"x86", nullptr, false}, {true, L"x64", nullptr, true},  {true, nullptr, L"yes", true},
        {false, L"x64", nullptr, false}, {false, L"x86", nullptr, true}, {false, L"x86", L"yes", false},
        {false, nullptr, L"Yes", true},  {true, L"X86", nullptr, true},  // values compare exactly
    };
    for (const auto& c : cases) {
        facts_.isWow64 = c.is64;
        ConfigSection item = ZipItem();
        if (c.arch) item.Add(L"arch", c.arch);
        if (c.only64) item.Add(L"is64BitOnly", c.only64);
        EXPECT_EQ(!config::GetUnzipAction(item, facts_, selection_).empty(), c.built)
            << c.is64 << " " << (c.arch ? platform::Utf8FromWide(c.arch) : "-") << " "
            << (c.only64 ? platform::Utf8FromWide(c.only64) : "-");
    }
}

TEST_F(Builders, UnsupportedOsPartsAreComparedUntrimmed) {
    struct Case {
        std::int32_t os;
        const wchar_t* list;
        bool built;
    } cases[] = {
        {7, L"7,10", false}, {10, L"7,10", false}, {8, L"7,10", true},
        {10, L"7, 10", true},  // " 10" never matches
        {7, L"7, 10", false},   {10, L"", true}, {6, L"6", false}, {10, L"10,", false}, {10, L",,", true},
    };
    for (const auto& c : cases) {
        facts_.osCode = c.os;
        EXPECT_EQ(!config::GetUnzipAction(ZipItem({{L"unsupportedos", c.list}}), facts_, selection_).empty(), c.built)
            << c.os << " in \"" << platform::Utf8FromWide(c.list) << "\"";
    }
}

TEST_F(Builders, ZipInstallRecordCarriesEveryField) {
    LogCapture log;
    ConfigSection item = ZipItem({{L"id", L"g1"}, {L"md5", L"abc"}, {L"size", L"99"}, {L"installfolder", L"%common%/Gauge"},
                                  {L"checkversion", L"yes"}, {L"version", L"1.2.3"}, {L"parameter", L"-x"},
                                  {L"preexecfile", L"pre.exe"}, {L"subaction", L"yes"}, {L"notuninstall", L"yes"},
                                  {L"velmocomponents", L"yes"}, {L"isPrerequisite", L"yes"}});
    auto list = config::GetUnzipAction(item, facts_, selection_);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(list[0].download_data.isVelmoComponent);
    EXPECT_EQ(list[0].download_data.downloadMd5, L"abc");
    EXPECT_EQ(list[0].download_data.ByteSize, 99);
    const auto& i = list[1].install_data;
    EXPECT_EQ(list[1].id, L"g1");
    EXPECT_EQ(i.InstallType, 3);
    EXPECT_EQ(i.progressInterval, 160);
    EXPECT_EQ(i.uninstallId, L"Velmo Gauge");
    EXPECT_EQ(i.InstallFolder, L"%common%\\Gauge");
    EXPECT_TRUE(i.checkVersion);
    EXPECT_EQ(i.version, L"1.2.3");
    EXPECT_EQ(i.CommandLineParameter, L"-x");
    EXPECT_EQ(i.preexecfile, L"pre.exe");
    EXPECT_FALSE(i.isMainItem);
    EXPECT_FALSE(i.isCreateUninstall);
    EXPECT_TRUE(i.isPrerequisite);
    EXPECT_TRUE(i.isVelmoComponent);
    EXPECT_EQ(i.checkVersionFile, L"Gauge.exe");
    EXPECT_EQ(i.installMd5, L"abc");
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{
                               {L"Debug", L"Pending unzip action file path :https://cdn.example/VelmoGauge.zip "},
                               {L"Debug", L"GetUnzipAction download_data fileName:VelmoGauge.zip md5:abc \r\n"},
                               {L"Debug", L"Add download action :C:\\Temp\\VelmoInstaller\\hearthview2024\\VelmoGauge.zip "},
                           }));
}

TEST_F(Builders, ShortcutWishesAndTheNumberedKeyFamily) {
    using Map = std::map<std::wstring, std::wstring>;
    using List = std::vector<std::wstring>;
    struct Case {
        const char* what;
        std::vector<std::pair<std::wstring, std::wstring>> keys;
        bool checkBox;
        bool wants;
        List options;
        Map shortcuts;
        List urls;
    } cases[] = {
        {"shortcut=desktop, yes,, turns shortcuts on and keeps two options",
         {{L"shortcut", L"desktop, yes,,"}}, false, true, {L"desktop", L"yes"}, {{L"Velmo Gauge", L"Gauge.exe"}}, {}},
        {"no comma, no options", {{L"shortcut", L"yes"}}, false, true, {}, {{L"Velmo Gauge", L"Gauge.exe"}}, {}},
        {"no wish, no check box: no program shortcuts", {{L"shortcut", L"no"}}, false, false, {}, {}, {}},
        {"the settings check box alone is enough", {}, true, false, {}, {{L"Velmo Gauge", L"Gauge.exe"}}, {}},
        {"noshortcut wins over every wish", {{L"shortcut", L"yes"}, {L"noshortcut", L"yes"}}, true, true, {}, {}, {}},
        {"the family stops at the first absent key; the third key is ...12",
         {{L"shortcut", L"yes"},
          {L"shortcutnameandpath", L"Gauge"},
          {L"shortcutnameandpath1", L"Tools\\Gauge Cfg,cfg.exe"},
          {L"shortcutnameandpath12", L"Third,third.exe"},
          {L"shortcutnameandpath2", L"Never,never.exe"},
          {L"shortcutnameandpath1234", L"Gap,gap.exe"}},
         false, true, {},
         {{L"Gauge", L"Gauge.exe"}, {L"Tools\\Gauge Cfg", L"cfg.exe"}, {L"Third", L"third.exe"}}, {}},
        {"start menu alone reads program shortcuts",
         {{L"startmenu", L"yes"}, {L"shortcutnameandpath", L"A,a.exe"}}, false, false, {}, {{L"A", L"a.exe"}}, {}},
        {"internet shortcuts need only the bare key; empty values are skipped",
         {{L"noshortcut", L"yes"},
          {L"urlshortcutnameandpath", L"Help,https://help"},
          {L"urlshortcutnameandpath1", L""},
          {L"urlshortcutnameandpath12", L"Shop,https://shop"}},
         false, false, {}, {}, {L"Help,https://help", L"Shop,https://shop"}},
        {"without the bare key later keys are not read", {{L"urlshortcutnameandpath1", L"X,https://x"}}, false, false, {},
         {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        facts_.desktopShortcutChoice = c.checkBox;
        ConfigSection item = ZipItem();
        for (const auto& [k, v] : c.keys) item.Add(k, v);
        auto list = config::GetUnzipAction(item, facts_, selection_);
        ASSERT_EQ(list.size(), 2u);
        const auto& i = list[1].install_data;
        EXPECT_EQ(i.wantsShortcut, c.wants);
        EXPECT_EQ(i.desktopShortcutOptions, c.options);
        EXPECT_EQ(i.shortcuts, c.shortcuts);
        EXPECT_EQ(i.urlShortcuts, c.urls);
        EXPECT_EQ(i.hasUrlShortcuts, item.Has(L"urlshortcutnameandpath"));
    }
}

TEST_F(Builders, TheDefaultShortcutFallsBackToTheUninstallId) {
    ConfigSection item = Item({{L"filename", L"a.zip"}, {L"url", L"http://a"}, {L"uninstallid", L"App Id"},
                               {L"displayname", L""}, {L"mainfile", L"bin\\a.exe"}, {L"shortcut", L"yes"}});
    auto list = config::GetUnzipAction(item, facts_, selection_);
    EXPECT_EQ(list[1].install_data.shortcuts, (std::map<std::wstring, std::wstring>{{L"App Id", L"bin\\a.exe"}}));
}

TEST_F(Builders, StartMenuDetailsAreReadOnlyWithTheStartMenuWish) {
    ConfigSection with = ZipItem({{L"startmenu", L"yes"}, {L"startmenufolder", L"Velmo"}, {L"appusermid", L"Velmo.Gauge"},
                                  {L"activatorid", L"{1234}"}});
    ConfigSection without = ZipItem({{L"startmenu", L"no"}, {L"startmenufolder", L"Velmo"}, {L"appusermid", L"Velmo.Gauge"},
                                     {L"activatorid", L"{1234}"}});
    const auto a = config::GetUnzipAction(with, facts_, selection_)[1].install_data;
    const auto b = config::GetUnzipAction(without, facts_, selection_)[1].install_data;
    EXPECT_TRUE(a.wantsStartMenu);
    EXPECT_EQ(a.startMenuFolder + L"|" + a.appUserModelId + L"|" + a.activatorId, L"Velmo|Velmo.Gauge|{1234}");
    EXPECT_FALSE(b.wantsStartMenu);
    EXPECT_EQ(b.startMenuFolder + b.appUserModelId + b.activatorId, L"");
}

TEST(NumberedKeys, EachKeyIsThePreviousOneWithTheNextNumber) {
    ConfigSection s;
    std::wstring key = L"k";
    for (int n = 1; n <= 12; ++n) {
        s.Add(key, std::to_wstring(n));
        key += std::to_wstring(n);
    }
    auto values = config::NumberedKeyFamily(s, L"k");
    ASSERT_EQ(values.size(), 12u);
    EXPECT_EQ(values.front(), L"1");
    EXPECT_EQ(values.back(), L"12");
    EXPECT_TRUE(s.Has(L"k1234567891011"));
}

}  // namespace

namespace {

class RunFacts : public velmo_test::MachineTest {};

TEST_F(RunFacts, CurrentFactsComeFromTheProfileTheOptionsAndTheFolders) {
    config_test::SetProfile(false, 6, 1);
    util::LaunchOptions options;
    options.silent = true;
    options.daemon = true;
    options.desktopShortcutsForAll = true;
    options.installId = L"velmocore";
    config::BuildFacts f = config::CurrentBuildFacts(options);
    EXPECT_FALSE(f.isWow64);
    EXPECT_EQ(f.osCode, 7);
    EXPECT_TRUE(f.silent && f.daemon && f.desktopShortcutChoice);
    EXPECT_EQ(f.downloadFolder, util::JoinPath(platform::GetTempPath(), L"VelmoInstaller\\velmocore"));
    EXPECT_EQ(f.localPackageFolder, util::JoinPath(util::ExecutableFolder(), L"VelmoInstaller"));
}

}  // namespace
