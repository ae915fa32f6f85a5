#include "config/product_selection.h"

#include <gtest/gtest.h>

#include "config/config_parser.h"
#include "config_test_util.h"

namespace {

using config::ActionType;
using config::ProductSelection;
using config_test::LogCapture;

config::ActionRecord Listed(const std::wstring& name, const std::wstring& uninstallId) {
    config::ActionRecord r = config::MakeAction(ActionType::SetupInstall);
    r.install_data.DisplayName = name;
    r.install_data.uninstallId = uninstallId;
    return r;
}

TEST(ProductSelectionQueries, IsUnselectedByNameOrThroughTheListedIds) {
    ProductSelection s;
    s.listedActions = {Listed(L"Gauge", L"Suite"), Listed(L"Gauge Plugin", L"Suite"), Listed(L"Other", L"Other")};
    EXPECT_FALSE(s.IsUnselected(L"Gauge", true)) << "nothing unticked";
    s.SetUnselectedNames({L"Gauge"});
    EXPECT_EQ(s.unselectedIds, (std::vector<std::wstring>{L"Suite"}));
    struct Case {
        const wchar_t* name;
        bool mainItem;
        bool unselected;
    } cases[] = {
        {L"Gauge", true, true},
        {L"Gauge", false, true},
        {L"Gauge Plugin", false, true},  // a part of the unticked product
        {L"Gauge Plugin", true, false},  // main items are judged by their own name only
        {L"Other", false, false},
        {L"", false, false},
        {L"Unlisted", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(s.IsUnselected(c.name, c.mainItem), c.unselected) << platform::Utf8FromWide(c.name) << " " << c.mainItem;
    s.listingMode = true;
    EXPECT_FALSE(s.IsUnselected(L"Gauge", true)) << "listing mode filters nothing";
}

TEST(ProductSelectionQueries, EmptyUninstallIdsDoNotTieProductsTogether) {
    ProductSelection s;
    s.listedActions = {Listed(L"A", L""), Listed(L"B", L"")};
    s.SetUnselectedNames({L"A"});
    EXPECT_TRUE(s.unselectedIds.empty());
    EXPECT_FALSE(s.IsUnselected(L"B", false));
}

TEST(ProductSelectionQueries, ExcludedAppsMatchPrefixedLowerCaseFileNames) {
    ProductSelection s;
    s.AddExcludedApps(L" Gauge , ,velmohub,ReCorder");
    EXPECT_EQ(s.excludedApps, (std::vector<std::wstring>{L"velmogauge", L"velmohub", L"velmorecorder"}));
    s.AppendExcludedApps({L"velmoMixer", L""});
    EXPECT_EQ(s.excludedApps.back(), L"velmomixer");
    struct Case {
        const wchar_t* file;
        bool excluded;
        const wchar_t* entry;
    } cases[] = {
        {L"VelmoGauge_x64.zip", true, L"velmogauge"},
        {L"gauge.zip", true, L"velmogauge"},  // prefixed before matching
        {L"VelmoHubSetup.msi", true, L"velmohub"},
        {L"VelmoMixer.zip", true, L"velmomixer"},
        {L"MyGauge.zip", false, nullptr},
        {L"VelmoCommon.zip", false, nullptr},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_EQ(s.IsExcluded(c.file), c.excluded) << platform::Utf8FromWide(c.file);
        if (c.entry) {
            EXPECT_EQ(log.Lines(), (std::vector<config_test::LogLine>{{L"Info", std::wstring(L"Exclude App: ") + c.entry}}));
        } else {
            EXPECT_TRUE(log.Lines().empty());
        }
    }
    EXPECT_FALSE(ProductSelection().IsExcluded(L"VelmoGauge.zip"));
}

class Listing : public velmo_test::MachineTest {};

TEST_F(Listing, ListingModeOffersMainProductsAndLaterParsesHonourTheChoice) {
    config_test::WriteText(L"C:\\cfg\\VelmoInstaller.ini",
                           "[setup]\n"
                           "[action1]\nfilename=VelmoGauge.zip\nurl=http://g\nuninstallid=Gauge\ndisplayname=Velmo Gauge\nmainfile=g.exe\n"
                           "[action2]\nfilename=GaugePlug.zip\nurl=http://p\nuninstallid=Gauge\ndisplayname=Gauge Plugin\nmainfile=p.exe\nsubaction=yes\n"
                           "[action3]\nfilename=VelmoCommon.zip\nurl=http://c\nuninstallid=Velmo Common\ndisplayname=Common\nmainfile=c.dll\n"
                           "[action4]\nfilename=Bundle.zip\nurl=http://b\nuninstallid=B\ndisplayname=Velmo Essentials Bundle\nmainfile=b.exe\n"
                           "[action5]\nfilename=Pre.zip\nurl=http://r\nuninstallid=R\ndisplayname=Runtime\nmainfile=r.dll\nisPrerequisite=yes\n"
                           "[action6]\nfilename=VelmoHub.zip\nurl=http://h\nuninstallid=Hub\ndisplayname=Velmo Hub\nmainfile=h.exe\n"
                           "[action7]\nfilename=Setup.msi\nurl=http://m\nuninstallid=M\ndisplayname=Msi Product\nmainfile=m.exe\n"
                           "[action8]\nfilename=VelmoRecorder.zip\nurl=http://r\nuninstallid=Rec\ndisplayname=Recorder\nmainfile=r.exe\n");
    ProductSelection s;
    s.unselectedNames = {L"Velmo Hub"};  // left from before: listing mode ignores it
    s.AddExcludedApps(L"recorder");
    config::BuildFacts facts = config_test::TestFacts();
    config::ListProductsForSelection(L"C:\\cfg\\VelmoInstaller.ini", L"C:\\P", facts, s);
    EXPECT_FALSE(s.listingMode);
    EXPECT_EQ(s.offeredNames, (std::vector<std::wstring>{L"Velmo Gauge", L"Velmo Hub"}));
    EXPECT_EQ(s.listedActions.size(), 15u) << "7 products with downloads (the recorder is excluded) and Finish";

    s.SetUnselectedNames({L"Velmo Gauge"});
    auto result = config::ParseConfigurationFile(L"C:\\cfg\\VelmoInstaller.ini", L"C:\\P", facts, s);
    std::vector<std::wstring> installed;
    for (const auto& r : result.actions)
        if (r.type == ActionType::SetupInstall) installed.push_back(r.install_data.DisplayName);
    EXPECT_EQ(installed, (std::vector<std::wstring>{L"Common", L"Velmo Essentials Bundle", L"Runtime", L"Velmo Hub",
                                                    L"Msi Product"}))
        << "the unticked product and its part stay out";
}

}  // namespace
