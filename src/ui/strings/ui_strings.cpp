#include "ui/strings/ui_strings.h"

#include <algorithm>
#include <array>

#include "util/resources.h"

namespace ui {

namespace {

constexpr auto MakeStringSetIds() {
    // 129-134, 136-146, 149, 150, 152, 159, 221-223, 225-257, 282, 296, 313, 314, 319, 321, 327,
    // 328, 345-358, 361-367, 369-371, 374-377 and 380.
    constexpr std::pair<std::uint16_t, std::uint16_t> ranges[] = {
        {129, 134}, {136, 146}, {149, 150}, {152, 152}, {159, 159}, {221, 223}, {225, 257},
        {282, 282}, {296, 296}, {313, 314}, {319, 319}, {321, 321}, {327, 328}, {345, 358},
        {361, 367}, {369, 371}, {374, 377}, {380, 380}};
    std::array<std::uint16_t, 94> ids{};
    std::size_t n = 0;
    for (const auto& [first, last] : ranges)
        for (std::uint32_t id = first; id <= last; ++id) ids[n++] = static_cast<std::uint16_t>(id);
    return std::pair{ids, n};
}

constexpr auto kStringSet = MakeStringSetIds();
static_assert(kStringSet.second == kStringSet.first.size(), "the string-set list has 94 ids");

}  // namespace

std::span<const std::uint16_t> StringSetIds() { return kStringSet.first; }

bool IsStringSetId(std::uint16_t id) {
    return std::binary_search(kStringSet.first.begin(), kStringSet.first.end(), id);
}

std::wstring ReplacePlaceholder(std::wstring text, std::wstring_view placeholder, std::wstring_view value) {
    if (placeholder.empty()) return text;
    for (std::size_t at = text.find(placeholder); at != std::wstring::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
    return text;
}

void CUIStrings::Load(std::uint16_t langId) {
    language_ = langId;
    texts_.clear();
    for (std::uint16_t id : StringSetIds()) {
        std::wstring text = util::LoadStringForLanguage(id, langId);
        texts_[id] = ReplacePlaceholder(std::move(text), kProductNamePlaceholder, kInstallerProductName);
    }
}

std::wstring CUIStrings::Get(std::uint16_t id) { return texts_[id]; }

CUIStrings UIStringsVersion::Copy() const { return strings_; }

void UIStringsVersion::Reload() { strings_.Load(language_); }

void UIStringsVersion::SetLanguageAndLoad(std::uint16_t langId) {
    language_ = langId;
    strings_.SetLanguage(langId);
    Reload();
}

std::uint16_t UIStringsCommunicationFree::GetSlideTitleId(int slide) const {
    switch (slide) {
        case 1: return 228;
        case 2: return 230;
        case 3: return 232;
        default: return 226;
    }
}

std::uint16_t UIStringsCommunicationFree::GetSlideTextId(int slide) const {
    switch (slide) {
        case 1: return 229;
        case 2: return 231;
        case 3: return 233;
        default: return 227;
    }
}

UIStringsVersion& StringSet() {
    static UIStringsCommunicationFree set;
    return set;
}

std::wstring DirectLoad(std::uint16_t id) { return util::LoadString(id); }

std::wstring DirectLoad(std::uint16_t id, std::uint16_t langId) { return util::LoadStringForLanguage(id, langId); }

}  // namespace ui
