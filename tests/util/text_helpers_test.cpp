#include "util/text_helpers.h"

#include <gtest/gtest.h>

#include <set>

#include "support/temp_machine.h"
#include "platform/clipboard.h"
#include "platform/profile.h"

namespace {

using Parts = std::vector<std::wstring>;

TEST(TextHelpers, SplitKeepAndSplitTokens) {
    EXPECT_EQ(util::SplitTokens(L" a , , b ,", L","), (Parts{L"a", L"b"}));
    EXPECT_EQ(util::SplitKeep(L"7,,10", L","), (Parts{L"7", L"", L"10"}));
    EXPECT_EQ(util::SplitKeep(L"a,", L","), (Parts{L"a", L""}));
    EXPECT_EQ(util::SplitKeep(L"", L","), (Parts{L""}));
    EXPECT_EQ(util::SplitTokens(L"", L","), Parts{});
    EXPECT_EQ(util::SplitTokens(L"a,b", L""), Parts{});
    EXPECT_EQ(util::SplitKeep(L"a::b", L"::"), (Parts{L"a", L"b"}));
}

TEST(TextHelpers, TrimTokenRemovesRepeatedlyFromEndThenStart) {
    EXPECT_EQ(util::TrimToken(L"  a b  ", L" "), L"a b");
    EXPECT_EQ(util::TrimToken(L";;x;;", L";"), L"x");
    EXPECT_EQ(util::TrimToken(L"abab", L"ab"), L"");
    EXPECT_EQ(util::TrimToken(L"text", L""), L"text");
}

TEST(TextHelpers, CaseInsensitivePrefixAndSuffix) {
    EXPECT_TRUE(util::StartsWithNoCase(L"VelmoHub", L"velmo"));
    EXPECT_TRUE(util::EndsWithNoCase(L"setup.EXE", L".exe"));
    EXPECT_FALSE(util::StartsWithNoCase(L"Vel", L"velmo"));
}

TEST(TextHelpers, RandomNameHasEightCharactersOfTheAlphabet) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 50; ++i) {
        std::wstring name = util::RandomName();
        ASSERT_EQ(name.size(), 8u);
        for (wchar_t c : name) EXPECT_TRUE((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')) << static_cast<int>(c);
        seen.insert(name);
    }
    EXPECT_GT(seen.size(), 45u);
}

TEST(TextHelpers, TimestampTextHasTheLogFileNameShape) {
    std::wstring t = util::TimestampText();  // e.g. 24_05_13_09-41AM
    ASSERT_EQ(t.size(), 16u) << t;
    EXPECT_EQ(t[2], L'_');
    EXPECT_EQ(t[5], L'_');
    EXPECT_EQ(t[8], L'_');
    EXPECT_EQ(t[11], L'-');
    EXPECT_TRUE(t.ends_with(L"AM") || t.ends_with(L"PM"));
}

TEST(TextHelpers, ParseDateTimeAcceptsBothFormsAndRejectsIncompleteOnes) {
    auto iso = util::ParseDateTime(L"2024-05-13 09:41:07");
    auto us = util::ParseDateTime(L"5/13/2024 9:41:07");
    ASSERT_TRUE(iso);
    ASSERT_TRUE(us);
    EXPECT_EQ(*iso, *us);
    EXPECT_EQ(*util::ParseDateTime(L"2024-05-13 09:41:08") - *iso, 1);
    for (const wchar_t* bad : {L"", L"2024-05-13", L"2024-05-13 09:41", L"yesterday", L"2024--05-13 1:2:3",
                               L"2024-05-13 -1:00:00"})
        EXPECT_FALSE(util::ParseDateTime(bad)) << bad;
}

TEST(TextHelpers, TextToIntFollowsTheStandardConversion) {
    EXPECT_EQ(util::TextToInt(L"  42abc"), 42);
    EXPECT_EQ(util::TextToInt(L"-7"), -7);
    EXPECT_EQ(util::TextToInt(L"x1"), 0);
    EXPECT_EQ(util::TextToInt(L""), 0);
    EXPECT_EQ(util::TextToInt(L"99999999999"), 2147483647);
}

TEST(TextHelpers, Utf8RoundTripKeepsCharactersOutsideTheBasicPlane) {
    std::wstring text = L"Gr\u00fc\u00dfe \u65e5\u672c \U0001F600";
    EXPECT_EQ(util::FromUtf8(util::ToUtf8(text)), text);
    EXPECT_EQ(util::ToUtf8(L""), "");
}

class TextHelpersMachine : public velmo_test::MachineTest {};

TEST_F(TextHelpersMachine, UserUiLocaleNameFollowsTheProfile) {
    EXPECT_EQ(util::UserUiLocaleName(), L"en-US");
    platform::MachineProfile p = platform::CurrentProfile();
    p.uiLanguage = 0x0415;
    ASSERT_TRUE(platform::SaveMachineProfile(p));
    EXPECT_EQ(util::UserUiLocaleName(), L"pl-PL");
    p.uiLanguage = 0x7777;
    ASSERT_TRUE(platform::SaveMachineProfile(p));
    EXPECT_EQ(util::UserUiLocaleName(), L"");
}

TEST_F(TextHelpersMachine, ClipboardTextReadsTheMachineClipboard) {
    EXPECT_EQ(util::ClipboardText(), L"");
    ASSERT_TRUE(platform::SetClipboardText(L"hand-over \u00e9"));
    EXPECT_EQ(util::ClipboardText(), L"hand-over \u00e9");
}

}  // namespace
