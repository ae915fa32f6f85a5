#include "util/locale_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string_view>

namespace {

struct KnownLocale {
    std::uint16_t langId;
    std::wstring_view name;
};

// Identifiers installers meet every day, plus both ends of the table (0x0401, 0x540A)
// and the one name Windows spells outside BCP 47 (0x040A).
constexpr KnownLocale kKnownLocales[] = {
    {0x0409, L"en-US"}, {0x0407, L"de-DE"},        {0x0804, L"zh-CN"},      {0x0404, L"zh-TW"},
    {0x0416, L"pt-BR"}, {0x0816, L"pt-PT"},        {0x0C0A, L"es-ES"},      {0x0411, L"ja-JP"},
    {0x0419, L"ru-RU"}, {0x041D, L"sv-SE"},        {0x0405, L"cs-CZ"},      {0x0413, L"nl-NL"},
    {0x0809, L"en-GB"}, {0x0C04, L"zh-HK"},        {0x1404, L"zh-MO"},      {0x0401, L"ar-SA"},
    {0x540A, L"es-US"}, {0x040A, L"es-ES_tradnl"}, {0x241A, L"sr-Latn-RS"},
};

TEST(LocaleNames, KnownIdentifiersGiveTheirWindowsName) {
    for (const auto& known : kKnownLocales) {
        SCOPED_TRACE(testing::Message() << "langId 0x" << std::hex << known.langId);
        EXPECT_EQ(util::LocaleNameOfLangId(known.langId), known.name);
    }
}

// Neutral languages (0x0009 "en", 0x7C04 "zh-Hant") are not specific locales; 0x0400 and
// 0x540B sit just outside the table's ends, 0x0466 in a gap between two entries.
TEST(LocaleNames, UnknownAndNeutralIdentifiersGiveEmpty) {
    for (std::uint16_t langId : {0x0000, 0x0009, 0xFFFF, 0x0400, 0x540B, 0x0466, 0x7C04}) {
        SCOPED_TRACE(testing::Message() << "langId 0x" << std::hex << langId);
        EXPECT_TRUE(util::LocaleNameOfLangId(langId).empty());
    }
}

// Walks every possible LANGID, so an entry the binary search cannot reach (a table out of
// order) shows up as a missing name, and a copy-paste slip as a duplicate.
TEST(LocaleNames, EveryNamedIdentifierHasADistinctSpecificLocaleName) {
    std::set<std::wstring_view> names;
    int named = 0;
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        const std::wstring_view name = util::LocaleNameOfLangId(static_cast<std::uint16_t>(id));
        if (name.empty()) continue;
        ++named;
        SCOPED_TRACE(testing::Message() << "langId 0x" << std::hex << id);
        EXPECT_TRUE(names.insert(name).second) << "duplicate name";
        // A specific locale: a 2-3 letter lower-case language subtag, then more subtags.
        const auto dash = name.find(L'-');
        ASSERT_NE(dash, std::wstring_view::npos);
        EXPECT_GE(dash, 2u);
        EXPECT_LE(dash, 3u);
        for (wchar_t c : name.substr(0, dash)) EXPECT_TRUE(c >= L'a' && c <= L'z');
        EXPECT_LT(dash + 1, name.size());
    }
    EXPECT_EQ(named, 206);
}

}  // namespace
