#include "config/config_parser.h"

#include <gtest/gtest.h>

#include "config/prerequisites.h"
#include "config_test_util.h"
#include "platform/registry.h"
#include "platform/version_info.h"

namespace {

using config::ActionRecord;
using config::ActionType;
using config_test::LogCapture;
using config_test::LogLine;

const std::wstring kIni = L"C:\\cfg\\VelmoInstaller.ini";

std::vector<int> Types(const std::vector<ActionRecord>& list) {
    std::vector<int> out;
    for (const auto& r : list) out.push_back(static_cast<int>(r.type));
    return out;
}

// A zip product section with every required key.
std::string Zip(const std::string& section, const std::string& uninstallId, const std::string& extra = "") {
    return "[" + section + "]\nfilename=" + section + ".zip\nurl=https://cdn.example/" + section +
           ".zip\nuninstallid=" + uninstallId + "\ndisplayname=" + section + " app\nmainfile=" + section + ".exe\n" + extra;
}

class ParseConfiguration : public velmo_test::MachineTest {
protected:
    config::ConfigParseResult Parse(const std::string& ini, std::wstring_view root = L"C:\\Program Files (x86)") {
        config_test::WriteText(kIni, ini);
        return config::ParseConfigurationFile(kIni, root, facts_, selection_);
    }
    config::BuildFacts facts_ = config_test::TestFacts();
    config::ProductSelection selection_;
};

TEST_F(ParseConfiguration, FilesWithoutTwoSectionsAndAnExactSetupAreRejected) {
    struct Case {
        const char* what;
        std::string ini;
    } cases[] = {
        {"only setup", "[setup]\nproductionname=Velmo\n"},
        {"no section named exactly setup", "[Setup]\n[action1]\n[vcredist]\n"},
        {"a blank left inside", "[setup ;]\n[action1]\n"},
        {"an empty file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        auto result = Parse(c.ini);
        EXPECT_EQ(Types(result.actions), (std::vector<int>{16}));
        EXPECT_FALSE(result.setup.has_value()) << "setup is not applied";
        EXPECT_EQ(result.productSectionCount, 0);
        EXPECT_EQ(log.Lines(), (std::vector<LogLine>{{L"Error", L"essencial elements setup missing"}}));
    }
}

TEST_F(ParseConfiguration, ASemicolonNamedSetupCountsButItsKeysAreNotFoundUnderSetup) {
    auto result = Parse("[;setup;]\nproductionname=Hidden\nlaunchid=5\n[other]\n");
    EXPECT_EQ(Types(result.actions), (std::vector<int>{14}));
    ASSERT_TRUE(result.setup.has_value());
    EXPECT_FALSE(result.setup->productName.has_value());
    EXPECT_EQ(result.setup->launchId, -1);
}

TEST_F(ParseConfiguration, SetupKeysSetTheControllerValuesAndLog) {
    struct Case {
        const char* what;
        std::string setup;
        std::wstring root;
        std::optional<std::wstring> productName;
        std::wstring installRoot;
        std::int32_t launchId;
        std::vector<LogLine> log;
    } cases[] = {
        {"product name", "productionname=Velmo Hub\n", L"C:\\Program Files (x86)", L"Velmo Hub", L"C:\\Program Files (x86)", -1,
         {{L"Debug", L"**************Install Product Name :Velmo Hub *************"}}},
        {"install folder appended, slashes turned", "installfolder=Velmo/Hub\n", L"C:/Program Files (x86)/", std::nullopt,
         L"C:\\Program Files (x86)\\Velmo\\Hub", -1, {}},
        {"slashes turned without install folder", "", L"D:/Apps", std::nullopt, L"D:\\Apps", -1, {}},
        {"launch id", "launchid=42\n", L"C:\\P", std::nullopt, L"C:\\P", 42, {{L"Debug", L"Start Applicatoin Id: 42"}}},
        {"unparsable launch id", "launchid=abc\n", L"C:\\P", std::nullopt, L"C:\\P", -1,
         {{L"Debug", L"Cannot parse lauchid: abc"}}},
        {"launch id beyond 32 bits", "launchid=99999999999\n", L"C:\\P", std::nullopt, L"C:\\P", -1,
         {{L"Debug", L"Cannot parse lauchid: 99999999999"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        auto result = Parse("[setup]\n" + c.setup + "[nothing]\n", c.root);
        ASSERT_TRUE(result.setup.has_value());
        EXPECT_EQ(result.setup->productName, c.productName);
        EXPECT_EQ(result.setup->installRoot, c.installRoot);
        EXPECT_EQ(result.setup->launchId, c.launchId);
        EXPECT_EQ(log.Lines(), c.log);
    }
    auto result = Parse("[setup]\nlaunchfile=Hub.exe\nlaunchname=Hub\n[x]\n");
    EXPECT_EQ(result.setup->launchFile, L"Hub.exe");
    EXPECT_EQ(result.setup->launchName, L"Hub");
}

TEST_F(ParseConfiguration, TheFileEndingSelectsTheBuilderAndEveryProductSectionCounts) {
    struct Case {
        std::string fileName;
        std::vector<int> types;
        std::int32_t installType;
    } cases[] = {
        {"Tool.ZIP", {9, 13, 14}, 3}, {"tool.7z", {14}, -1}, {"setup.EXE", {9, 13, 14}, 2},
        {"product.msi", {9, 13, 14}, 2}, {"archive.zipx", {14}, -1}, {"noending", {14}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        auto result = Parse("[setup]\n[action1]\nfilename=" + c.fileName +
                            "\nurl=http://x/p\nuninstallid=P\ndisplayname=P\nmainfile=p.exe\n");
        EXPECT_EQ(Types(result.actions), c.types);
        EXPECT_EQ(result.productSectionCount, 1);
        if (c.installType >= 0) {
            EXPECT_EQ(result.actions[1].install_data.InstallType, c.installType);
        }
    }
}

TEST_F(ParseConfiguration, MissingRequiredKeysGiveOneConfigErrorAndTheirMessages) {
    struct Case {
        const char* what;
        std::string sections;
        std::vector<LogLine> errors;
    } cases[] = {
        {"product", "[action1]\nfilename=a.zip\nuninstallid=A\ndisplayname=A\n",
         {{L"Error", L"parse ini item :action1 error"}, {L"Error", L"essencial elements missing-  url    mainfile"}}},
        {"product without anything", "[my action]\n",
         {{L"Error", L"parse ini item :my action error"},
          {L"Error", L"essencial elements missing- filename  url  uninstallid  displayname  mainfile"}}},
        {"runtime", "[vcredist_x86]\nfilename=vc.exe\nurl=u\nparameter=/q\ndisplayname=VC\n",
         {{L"Error", L"parse ini item vcredist error"}, {L"Error", L"essencial elements missing-     minversion"}}},
        {".NET", "[dotnet48]\nfilename=ndp.exe\nparameter=/q\ndisplayname=NET\nminversion=528040\n",
         {{L"Error", L"parse ini item dotnet error"}, {L"Error", L"essencial elements missing-  url     checkreg"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        // A valid product before the broken section: its records are dropped too.
        auto result = Parse("[setup]\n" + Zip("action0", "Z") + c.sections);
        EXPECT_EQ(Types(result.actions), (std::vector<int>{16}));
        std::vector<LogLine> errors;
        for (const auto& l : log.Lines())
            if (l.level == L"Error") errors.push_back(l);
        EXPECT_EQ(errors, c.errors);
    }
}

TEST_F(ParseConfiguration, A64BitRuntimeSectionIsSkippedEntirelyOn32BitWindows) {
    const std::string ini = "[setup]\n[vcredist64_2019]\nfilename=vc_redist.x64.exe\n";
    facts_.isWow64 = false;
    EXPECT_EQ(Types(Parse(ini).actions), (std::vector<int>{14}));
    facts_.isWow64 = true;
    EXPECT_EQ(Types(Parse(ini).actions), (std::vector<int>{16})) << "on 64-bit it reaches the key check";
}

class RuntimeRepair : public ParseConfiguration {
protected:
    void SetRegistry(const wchar_t* version) {
        ASSERT_EQ(platform::RegSetString(platform::Hive::LocalMachine, kKey, L"Version", version), 0);
    }
    void SetDll(platform::VersionQuad v) {
        platform::VersionBlockSpec spec;
        spec.fileVersion = v;
        ASSERT_TRUE(platform::WriteWholeFile(L"C:\\Windows\\SysWOW64\\vcruntime140.dll",
                                             platform::BuildPeWithVersion(platform::BuildVersionInfoBlock(spec))));
    }
    static constexpr const wchar_t* kKey = L"SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86";
};

TEST_F(RuntimeRepair, ExactlyOneFailingCheckAsksForARepair) {
    struct Case {
        const char* what;
        bool withReg, regCurrent, withFile, fileCurrent;
        std::vector<int> types;
        std::wstring repair;
    } cases[] = {
        {"both current", true, true, true, true, {14}, L""},
        {"registry fails, file current", true, false, true, true, {8, 12, 14}, L"/q /repair /norestart"},
        {"registry current, file fails", true, true, true, false, {8, 12, 14}, L"/q /repair /norestart"},
        {"both fail", true, false, true, false, {8, 12, 14}, L""},
        {"no check keys", false, false, false, false, {14}, L""},
        {"only a failing file check", false, false, true, false, {8, 12, 14}, L"/q /repair /norestart"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::RegDeleteTree(platform::Hive::LocalMachine, kKey);
        SetRegistry(c.regCurrent ? L"v14.29.30133.00" : L"v14.0.0.0");
        SetDll(c.fileCurrent ? platform::VersionQuad{14, 29, 30133, 0} : platform::VersionQuad{14, 0, 0, 0});
        std::string ini = "[setup]\n[vcredist_x86]\nfilename=vc_redist.x86.exe\nurl=https://cdn/vc.exe\n"
                          "parameter=/install /quiet /norestart\ndisplayname=Visual C++\nminversion=14.29.30133\n";
        if (c.withReg) ini += "checkreg=SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86\n";
        if (c.withFile) ini += "checkfile=vcruntime140.dll\n";
        auto result = Parse(ini);
        EXPECT_EQ(Types(result.actions), c.types);
        if (c.types.size() == 3) {
            EXPECT_EQ(result.actions[1].install_data.repairParameter, c.repair);
            EXPECT_FALSE(result.actions[1].alreadyInstalled);
        }
    }
}

TEST_F(ParseConfiguration, DotNetIsInstalledOnlyWhenTheReleaseIsTooLow) {
    const std::wstring key = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
    const std::string ini = "[setup]\n[dotnet48]\ncheckreg=SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\n"
                            "filename=ndp48.exe\nurl=https://cdn/ndp48.exe\nparameter=/q\ndisplayname=.NET 4.8\n"
                            "minversion=528040\n";
    EXPECT_EQ(Types(Parse(ini).actions), (std::vector<int>{8, 12, 14}));
    ASSERT_EQ(platform::RegSetDword(platform::Hive::LocalMachine, key, L"Release", 461808), 0);
    auto low = Parse(ini);
    EXPECT_EQ(Types(low.actions), (std::vector<int>{8, 12, 14}));
    EXPECT_EQ(low.actions[1].install_data.repairParameter, L"");
    ASSERT_EQ(platform::RegSetDword(platform::Hive::LocalMachine, key, L"Release", 528040), 0);
    EXPECT_EQ(Types(Parse(ini).actions), (std::vector<int>{14}));
}

TEST_F(ParseConfiguration, RuntimesThenDotNetThenProductsInFileOrderThenFinish) {
    auto result = Parse(Zip("action_b", "B") +
                        "[dotnet]\ncheckreg=SOFTWARE\\none\nfilename=ndp.exe\nurl=http://d\nparameter=/q\n"
                        "displayname=NET\nminversion=1\n" +
                        "[setup]\n" + Zip("action_a", "A") +
                        "[vcredist_x86]\nfilename=vc.exe\nurl=http://v\nparameter=/q\ndisplayname=VC\nminversion=14.0\n"
                        "checkreg=SOFTWARE\\none\n");
    std::vector<std::wstring> names;
    for (const auto& r : result.actions)
        names.push_back(r.download_data.DisplayName.empty() ? r.install_data.DisplayName : r.download_data.DisplayName);
    EXPECT_EQ(Types(result.actions), (std::vector<int>{8, 12, 8, 12, 9, 13, 9, 13, 14}));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"VC", L"VC", L"NET", L"NET", L"action_b app", L"action_b app",
                                                L"action_a app", L"action_a app", L""}));
    EXPECT_EQ(result.productSectionCount, 2);
}

TEST_F(ParseConfiguration, SharedUninstallIdsMarkTheInstallRecordsAsMultiFolder) {
    auto result = Parse("[setup]\n" + Zip("action1", "Suite") + Zip("action2", "Suite") + Zip("action3", "Other") +
                        Zip("action4", "") + Zip("action5", ""));
    ASSERT_EQ(Types(result.actions), (std::vector<int>{9, 13, 9, 13, 9, 13, 9, 13, 9, 13, 14}));
    std::vector<bool> marks;
    for (const auto& r : result.actions) marks.push_back(r.install_data.isMultiFolder);
    // Download records carry no uninstall id; an empty id names no product and is never shared.
    EXPECT_EQ(marks, (std::vector<bool>{false, true, false, true, false, false, false, false, false, false, false}));
}

TEST_F(ParseConfiguration, TheSameSectionNameTwiceIsReadTwiceFromItsFirstBlock) {
    auto result = Parse("[setup]\n" + Zip("action1", "A") + Zip("action1", "B"));
    ASSERT_EQ(Types(result.actions), (std::vector<int>{9, 13, 9, 13, 14}));
    EXPECT_EQ(result.actions[3].install_data.uninstallId, L"A");
    EXPECT_TRUE(result.actions[3].install_data.isMultiFolder);
    EXPECT_EQ(result.productSectionCount, 2);
}

TEST_F(ParseConfiguration, PackageSourceDecidesBetweenDownloadLocalPackageAndPlacedFile) {
    config_test::WriteText(L"C:\\Packages\\present.zip", "zip");
    config_test::WriteText(L"C:\\Installer\\VelmoInstaller\\beside.zip", "zip");
    struct Case {
        const char* what;
        std::string fileName, url;
        std::vector<int> types;
        std::wstring path;
    } cases[] = {
        {"https in capitals is fetched", "a.zip", "HTTPS://cdn/a.zip", {9, 13, 14},
         L"C:\\Temp\\VelmoInstaller\\hearthview2024\\a.zip"},
        {"an existing local file is used in place", "present.zip", "C:\\Packages\\present.zip", {13, 14},
         L"C:\\Packages\\present.zip"},
        {"a local path that does not exist is fetched", "gone.zip", "C:\\Packages\\gone.zip", {9, 13, 14},
         L"C:\\Temp\\VelmoInstaller\\hearthview2024\\gone.zip"},
        {"a package beside the installer overrides the download", "beside.zip", "https://cdn/beside.zip", {13, 14},
         L"C:\\Installer\\VelmoInstaller\\beside.zip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto result = Parse("[setup]\n[action1]\nfilename=" + c.fileName + "\nurl=" + c.url +
                            "\nuninstallid=A\ndisplayname=A\nmainfile=a.exe\n");
        EXPECT_EQ(Types(result.actions), c.types);
        const auto& install = result.actions[c.types.size() - 2];
        EXPECT_EQ(install.install_data.FilePath, c.path);
        EXPECT_EQ(install.install_data.needsDownload, c.types.size() == 3);
    }
}

}  // namespace
