// Our own reader of Windows INI files, standing in for the platform's profile API
// (GetPrivateProfileSectionNames / GetPrivateProfileSection with a 2,048-unit buffer).
//
// It returns what that reader returns and nothing it would hide:
// - text: UTF-8 with or without byte-order mark, UTF-16LE or UTF-16BE with byte-order mark;
//   invalid bytes become U+FFFD;
// - lines end at CR LF, LF, CR or U+0000; each line loses its leading and trailing white space
//   (blank, tab, vertical tab, form feed); empty lines are skipped;
// - a line that starts with "[" and holds a "]" later is a section header; the name is the text
//   between the "[" and the last "]", without surrounding white space; text after that "]" is
//   ignored. A "[" line without "]" is an ordinary entry line;
// - every other line is an entry of the current section, returned as the profile reader returns
//   it: split at its first "=", white space before and after that "=" removed ("key=value"), or,
//   without "=", the whole line. Comment lines (";..." or "#...") are entries like any other line:
//   the section reader of the profile API does not interpret them either;
// - lines before the first header, and sections with an empty name ("[]"), belong to no named
//   section: they are never returned;
// - a section name is looked up case-insensitively; when several headers carry the name, the
//   first one counts (its entries only).
//
// Limits: the list of names and the entry list of one section are each limited to 2,047 UTF-16
// units, every string counted with its terminator. Whole strings only: the first string that
// would cross the limit is dropped together with everything after it, in both lists alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace config {

inline constexpr std::size_t kProfileListLimit = 2047;

// The file's bytes as text (see the encodings above).
std::wstring DecodeIniText(std::string_view bytes);

class IniFile {
public:
    // A file that does not exist or cannot be read has no sections.
    static IniFile Load(std::wstring_view windowsPath);
    static IniFile FromBytes(std::string_view bytes);
    static IniFile FromText(std::wstring_view text);

    // Section names in file order, within the limit.
    std::vector<std::wstring> SectionNames() const;
    // Entry strings of the first section of that name, within the limit; empty when none.
    std::vector<std::wstring> SectionEntries(std::wstring_view name) const;

private:
    struct Section {
        std::wstring name;
        std::vector<std::wstring> entries;
    };
    std::vector<Section> sections_;
};

}  // namespace config
