#include "table_checks.h"

#include <algorithm>
#include <cwctype>

#include "util/resources.h"

namespace velmo_test {

TextTable EmbeddedTable(std::uint16_t tableLangId) {
    TextTable table;
    for (std::uint32_t bundle = 1; bundle <= 4096; ++bundle) {
        if (!util::FindResourceEx(util::RT_STRING, static_cast<std::uint16_t>(bundle), tableLangId)) continue;
        for (std::uint32_t slot = 0; slot < 16; ++slot) {
            const auto id = static_cast<std::uint16_t>((bundle - 1) * 16 + slot);
            std::wstring text = util::LoadStringForLanguage(id, tableLangId);
            if (!text.empty()) table[id] = std::move(text);
        }
    }
    return table;
}

std::vector<std::wstring> Placeholders(const std::wstring& text) {
    std::vector<std::wstring> found;
    for (std::size_t open = text.find(L'['); open != std::wstring::npos; open = text.find(L'[', open + 1)) {
        const std::size_t close = text.find(L']', open);
        if (close == std::wstring::npos) break;
        found.push_back(text.substr(open, close - open + 1));
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::size_t CountOf(const std::wstring& text, const std::wstring& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

namespace {

// What is left of a text to translate once names, placeholders and markup are taken out.
bool HasWordsToTranslate(std::wstring text) {
    std::vector<std::wstring> removable = Placeholders(text);
    for (const util::SuiteProduct& p : util::SuiteProducts()) removable.emplace_back(p.name);
    removable.insert(removable.end(), {L"<a>", L"</a>", L"Velmo", L"Windows"});
    std::sort(removable.begin(), removable.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::wstring& r : removable)
        for (std::size_t at = text.find(r); at != std::wstring::npos; at = text.find(r)) text.erase(at, r.size());
    return std::any_of(text.begin(), text.end(), [](wchar_t c) { return std::iswalpha(static_cast<wint_t>(c)) != 0; });
}

}  // namespace

std::vector<std::uint16_t> EnglishCopies(const TextTable& table, const TextTable& english) {
    std::vector<std::uint16_t> copies;
    for (const auto& [id, text] : table) {
        if (id >= 258 && id <= 280) continue;
        const auto en = english.find(id);
        if (en != english.end() && en->second == text && HasWordsToTranslate(text)) copies.push_back(id);
    }
    return copies;
}

}  // namespace velmo_test
