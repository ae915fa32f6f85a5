// The embedded string tables: the English reference, and every translated table against it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/text.h"
#include "table_checks.h"
#include "ui/strings/languages.h"
#include "util/resources.h"

namespace {

using velmo_test::EmbeddedTable;
using velmo_test::TextTable;

std::string Narrow(const std::wstring& text) { return platform::Utf8FromWide(text); }

// The table tag each language of the list reads: Czech, Dutch and Swedish carry only their
// primary-language tag.
struct ListLanguage {
    std::uint16_t langId;
    std::uint16_t tableTag;
    const char* file;
};
constexpr ListLanguage kListLanguages[] = {
    {1028, 1028, "zh-TW"}, {2052, 2052, "zh-CN"}, {1029, 5, "cs"},     {1030, 1030, "da-DK"},
    {19, 19, "nl"},        {1033, 1033, "en-US"}, {1035, 1035, "fi-FI"}, {1036, 1036, "fr-FR"},
    {1031, 1031, "de-DE"}, {1032, 1032, "el-GR"}, {1038, 1038, "hu-HU"}, {1040, 1040, "it-IT"},
    {1041, 1041, "ja-JP"}, {1042, 1042, "ko-KR"}, {1044, 1044, "nb-NO"}, {1045, 1045, "pl-PL"},
    {2070, 2070, "pt-PT"}, {1046, 1046, "pt-BR"}, {1049, 1049, "ru-RU"}, {3082, 3082, "es-ES"},
    {1053, 29, "sv"},      {1054, 1054, "th-TH"}, {1055, 1055, "tr-TR"},
};

bool HasTable(std::uint16_t tag) {
    const std::vector<std::uint16_t> tables = util::StringTableLanguages();
    return std::find(tables.begin(), tables.end(), tag) != tables.end();
}

const TextTable& English() {
    static const TextTable table = EmbeddedTable(util::kLangEnglishUS);
    return table;
}

TEST(StringTables, EnglishHoldsEveryIdOfTheTableAndOurOwnRows) {
    const TextTable& en = English();
    std::vector<std::uint16_t> required;
    for (std::uint16_t id : {129, 130, 131, 132, 133, 134, 136, 147, 148, 152, 159, 221, 225, 257, 282, 296, 313,
                             319, 321, 328, 345, 358, 361, 371, 372, 380, 381, 386})
        required.push_back(id);
    for (std::uint16_t id = 226; id <= 249; ++id) required.push_back(id);  // marketing slides
    for (std::uint16_t id = 258; id <= 280; ++id) required.push_back(id);  // language names
    for (std::uint16_t id = 329; id <= 344; ++id) required.push_back(id);  // product descriptions
    for (std::uint16_t id : {378, 379, 1042, 1043, 1044, 1045, 1046, 1047, 1048}) required.push_back(id);
    for (std::uint16_t id : required) EXPECT_TRUE(en.count(id)) << "English has no text " << id;
    // 94 rows of the table, 24 slide texts, 23 language names, 18 product descriptions.
    EXPECT_EQ(en.size(), 159u);
    for (const auto& [id, text] : en) EXPECT_TRUE((id >= 129 && id <= 386) || (id >= 1042 && id <= 1048)) << id;
}

TEST(StringTables, EnglishTextsKeepTheirExactBlanksAndSpelling) {
    const struct {
        std::uint16_t id;
        const wchar_t* text;
    } cases[] = {
        {129, L"I accept the terms in the license agreement *"},
        {225, L"A restart is required before you can stat using your Velmo applications. Without a restart, some "
              L"programs may not work properly."},
        {346, L"Installing Velmo Hub and necessary components. With the latest Velmo Hub, the latest updates for "
              L"your Velmo products will be available. "},
        {348, L"Installation of Velmo Hub has been completed successfully. You can download and install the latest "
              L"updates directly in Velmo Hub.  <a>Learn more...</a>"},
        {363, L"If you want to change your installation settings, click the button 'Installation Settings'."},
        {370, L" <a>Check our online FAQs.</a>"},
        {1047, L"Privacy Statement"},
    };
    for (const auto& c : cases) EXPECT_EQ(util::LoadStringForLanguage(c.id, 1033), c.text) << c.id;
}

// Every table that exists: every English id, each with the same placeholders and links.
TEST(StringTables, EveryPresentTableHasEveryIdWithTheSamePlaceholdersAndLinks) {
    for (const ListLanguage& lang : kListLanguages) {
        if (!HasTable(lang.tableTag)) continue;
        SCOPED_TRACE(lang.file);
        const TextTable table = EmbeddedTable(lang.tableTag);
        for (const auto& [id, en] : English()) {
            const auto it = table.find(id);
            if (it == table.end()) {
                ADD_FAILURE() << lang.file << " has no text " << id;
                continue;
            }
            const std::wstring& text = it->second;
            EXPECT_EQ(velmo_test::Placeholders(text), velmo_test::Placeholders(en))
                << lang.file << " " << id << ": " << Narrow(text);
            EXPECT_EQ(velmo_test::CountOf(text, L"<a>"), velmo_test::CountOf(en, L"<a>")) << lang.file << " " << id;
            EXPECT_EQ(velmo_test::CountOf(text, L"</a>"), velmo_test::CountOf(en, L"</a>")) << lang.file << " " << id;
            if (text.find(L"<a>") != std::wstring::npos) {
                EXPECT_LT(text.find(L"<a>"), text.find(L"</a>")) << lang.file << " " << id;
            }
        }
        for (const auto& [id, text] : table) EXPECT_TRUE(English().count(id)) << lang.file << " has extra id " << id;
        // The language names are the same in every table.
        for (std::uint16_t id = 258; id <= 280; ++id) EXPECT_EQ(table.at(id), English().at(id)) << lang.file << " " << id;
    }
}

TEST(StringTables, NoTranslatedTableCopiesTheEnglishTexts) {
    for (const ListLanguage& lang : kListLanguages) {
        if (lang.langId == 1033 || !HasTable(lang.tableTag)) continue;
        const std::vector<std::uint16_t> copies = velmo_test::EnglishCopies(EmbeddedTable(lang.tableTag), English());
        std::string ids;
        for (std::uint16_t id : copies) ids += " " + std::to_string(id);
        EXPECT_LE(copies.size(), velmo_test::kMaxEnglishCopies) << lang.file << " keeps English texts:" << ids;
    }
}

TEST(StringTables, CopyCheckFlagsAnUntranslatedTableButNotNamesAndPlaceholders) {
    EXPECT_GT(velmo_test::EnglishCopies(English(), English()).size(), velmo_test::kMaxEnglishCopies);

    const TextTable english = {{257, L"OK"}, {262, L"Hollandsk"}, {361, L"[FREESPACE] GB free of [TOTALSPACE] GB"},
                               {336, L"Velmo Hub"}, {900, L" <a>[DOWNLOAD LINK]</a>"}};
    const TextTable translated = {{257, L"OK"}, {262, L"Hollandsk"}, {361, L"[FREESPACE] GB frei von [TOTALSPACE] GB"},
                                  {336, L"Velmo Hub"}, {900, L" <a>[DOWNLOAD LINK]</a>"}};
    EXPECT_EQ(velmo_test::EnglishCopies(translated, english), std::vector<std::uint16_t>{257});
}

// Marked for the lead: fails until every translated table has landed.
TEST(StringTables, AllTwentyThreeLanguagesOfTheListHaveATable) {
    std::string missing;
    for (const ListLanguage& lang : kListLanguages)
        if (!HasTable(lang.tableTag)) missing += std::string(" ") + lang.file + ".txt";
    EXPECT_TRUE(missing.empty()) << "string tables not written yet:" << missing;
    EXPECT_EQ(std::size(kListLanguages), ui::LanguageList().size());
    for (const ListLanguage& lang : kListLanguages) {
        std::uint16_t table = 0;
        if (util::ResolveStringTable(lang.langId, table)) {
            EXPECT_EQ(table, lang.tableTag) << lang.file;
        }
    }
}

TEST(StringTables, PrimaryOnlyTablesServeTheirFullLanguageIds) {
    // 1029 reads the Czech table tagged 5 and 1053 the Swedish one tagged 29; 2067 (Dutch,
    // Belgium) reads the Dutch table tagged 19.
    const struct {
        std::uint16_t asked, table;
    } cases[] = {{1029, 5}, {1053, 29}, {1043, 19}, {2067, 19}};
    std::string missing;
    for (const auto& c : cases) {
        if (!HasTable(c.table)) {
            missing += " " + std::to_string(c.table);
            continue;
        }
        std::uint16_t table = 0;
        ASSERT_TRUE(util::ResolveStringTable(c.asked, table)) << c.asked;
        EXPECT_EQ(table, c.table);
        EXPECT_EQ(util::LoadStringForLanguage(129, c.asked), util::LoadStringForLanguage(129, c.table));
        EXPECT_NE(util::LoadStringForLanguage(129, c.asked), English().at(129)) << c.asked;
    }
    // No table of either the language or its primary tag: nothing, not English.
    std::uint16_t table = 0;
    EXPECT_FALSE(util::ResolveStringTable(2057, table));
    EXPECT_EQ(util::LoadStringForLanguage(129, 2057), L"");
    EXPECT_EQ(util::LoadStringPreferred(129, 2057), English().at(129));
    if (!missing.empty()) GTEST_SKIP() << "no table tagged" << missing << " yet";
}

}  // namespace
