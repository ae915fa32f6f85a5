// The language list, the choice of the run's language, the language change and the
// "SelectLanguage" setting.
#include <gtest/gtest.h>

#include <vector>

#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/thread_language.h"
#include "support/temp_machine.h"
#include "ui/strings/languages.h"
#include "ui/strings/ui_strings.h"

namespace {

std::wstring NameAt(int position) {
    return ui::DirectLoad(ui::LanguageList()[static_cast<std::size_t>(position)].displayNameId, 1033);
}

TEST(LanguageList, OrderIndexesNamesAndLicencesAreThoseOfTheComboBox) {
    const auto list = ui::LanguageList();
    ASSERT_EQ(list.size(), 23u);
    const wchar_t* names[] = {L"中文 (繁體)", L"中文 (简体)", L"Česky", L"Dansk", L"Hollandsk", L"English (United States)",
                              L"suomi", L"Français (Standard)", L"Deutsch", L"Ελληνικά", L"Hungarian", L"Italiano",
                              L"日本語", L"한국어", L"Norsk", L"polski", L"Português (Padrão)",
                              L"Português (Brasileiro)", L"Русский", L"Español", L"Svenska", L"ภาษาไทย", L"Türkçe"};
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(NameAt(static_cast<int>(i)), names[i]) << i;
        // The display-name index leads to the same id the entry names.
        EXPECT_EQ(ui::DisplayNameIdOfIndex(list[i].displayIndex), list[i].displayNameId) << i;
        // The licence column agrees with the licence map.
        EXPECT_EQ(ui::EulaResourceId(list[i].langId), list[i].eulaId) << i;
    }
    EXPECT_EQ(list[4].langId, 19);  // Dutch: the primary-language tag alone
    EXPECT_EQ(ui::DisplayNameIdOfIndex(23), 0);
}

TEST(LanguageChoice, UserLanguagesChooseTheirEntryThenEnglish) {
    const struct {
        std::uint16_t user;
        const wchar_t* chosen;
    } cases[] = {
        {2057, L"English (United States)"},  // English (United Kingdom): no entry, English fall-back
        {1043, L"Hollandsk"},                // Dutch (Netherlands): primary-language entry 19
        {2067, L"Hollandsk"},                // Dutch (Belgium)
        {3076, L"English (United States)"},  // Chinese (Hong Kong): Chinese entries match exactly only
        {2058, L"English (United States)"},  // Spanish (Mexico)
        {2070, L"Português (Padrão)"},
        {1046, L"Português (Brasileiro)"},
        {1029, L"Česky"},
        {1031, L"Deutsch"},
        {1028, L"中文 (繁體)"},
        {1033, L"English (United States)"},
        {0, L"English (United States)"},
    };
    for (const auto& c : cases) {
        const int position = ui::ChooseLanguagePosition(ui::LanguageList(), c.user);
        ASSERT_GE(position, 0) << c.user;
        EXPECT_EQ(NameAt(position), c.chosen) << c.user;
    }
}

TEST(LanguageChoice, EnglishFallBackAcceptsAPrimaryOnlyEntryAndPositionZeroIsTheLast) {
    const std::vector<ui::LanguageEntry> withPrimaryEnglish = {{1031, 5, 266, 298}, {9, 3, 263, 297}};
    EXPECT_EQ(ui::ChooseLanguagePosition(withPrimaryEnglish, 1036), 1);
    EXPECT_EQ(ui::ChooseLanguagePosition(withPrimaryEnglish, 2057), 1);  // primary 9 matches first
    const std::vector<ui::LanguageEntry> withoutEnglish = {{1031, 5, 266, 298}, {1036, 4, 265, 301}};
    EXPECT_EQ(ui::ChooseLanguagePosition(withoutEnglish, 1041), 0);
    EXPECT_EQ(ui::ChooseLanguagePosition({}, 1041), -1);
}

TEST(LanguageChoice, PositionsOutsideTheListMeanEnglish) {
    EXPECT_EQ(ui::LanguageAtPosition(-1), 1033);
    EXPECT_EQ(ui::LanguageAtPosition(23), 1033);
    EXPECT_EQ(ui::LanguageAtPosition(0), 1028);
    EXPECT_EQ(ui::LanguageAtPosition(20), 1053);
}

TEST(LanguageChoice, LicenceMapAndBreakModeByLanguage) {
    const struct {
        std::uint16_t lang, eula;
    } eula[] = {{1033, 297}, {1031, 298}, {3082, 300}, {1036, 301}, {1040, 302}, {1041, 303}, {1042, 304},
                {19, 305},   {1028, 309}, {2052, 308}, {1053, 307}, {1046, 310}, {1049, 311}, {1045, 306},
                {1055, 297}, {1029, 297}, {2070, 297}, {1043, 297}, {0, 297}};
    for (const auto& c : eula) EXPECT_EQ(ui::EulaResourceId(c.lang), c.eula) << c.lang;
    for (std::uint16_t lang : {1028, 1041, 1054, 2052}) EXPECT_TRUE(ui::ClearsBreakAtSpaces(lang)) << lang;
    for (std::uint16_t lang : {1033, 1042, 1049, 3076, 0}) EXPECT_FALSE(ui::ClearsBreakAtSpaces(lang)) << lang;
}

class LanguageRun : public velmo_test::MachineTest {
protected:
    void SetUserLanguage(std::uint16_t langId) {
        platform::MachineProfile profile = platform::CurrentProfile();
        profile.uiLanguage = langId;
        ASSERT_TRUE(platform::SaveMachineProfile(profile));
    }
    void TearDown() override { platform::SetThreadUILanguage(0); }
};

TEST_F(LanguageRun, InitialChoiceLoadsTheSetAndLeavesTheThreadLanguage) {
    SetUserLanguage(2057);
    const ui::LanguageChoice choice = ui::ChooseInitialLanguage();
    EXPECT_EQ(choice.position, 5);
    EXPECT_EQ(choice.langId, 1033);
    EXPECT_EQ(choice.eulaId, 297);
    EXPECT_FALSE(choice.clearBreakAtSpaces);
    EXPECT_EQ(ui::StringSet().Language(), 1033);
    EXPECT_EQ(ui::StringSet().Copy().Language(), 1033);
    EXPECT_EQ(ui::StringSet().Copy().Get(133), L"Install Now");
    EXPECT_EQ(platform::GetThreadUILanguage(), 2057);

    SetUserLanguage(1041);
    const ui::LanguageChoice japanese = ui::ChooseInitialLanguage();
    EXPECT_EQ(japanese.position, 12);
    EXPECT_EQ(japanese.eulaId, 303);
    EXPECT_TRUE(japanese.clearBreakAtSpaces);
    EXPECT_EQ(ui::StringSet().Language(), 1041);
}

TEST_F(LanguageRun, ChangingToGermanSetsTheSetTheThreadAndTheLicence) {
    const ui::LanguageChoice choice = ui::ChangeLanguage(8);
    EXPECT_EQ(choice.langId, 1031);
    EXPECT_EQ(choice.eulaId, 298);
    EXPECT_EQ(platform::GetThreadUILanguage(), 1031);
    EXPECT_EQ(ui::StringSet().Language(), 1031);
    EXPECT_EQ(ui::StringSet().Copy().Get(133), ui::ReplacePlaceholder(ui::DirectLoad(133, 1031), L"[PRODUCTNAME]", L"Velmo Installer"));

    const ui::LanguageChoice none = ui::ChangeLanguage(-1);
    EXPECT_EQ(none.langId, 1033);
    EXPECT_EQ(platform::GetThreadUILanguage(), 1033);
    EXPECT_EQ(ui::StringSet().Copy().Get(133), L"Install Now");
}

TEST_F(LanguageRun, SelectLanguageShowsTheComboBoxWhenNonZero) {
    EXPECT_FALSE(ui::LanguageSelectionOffered());
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::Open(platform::Hive::CurrentUser, L"Software\\Velmo\\Shared", platform::KEY_READ, key),
              0)
        << "reading creates the key";
    const struct {
        platform::DWORD value;
        bool offered;
    } cases[] = {{1, true}, {0, false}, {7, true}};
    for (const auto& c : cases) {
        ASSERT_EQ(platform::RegSetDword(platform::Hive::CurrentUser, L"Software\\Velmo\\Shared", L"SelectLanguage", c.value), 0);
        EXPECT_EQ(ui::LanguageSelectionOffered(), c.offered) << c.value;
    }
    ASSERT_EQ(platform::RegSetString(platform::Hive::CurrentUser, L"Software\\Velmo\\Shared", L"SelectLanguage", L"1"), 0);
    EXPECT_FALSE(ui::LanguageSelectionOffered()) << "a text is not a DWORD";
}

}  // namespace
