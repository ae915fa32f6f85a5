// Checks of a translated string table against the English one, shared by the table tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmo_test {

using TextTable = std::map<std::uint16_t, std::wstring>;

// Every non-empty text of the embedded table tagged exactly `tableLangId`.
TextTable EmbeddedTable(std::uint16_t tableLangId);

// The bracketed placeholders of a text ("[PRODUCTNAME]", "[30]"), sorted, repeats kept.
std::vector<std::wstring> Placeholders(const std::wstring& text);

// Occurrences of `what` in `text`.
std::size_t CountOf(const std::wstring& text, const std::wstring& what);

// Ids whose text is the English text although it has words to translate: display names
// (258-280) and texts that are only placeholders, markup, names and punctuation are not counted.
std::vector<std::uint16_t> EnglishCopies(const TextTable& table, const TextTable& english);

// A table with more copies than this is taken for untranslated ("OK" and the like may stay).
inline constexpr std::size_t kMaxEnglishCopies = 5;

}  // namespace velmo_test
