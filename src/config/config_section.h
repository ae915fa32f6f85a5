// One section of the installer configuration, or one item of the `/install` argument.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/ini_reader.h"

namespace config {

// Keys map to text, ordered by key (plain code-unit order). Keys compare case-sensitively. The
// first occurrence of a key counts: later ones are ignored.
class ConfigSection {
public:
    // False (and nothing changes) when the key is already there.
    bool Add(std::wstring key, std::wstring value);
    bool Has(std::wstring_view key) const { return entries_.find(key) != entries_.end(); }
    // The value, or empty text when the key is absent.
    const std::wstring& Get(std::wstring_view key) const;
    // A flag key: true only for the exact text "yes".
    bool Flag(std::wstring_view key) const { return Get(key) == L"yes"; }
    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }
    const std::map<std::wstring, std::wstring, std::less<>>& Entries() const { return entries_; }

private:
    std::map<std::wstring, std::wstring, std::less<>> entries_;
};

// Blanks from both ends, then semicolons from both ends: how names, keys and values are cleaned.
std::wstring TrimConfigText(std::wstring_view text);

// Section names in file order, trimmed; names empty after trimming are dropped.
std::vector<std::wstring> ReadConfigSectionNames(const IniFile& file);
// The section's entries split at their first "=" (a line without "=" gives key = value = line),
// key and value trimmed.
ConfigSection ReadConfigSection(const IniFile& file, std::wstring_view name);

// The placeholders of the "essencial elements missing-" message for the required keys in their
// fixed order: a present key gives empty text, a missing one its name and a blank (the last one
// its bare name).
std::vector<std::wstring> MissingKeyParts(const ConfigSection& section, const std::vector<std::wstring_view>& required);
bool HasAllKeys(const ConfigSection& section, const std::vector<std::wstring_view>& required);

}  // namespace config
