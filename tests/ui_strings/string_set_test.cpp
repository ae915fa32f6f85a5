// The string set (CUIStrings and its holder) and the direct loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/profile.h"
#include "platform/thread_language.h"
#include "support/temp_machine.h"
#include "ui/strings/languages.h"
#include "ui/strings/ui_strings.h"
#include "util/resources.h"

namespace {

bool HasTableFor(std::uint16_t langId) {
    std::uint16_t table = 0;
    return util::ResolveStringTable(langId, table);
}

void SetUserLanguage(std::uint16_t langId) {
    platform::MachineProfile profile = platform::CurrentProfile();
    profile.uiLanguage = langId;
    ASSERT_TRUE(platform::SaveMachineProfile(profile));
}

TEST(StringSet, ListHoldsTheScreensIdsAndNotTheDirectLoads) {
    const auto ids = ui::StringSetIds();
    EXPECT_EQ(ids.size(), 94u);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    for (std::uint16_t id : {129, 134, 136, 146, 149, 150, 152, 159, 221, 223, 225, 233, 249, 257, 282, 296, 313, 314,
                             319, 321, 327, 328, 345, 358, 361, 367, 369, 371, 374, 377, 380})
        EXPECT_TRUE(ui::IsStringSetId(id)) << id;
    for (std::uint16_t id : {135, 147, 148, 151, 224, 258, 280, 315, 318, 324, 326, 329, 344, 359, 368, 372, 373, 378,
                             379, 381, 386, 1042, 1048})
        EXPECT_FALSE(ui::IsStringSetId(id)) << id;
}

// For every language of the list that has its table: every id of the set is non-empty and no
// "[PRODUCTNAME]" is left; where English has one, the set reads "Velmo Installer".
TEST(StringSet, LoadFillsEveryIdOfTheSetWithTheProductNameReplaced) {
    std::size_t loaded = 0;
    for (const ui::LanguageEntry& lang : ui::LanguageList()) {
        if (!HasTableFor(lang.langId)) continue;
        ++loaded;
        ui::CUIStrings set;
        set.Load(lang.langId);
        EXPECT_EQ(set.Language(), lang.langId);
        EXPECT_EQ(set.Texts().size(), ui::StringSetIds().size());
        for (std::uint16_t id : ui::StringSetIds()) {
            const std::wstring text = set.Get(id);
            EXPECT_FALSE(text.empty()) << lang.langId << " " << id;
            EXPECT_EQ(text.find(L"[PRODUCTNAME]"), std::wstring::npos) << lang.langId << " " << id;
            if (util::LoadStringForLanguage(id, 1033).find(L"[PRODUCTNAME]") != std::wstring::npos) {
                EXPECT_NE(text.find(L"Velmo Installer"), std::wstring::npos) << lang.langId << " " << id;
            }
        }
    }
    EXPECT_GE(loaded, 1u);
}

TEST(StringSet, EnglishSetReplacesTheProductNameWhileDirectLoadsKeepIt) {
    ui::CUIStrings set;
    set.Load(1033);
    EXPECT_EQ(set.Get(143).rfind(L"Velmo Installer requires that your computer", 0), 0u);
    EXPECT_EQ(set.Get(130), L"Help us make Velmo Installer better");
    EXPECT_EQ(ui::DirectLoad(314, 1033), L"Uninstall [PRODUCTNAME]");
    EXPECT_EQ(ui::DirectLoad(356, 1033), L"The window will close automatically after [30] seconds.");
}

TEST(StringSet, DirectLoadsOutsideTheSetKeepTheirPlaceholdersInEveryLanguage) {
    for (const ui::LanguageEntry& lang : ui::LanguageList()) {
        if (!HasTableFor(lang.langId)) continue;
        for (std::uint16_t id : {147, 148, 381, 382})
            EXPECT_NE(ui::DirectLoad(id, lang.langId).find(L"[PRODUCTNAME]"), std::wstring::npos)
                << lang.langId << " " << id;
    }
}

TEST(StringSet, GetOfAnIdOutsideTheSetRecordsAnEmptyText) {
    ui::CUIStrings set;
    set.Load(1033);
    const std::size_t before = set.Texts().size();
    EXPECT_EQ(set.Get(147), L"");
    EXPECT_EQ(set.Texts().size(), before + 1);
    EXPECT_TRUE(set.Texts().count(147));
    // A language without any table: the set holds every id, all empty.
    set.Load(2057);
    EXPECT_EQ(set.Language(), 2057);
    EXPECT_EQ(set.Texts().size(), ui::StringSetIds().size());
    EXPECT_EQ(set.Get(133), L"");
}

TEST(StringSet, CopyIsIndependentAndReloadUsesTheStoredLanguage) {
    ui::UIStringsCommunicationFree holder;
    EXPECT_TRUE(holder.Copy().Texts().empty());
    holder.SetLanguageAndLoad(1033);
    EXPECT_EQ(holder.Language(), 1033);
    ui::CUIStrings copy = holder.Copy();
    EXPECT_EQ(copy.Language(), 1033);
    EXPECT_EQ(copy.Get(133), L"Install Now");
    copy.Get(147);  // records an empty text in the copy only
    EXPECT_FALSE(holder.Copy().Texts().count(147));
    holder.Reload();
    EXPECT_EQ(holder.Copy().Get(257), L"OK");
}

TEST(StringSet, SlidesOfTheCommunicationFreeVariant) {
    const ui::UIStringsCommunicationFree holder;
    EXPECT_EQ(holder.GetSlideCount(), 4);
    const struct {
        int slide;
        std::uint16_t title, text;
    } cases[] = {{0, 226, 227}, {1, 228, 229}, {2, 230, 231}, {3, 232, 233}, {4, 226, 227}, {-1, 226, 227}};
    for (const auto& c : cases) {
        EXPECT_EQ(holder.GetSlideTitleId(c.slide), c.title) << c.slide;
        EXPECT_EQ(holder.GetSlideTextId(c.slide), c.text) << c.slide;
    }
}

TEST(StringSet, ReplacePlaceholderReplacesEveryOccurrenceAsPlainText) {
    EXPECT_EQ(ui::ReplacePlaceholder(L"[A] and [A]", L"[A]", L"x[A]"), L"x[A] and x[A]");
    EXPECT_EQ(ui::ReplacePlaceholder(L"[FREESPACE] GB free of [TOTALSPACE] GB", L"[FREESPACE]", L"12"),
              L"12 GB free of [TOTALSPACE] GB");
    EXPECT_EQ(ui::ReplacePlaceholder(L"none", L"", L"x"), L"none");
}

class ThreadLanguage : public velmo_test::MachineTest {};

TEST_F(ThreadLanguage, FollowsTheProfileUntilTheThreadSetsItsOwn) {
    SetUserLanguage(1031);
    EXPECT_EQ(platform::GetUserDefaultUILanguage(), 1031);
    EXPECT_EQ(platform::GetThreadUILanguage(), 1031);
    EXPECT_EQ(platform::SetThreadUILanguage(1036), 1036);
    EXPECT_EQ(platform::GetThreadUILanguage(), 1036);
    std::uint16_t other = 0;
    std::thread([&] { other = platform::GetThreadUILanguage(); }).join();
    EXPECT_EQ(other, 1031);
    EXPECT_EQ(platform::SetThreadUILanguage(0), 1031);
}

TEST_F(ThreadLanguage, DirectLoadReadsTheThreadLanguageAndFallsBackToEnglish) {
    SetUserLanguage(2057);  // no table: the platform's loader falls back to English
    EXPECT_EQ(ui::DirectLoad(257), L"OK");
    EXPECT_EQ(ui::DirectLoad(314), L"Uninstall [PRODUCTNAME]");
    if (!HasTableFor(1031)) GTEST_SKIP() << "no German table yet";
    platform::SetThreadUILanguage(1031);
    EXPECT_EQ(ui::DirectLoad(133), util::LoadStringForLanguage(133, 1031));
    EXPECT_NE(ui::DirectLoad(133), L"Install Now");
    platform::SetThreadUILanguage(0);
}

}  // namespace
