#include "config/config_section.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

using config::ConfigSection;
using config::IniFile;

TEST(ConfigText, BlanksAreTrimmedBeforeSemicolons) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {L";setup;", L"setup"},
        {L"setup ;", L"setup "},  // the blank before the semicolon stays
        {L" ;;setup;; ", L"setup"},
        {L"; setup", L" setup"},
        {L"My Product ;", L"My Product "},
        {L"\tsetup\t", L"\tsetup\t"},  // only blanks
        {L" ; ", L""},
        {L"; ;", L" "},
        {L";;;", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(config::TrimConfigText(c.in), c.out) << platform::Utf8FromWide(c.in);
}

TEST(ConfigSectionNames, TrimmedNamesInFileOrderWithoutEmptyOnes) {
    IniFile file = IniFile::FromText(L"[ ;setup; ]\n[;]\n[action1 ;]\n[vcredist_x86]\n");
    EXPECT_EQ(config::ReadConfigSectionNames(file), (std::vector<std::wstring>{L"setup", L"action1 ", L"vcredist_x86"}));
}

TEST(ConfigSectionEntries, EntriesAreSplitTrimmedAndTheFirstKeyWins) {
    IniFile file = IniFile::FromText(
        L"[a]\n"
        L"displayname = My Product ;\n"
        L"noequals\n"
        L"uninstallid=a\n"
        L"uninstallid=b\n"
        L"Url=upper\n"
        L"url=lower\n"
        L";comment=old\n"
        L"comment=new\n"
        L"empty=\n"
        L"=novalue\n");
    ConfigSection s = config::ReadConfigSection(file, L"a");
    std::map<std::wstring, std::wstring, std::less<>> expected = {
        {L"displayname", L"My Product "},
        {L"noequals", L"noequals"},
        {L"uninstallid", L"a"},
        {L"Url", L"upper"},
        {L"url", L"lower"},
        {L"comment", L"new"},  // a commented-out entry is no entry
        {L"empty", L""},
        {L"", L"novalue"},
    };
    EXPECT_EQ(s.Entries(), expected);
    EXPECT_TRUE(s.Has(L"empty"));
    EXPECT_FALSE(s.Has(L"missing"));
    EXPECT_EQ(s.Get(L"missing"), L"");
}

TEST(ConfigSectionEntries, FlagsAreTrueOnlyForExactlyYes) {
    ConfigSection s;
    s.Add(L"a", L"yes");
    s.Add(L"b", L"Yes");
    s.Add(L"c", L"yes ");
    s.Add(L"d", L"1");
    EXPECT_TRUE(s.Flag(L"a"));
    EXPECT_FALSE(s.Flag(L"b"));
    EXPECT_FALSE(s.Flag(L"c"));
    EXPECT_FALSE(s.Flag(L"d"));
    EXPECT_FALSE(s.Flag(L"absent"));
}

TEST(MissingKeys, PresentKeysGiveEmptyTextMissingOnesTheirNameAndABlank) {
    const std::vector<std::wstring_view> order = {L"filename", L"url", L"uninstallid", L"displayname", L"mainfile"};
    struct Case {
        std::vector<std::wstring> present;
        std::vector<std::wstring> parts;
    } cases[] = {
        {{}, {L"filename ", L"url ", L"uninstallid ", L"displayname ", L"mainfile"}},
        {{L"filename", L"url", L"uninstallid", L"displayname"}, {L"", L"", L"", L"", L"mainfile"}},
        {{L"url", L"mainfile"}, {L"filename ", L"", L"uninstallid ", L"displayname ", L""}},
    };
    for (const auto& c : cases) {
        ConfigSection s;
        for (const auto& k : c.present) s.Add(k, L"");  // an empty value is present
        EXPECT_EQ(config::MissingKeyParts(s, order), c.parts);
        EXPECT_EQ(config::HasAllKeys(s, order), c.present.size() == order.size());
    }
}

}  // namespace
