#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include "config_test_util.h"
#include "platform/text.h"

namespace {

using config::IniFile;
using Strings = std::vector<std::wstring>;

std::string Utf16Le(const std::wstring& text) { return "\xFF\xFE" + platform::Utf16LeFromWide(text); }
std::string Utf16Be(const std::wstring& text) {
    std::string le = platform::Utf16LeFromWide(text);
    for (std::size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
    return "\xFE\xFF" + le;
}

class IniFileOnDisk : public velmo_test::MachineTest {};

TEST_F(IniFileOnDisk, EveryEncodingReadsTheSameText) {
    // Non-ASCII text and a character outside the BMP survive each encoding.
    const std::wstring text = L"[setup]\r\nproductionname=Velmo F\u00fcr Alle \U0001F600\r\n[action1]\r\nid=1\r\n";
    const std::string utf8 = platform::Utf8FromWide(text);
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"utf-8", utf8},
        {"utf-8 with byte-order mark", "\xEF\xBB\xBF" + utf8},
        {"utf-16le with byte-order mark", Utf16Le(text)},
        {"utf-16be with byte-order mark", Utf16Be(text)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        config_test::WriteText(L"C:\\cfg\\VelmoInstaller.ini", c.bytes);
        IniFile file = IniFile::Load(L"C:\\cfg\\VelmoInstaller.ini");
        EXPECT_EQ(file.SectionNames(), (Strings{L"setup", L"action1"}));
        EXPECT_EQ(file.SectionEntries(L"setup"), (Strings{L"productionname=Velmo F\u00fcr Alle \U0001F600"}));
    }
}

TEST_F(IniFileOnDisk, AMissingFileHasNoSections) {
    IniFile file = IniFile::Load(L"C:\\cfg\\missing.ini");
    EXPECT_TRUE(file.SectionNames().empty());
    EXPECT_TRUE(file.SectionEntries(L"setup").empty());
}

TEST(IniGrammar, LinesAreReturnedAsTheProfileReaderReturnsThem) {
    struct Case {
        const char* what;
        std::wstring text;
        Strings names;
        std::wstring section;
        Strings entries;
    } cases[] = {
        {"text before the first header belongs to no section", L"orphan=1\n[a]\nk=v\n", {L"a"}, L"a", {L"k=v"}},
        {"semicolon lines are comments; a hash starts no comment", L"[a]\n;comment\n  ;url=old\n# hash\nurl=new\n",
         {L"a"}, L"a", {L"# hash", L"url=new"}},
        {"white space around the first = is removed, inner text stays", L"[a]\n  key \t=  some value  \n", {L"a"}, L"a",
         {L"key=some value"}},
        {"only the first = splits", L"[a]\nk = a=b\n", {L"a"}, L"a", {L"k=a=b"}},
        {"a line without = is returned whole", L"[a]\n  noequals  \n", {L"a"}, L"a", {L"noequals"}},
        {"empty lines are skipped", L"[a]\n\n   \nk=v\n\n", {L"a"}, L"a", {L"k=v"}},
        {"CR, LF, CR LF and NUL end lines", std::wstring(L"[a]\rk1=1\nk2=2\r\nk3=3") + L'\0' + L"k4=4", {L"a"}, L"a",
         {L"k1=1", L"k2=2", L"k3=3", L"k4=4"}},
        {"the name runs to the last ] and loses its white space", L"[ a]b ]tail\nk=v\n", {L"a]b"}, L"a]b", {L"k=v"}},
        {"a [ line without ] is an entry", L"[a]\n[notaheader\n", {L"a"}, L"a", {L"[notaheader"}},
        {"a nameless section is not listed and hides its lines", L"[a]\nk=v\n[ ]\nx=y\n", {L"a"}, L"a", {L"k=v"}},
        {"names keep their semicolons", L"[;setup;]\nk=v\n", {L";setup;"}, L";setup;", {L"k=v"}},
        {"values are never unquoted", L"[a]\nk=\"quoted\"\n", {L"a"}, L"a", {L"k=\"quoted\""}},
        {"lookup ignores letter case and takes the first section of the name", L"[Setup]\nk=1\n[setup]\nk=2\n",
         {L"Setup", L"setup"}, L"SETUP", {L"k=1"}},
        {"an empty name finds nothing", L"[a]\nk=v\n", {L"a"}, L"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IniFile file = IniFile::FromText(c.text);
        EXPECT_EQ(file.SectionNames(), c.names);
        EXPECT_EQ(file.SectionEntries(c.section), c.entries);
    }
}

TEST(IniGrammar, MalformedBytesBecomeReplacementCharacters) {
    IniFile file = IniFile::FromBytes(std::string("[a\xFF]\nk=\xC3\n", 10));
    EXPECT_EQ(file.SectionNames(), (Strings{L"a\uFFFD"}));
    EXPECT_EQ(file.SectionEntries(L"a\uFFFD"), (Strings{L"k=\uFFFD"}));
}

// Names or entries whose lengths (with one terminator each) add up to `total` UTF-16 units; the
// last one is made of `last` characters so that surrogate pairs can be placed at the cut.
Strings StringsOfTotal(std::size_t total, const std::wstring& prefix, wchar_t fill) {
    Strings out;
    std::size_t used = 0;
    int n = 0;
    while (used < total) {
        std::size_t room = total - used;
        std::size_t len = room > 101 ? 100 : room - 1;  // 100 units + terminator, or what is left
        std::wstring s = prefix + std::to_wstring(n++);
        if (platform::Utf16Length(s) > len) break;
        s.append(len - platform::Utf16Length(s), fill);
        used += platform::Utf16Length(s) + 1;
        out.push_back(s);
    }
    return out;
}

TEST(IniLimits, TheNamesListHolds2047UnitsOfWholeNames) {
    for (std::size_t total : {2046u, 2047u, 2048u, 2100u}) {
        SCOPED_TRACE(total);
        Strings names = StringsOfTotal(total, L"s", L'x');
        std::wstring text;
        for (const auto& n : names) text += L"[" + n + L"]\nk=v\n";
        Strings seen = IniFile::FromText(text).SectionNames();
        if (total <= config::kProfileListLimit) {
            EXPECT_EQ(seen, names);
        } else {
            // The name that crosses the limit and every later one are not seen.
            std::size_t used = 0, fit = 0;
            while (fit < names.size() && used + names[fit].size() + 1 <= config::kProfileListLimit) used += names[fit++].size() + 1;
            EXPECT_EQ(seen, Strings(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(fit)));
            EXPECT_LT(seen.size(), names.size());
        }
    }
}

TEST(IniLimits, ASectionBlockHolds2047UnitsOfWholeEntries) {
    for (std::size_t total : {2046u, 2047u, 2048u}) {
        SCOPED_TRACE(total);
        Strings entries = StringsOfTotal(total, L"k", L'v');
        for (auto& e : entries) e[e.size() / 2] = L'=';  // still key=value, same length
        std::wstring text = L"[a]\n";
        for (const auto& e : entries) text += e + L"\n";
        Strings seen = IniFile::FromText(text).SectionEntries(L"a");
        if (total <= config::kProfileListLimit) {
            EXPECT_EQ(seen, entries);
        } else {
            EXPECT_EQ(seen, Strings(entries.begin(), entries.end() - 1));
        }
    }
}

TEST(IniLimits, CharactersOutsideTheBmpCountTwoUnits) {
    // 1,022 pairs + terminator = 2,045 units; one more name of one BMP character (2 units) fits
    // exactly, a name of one pair (3 units) does not.
    std::wstring big(1022, L'\U0001F600');
    EXPECT_EQ(IniFile::FromText(L"[" + big + L"]\n[b]\n").SectionNames(), (Strings{big, L"b"}));
    EXPECT_EQ(IniFile::FromText(L"[" + big + L"]\n[\U0001F600]\n").SectionNames(), (Strings{big}));
}

TEST(IniLimits, AnEntryLongerThanTheLimitHidesTheRestOfItsSection) {
    std::wstring text = L"[a]\nfirst=1\nlong=" + std::wstring(3000, L'x') + L"\nafter=2\n";
    EXPECT_EQ(IniFile::FromText(text).SectionEntries(L"a"), (Strings{L"first=1"}));
}

}  // namespace
