#include <gtest/gtest.h>

#include "config/action_record.h"
#include "config/config_parser.h"
#include "config_test_util.h"

namespace {

using config::ActionType;
using config_test::LogCapture;
using config_test::LogLine;

const std::wstring kIni = L"C:\\cfg\\VelmoInstaller.ini";

// A configuration whose names list and first product block each take exactly `namesTotal` and
// `blockTotal` UTF-16 units (every string with its terminator) as the reader returns them.
std::string LimitConfig(std::size_t namesTotal, std::size_t blockTotal) {
    // Names: "setup" (6), "action1" (8), the filler, "action2" (8).
    std::size_t fillerName = namesTotal - 6 - 8 - 8 - 1;
    std::string names_filler = "pad" + std::string(fillerName - 3, 'n');
    std::vector<std::string> entries = {
        "id=11", "filename=a1.zip", "url=https://cdn/a1.zip", "uninstallid=Alpha", "displayname=Alpha",
        "size=3000000000", "installfolder=Velmo/Alpha", "version=1.0.0",
    };
    std::size_t used = 0;
    for (const auto& e : entries) used += e.size() + 1;
    const std::string last = "mainfile=alpha.exe";
    std::size_t note = blockTotal - used - (last.size() + 1) - 1;  // "note=" + text + terminator
    entries.push_back("note=" + std::string(note - 5, 'x'));
    entries.push_back(last);
    std::string ini = "[setup]\nproductionname=Velmo Alpha\n[action1]\n";
    for (const auto& e : entries) ini += e + "\n";
    ini += "[" + names_filler + "]\nignored=1\n";
    ini += "[action2]\nfilename=b2.msi\nurl=https://cdn/b2.msi\nuninstallid=Beta\ndisplayname=Beta\nmainfile=beta.exe\n"
           "parameter=/qn\nmd5=00ff\n";
    return ini;
}

class DumpAtLimits : public velmo_test::MachineTest {
protected:
    config::ConfigParseResult Parse(std::size_t names, std::size_t block) {
        config_test::WriteText(kIni, LimitConfig(names, block));
        return config::ParseConfigurationFile(kIni, L"C:\\P", facts_, selection_);
    }
    config::BuildFacts facts_ = config_test::TestFacts();
    config::ProductSelection selection_;
};

std::vector<int> Types(const std::vector<config::ActionRecord>& list) {
    std::vector<int> out;
    for (const auto& r : list) out.push_back(static_cast<int>(r.type));
    return out;
}

TEST_F(DumpAtLimits, NamesListJustUnderAndOverTheLimit) {
    EXPECT_EQ(Types(Parse(2046, 1000).actions), (std::vector<int>{9, 13, 9, 13, 14}));
    EXPECT_EQ(Types(Parse(2047, 1000).actions), (std::vector<int>{9, 13, 9, 13, 14}));
    auto over = Parse(2048, 1000);
    EXPECT_EQ(Types(over.actions), (std::vector<int>{9, 13, 14})) << "the last product's name is beyond the limit";
    EXPECT_EQ(over.productSectionCount, 1);
}

TEST_F(DumpAtLimits, SectionBlockJustUnderAndOverTheLimit) {
    EXPECT_EQ(Types(Parse(1000, 2046).actions), (std::vector<int>{9, 13, 9, 13, 14}));
    EXPECT_EQ(Types(Parse(1000, 2047).actions), (std::vector<int>{9, 13, 9, 13, 14}));
    LogCapture log;
    EXPECT_EQ(Types(Parse(1000, 2048).actions), (std::vector<int>{16})) << "mainfile is beyond the limit";
    EXPECT_EQ(log.Messages(L"Error"), (std::vector<std::wstring>{L"parse ini item :action1 error",
                                                                 L"essencial elements missing-     mainfile"}));
}

TEST_F(DumpAtLimits, TheActionListDumpPrintsEveryRecordInTheLogFormat) {
    auto result = Parse(2047, 2047);
    ASSERT_EQ(Types(result.actions), (std::vector<int>{9, 13, 9, 13, 14}));
    LogCapture log;
    config::LogActionList(result.actions);
    const std::wstring msi = L"C:\\Temp\\VelmoInstaller\\hearthview2024\\24_05_13_09-41AM_ISM.Log";
    std::vector<LogLine> expected = {
        {L"Debug", L"current step:0 id:11 type:9 "},
        {L"Debug", L"----------------download_data-----------------\n UpdateType:setup  ReleaseNotes: URL:https://cdn/a1.zip "
                   L"DisplayName:Alpha ByteSize:3000000000 Name:a1.zip"},
        {L"Debug", L"current step:1 id:11 type:13 "},
        {L"Debug", L"----------------install_data-----------------\n UpdateType:setup  InstallType:3  Name:a1.zip "
                   L"FilePath:C:\\Temp\\VelmoInstaller\\hearthview2024\\a1.zip DisplayName:Alpha Upgrade_code: \n "
                   L"CommandLineParameter: InstallFolder:Velmo\\Alpha checkVersionFile:alpha.exe \n uninstallId:Alpha "
                   L"version:1.0.0 preexecfile:"},
        {L"Debug", L"current step:2 id: type:9 "},
        {L"Debug", L"----------------download_data-----------------\n UpdateType:setup  ReleaseNotes: URL:https://cdn/b2.msi "
                   L"DisplayName:Beta ByteSize:0 Name:b2.msi"},
        {L"Debug", L"current step:3 id: type:13 "},
        {L"Debug", L"----------------install_data-----------------\n UpdateType:setup  InstallType:2  Name:b2.msi "
                   L"FilePath:C:\\Temp\\VelmoInstaller\\hearthview2024\\b2.msi DisplayName:Beta Upgrade_code: \n "
                   L"CommandLineParameter: /log \"" + msi + L"\" /qn InstallFolder: checkVersionFile:beta.exe \n uninstallId: "
                   L"version: preexecfile:"},
        {L"Debug", L"current step:4 id: type:14 "},
    };
    EXPECT_EQ(log.Lines(), expected);
}

TEST(ActionDump, GroupsArePrintedWhenTheirFirstTextIsSet) {
    config::ActionRecord r = config::MakeAction(ActionType::ConfigDownload);
    r.id = L"cfg";
    r.launch_data.UpdateType = L"launch";
    r.launch_data.Name = L"Hub.exe";
    r.launch_data.SilentMode = 1;
    r.checkversion_data.version = L"2.0.1.50";
    r.checkversion_data.upgradeCode = L"{U}";
    r.download_data.URL = L"https://not/printed";  // UpdateType empty: no download group
    EXPECT_EQ(config::ActionListDump({r}),
              (std::vector<std::wstring>{
                  L"current step:0 id:cfg type:5 ",
                  L"----------------launch_data-----------------\n UpdateType:launch  Name:Hub.exe  SilentMode:1",
                  L"----------------checkversion_data-----------------\n version:2.0.1.50  upgradeCode:{U} ",
              }));
    r.download_data.UpdateType = L"setup";
    r.download_data.ByteSize = 5368709120LL;
    r.install_data.UpdateType = L"setup";
    EXPECT_EQ(config::InternalActionDump(r),
              (std::vector<std::wstring>{
                  L"----------------internal download data-----------------\n UpdateType:setup  ReleaseNotes: "
                  L"URL:https://not/printed DisplayName: ByteSize:5368709120 Name:",
                  L"----------------internal launch data-----------------\n UpdateType:launch  Name:Hub.exe  SilentMode:1",
                  L"----------------internal install data-----------------\n UpdateType:setup  InstallType:0  Name: FilePath: "
                  L"DisplayName: Upgrade_code: \n CommandLineParameter: InstallFolder: checkVersionFile: \n uninstallId: "
                  L"version: preexecfile:",
                  L"----------------internal checkversion data-----------------\n version:2.0.1.50  upgradeCode:{U} ",
              }));
}

TEST(ActionDump, CountedStepsAreInstallsAndUninstalls) {
    std::vector<int> counted;
    for (int t = 0; t <= 20; ++t)
        if (config::IsCountedStep(static_cast<ActionType>(t))) counted.push_back(t);
    EXPECT_EQ(counted, (std::vector<int>{12, 13, 17}));
}

}  // namespace
