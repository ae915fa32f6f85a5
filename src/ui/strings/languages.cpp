#include "ui/strings/languages.h"

#include <array>

#include "platform/registry.h"
#include "platform/thread_language.h"
#include "ui/strings/ui_strings.h"

namespace ui {

namespace {

constexpr std::array<LanguageEntry, 23> kLanguages = {{
    {1028, 0, 258, 309},  {2052, 1, 259, 308},  {1029, 14, 260, 297}, {1030, 15, 261, 297},
    {19, 2, 262, 305},    {1033, 3, 263, 297},  {1035, 16, 264, 297}, {1036, 4, 265, 301},
    {1031, 5, 266, 298},  {1032, 17, 267, 297}, {1038, 18, 268, 297}, {1040, 6, 269, 302},
    {1041, 7, 270, 303},  {1042, 8, 271, 304},  {1044, 19, 272, 297}, {1045, 9, 273, 306},
    {2070, 20, 274, 297}, {1046, 10, 275, 310}, {1049, 11, 276, 311}, {3082, 12, 277, 300},
    {1053, 21, 278, 307}, {1054, 22, 279, 297}, {1055, 13, 280, 297},
}};

constexpr std::array<std::uint16_t, 23> kDisplayNameIds = {
    258, 259, 262, 263, 265, 266, 269, 270, 271, 273, 275, 276, 277, 280,  // index 0-13
    260, 261, 264, 267, 268, 272, 274, 278, 279,                           // index 14-22
};

struct EulaMapEntry {
    std::uint16_t langId;
    std::uint16_t eulaId;
};
constexpr EulaMapEntry kEulaMap[] = {
    {1033, 297}, {1031, 298}, {3082, 300}, {1036, 301}, {1040, 302}, {1041, 303}, {1042, 304}, {19, 305},
    {1028, 309}, {2052, 308}, {1053, 307}, {1046, 310}, {1049, 311}, {1045, 306}, {1055, 297},
};
constexpr std::uint16_t kDefaultEula = 297;

constexpr wchar_t kSharedKey[] = L"Software\\Velmo\\Shared";

bool IsPrimaryOnly(std::uint16_t langId) { return util::SubLangId(langId) == 0; }

LanguageChoice ChoiceAt(int position) {
    LanguageChoice choice;
    choice.position = position;
    choice.langId = LanguageAtPosition(position);
    choice.eulaId = EulaResourceId(choice.langId);
    choice.clearBreakAtSpaces = ClearsBreakAtSpaces(choice.langId);
    return choice;
}

}  // namespace

std::span<const LanguageEntry> LanguageList() { return kLanguages; }

std::uint16_t DisplayNameIdOfIndex(unsigned index) {
    return index < kDisplayNameIds.size() ? kDisplayNameIds[index] : 0;
}

std::wstring DisplayName(const LanguageEntry& entry) { return DirectLoad(entry.displayNameId); }

bool LanguageMatches(std::uint16_t entryLangId, std::uint16_t userLangId) {
    if (IsPrimaryOnly(entryLangId)) return util::PrimaryLangId(entryLangId) == util::PrimaryLangId(userLangId);
    return entryLangId == userLangId;
}

int ChooseLanguagePosition(std::span<const LanguageEntry> list, std::uint16_t userLangId) {
    if (list.empty()) return -1;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (LanguageMatches(list[i].langId, userLangId)) return static_cast<int>(i);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::uint16_t lang = list[i].langId;
        if (IsPrimaryOnly(lang) ? util::PrimaryLangId(lang) == 9 : lang == util::kLangEnglishUS)
            return static_cast<int>(i);
    }
    return 0;
}

std::uint16_t LanguageAtPosition(int position) {
    if (position < 0 || static_cast<std::size_t>(position) >= kLanguages.size()) return util::kLangEnglishUS;
    return kLanguages[static_cast<std::size_t>(position)].langId;
}

std::uint16_t EulaResourceId(std::uint16_t langId) {
    for (const EulaMapEntry& e : kEulaMap)
        if (e.langId == langId) return e.eulaId;
    return kDefaultEula;
}

util::ResourceData LicenceArchive(std::uint16_t langId) {
    return util::FindResourceEx(util::kResourceEula, EulaResourceId(langId), util::LANG_NEUTRAL);
}

bool ClearsBreakAtSpaces(std::uint16_t langId) {
    return langId == 1028 || langId == 1041 || langId == 1054 || langId == 2052;
}

bool LanguageSelectionOffered() {
    platform::RegKey key;
    if (platform::RegKey::Create(platform::Hive::CurrentUser, kSharedKey, platform::KEY_READ, key) !=
        static_cast<platform::LONG>(platform::ERROR_SUCCESS))
        return false;
    platform::DWORD value = 0;
    if (key.QueryDword(L"SelectLanguage", value) != static_cast<platform::LONG>(platform::ERROR_SUCCESS)) return false;
    return value != 0;
}

LanguageChoice ChooseInitialLanguage() {
    const LanguageChoice choice = ChoiceAt(ChooseLanguagePosition(kLanguages, platform::GetUserDefaultUILanguage()));
    StringSet().SetLanguageAndLoad(choice.langId);
    return choice;
}

LanguageChoice ChangeLanguage(int position) {
    const LanguageChoice choice = ChoiceAt(position);
    platform::SetThreadUILanguage(choice.langId);
    StringSet().SetLanguageAndLoad(choice.langId);
    return choice;
}

}  // namespace ui
