// The 23 languages of the installer: the list the language combo box shows, how the language of
// a run is chosen from the user's UI language, how a change of language is applied, and which
// licence archive each language shows.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "util/resources.h"

namespace ui {

struct LanguageEntry {
    std::uint16_t langId;         // a full LANGID, or the primary-language tag alone (Dutch: 19)
    std::uint8_t displayIndex;    // index into the display-name table (DisplayNameIdOfIndex)
    std::uint16_t displayNameId;  // string id of the language's own name
    std::uint16_t eulaId;         // "EULA" resource shown for it
};

// In combo-box order: position 0 is Chinese (Traditional), position 5 English (United States).
std::span<const LanguageEntry> LanguageList();

// The fixed table from display-name index (0-22) to string id; 0 outside it.
std::uint16_t DisplayNameIdOfIndex(unsigned index);

// The display name of an entry: the direct load of its display-name id. The names are the same
// in every table, so each language is shown by its own name.
std::wstring DisplayName(const LanguageEntry& entry);

// Whether a list entry stands for the user's LANGID: an entry without sub-language (its top six
// bits zero) matches every LANGID of its primary language; any other entry only itself.
bool LanguageMatches(std::uint16_t entryLangId, std::uint16_t userLangId);

// The combo-box position for the user's UI language: the first entry that matches it, else the
// first English entry (primary language 9 for a primary-only entry, otherwise exactly 1033),
// else position 0. -1 only for an empty list.
int ChooseLanguagePosition(std::span<const LanguageEntry> list, std::uint16_t userLangId);

// The LANGID at a combo-box position; 1033 when the position is outside the list (no selection).
std::uint16_t LanguageAtPosition(int position);

// The licence archive's resource id for a selected LANGID: the explicit entries of 1033, 1031,
// 3082, 1036, 1040, 1041, 1042, 19, 1028, 2052, 1053, 1046, 1049, 1045 and 1055; 297 otherwise.
std::uint16_t EulaResourceId(std::uint16_t langId);

// The licence archive (a zip with one RTF document) for a selected LANGID; empty when the
// resource is missing.
util::ResourceData LicenceArchive(std::uint16_t langId);

// Languages whose text breaks between any two characters: selecting one clears the hyperlink
// control's break-at-spaces mode (1028, 1041, 1054, 2052).
bool ClearsBreakAtSpaces(std::uint16_t langId);

// Whether the language combo box is shown: the DWORD "SelectLanguage" under HKEY_CURRENT_USER
// "Software\Velmo\Shared" is non-zero. The key is created when missing; the value is never
// written.
bool LanguageSelectionOffered();

// What the main window applies after choosing or changing the language.
struct LanguageChoice {
    int position = -1;                 // combo-box position (-1: none)
    std::uint16_t langId = util::kLangEnglishUS;
    std::uint16_t eulaId = 297;
    bool clearBreakAtSpaces = false;
};

// Start of the run: chooses the position for the user's UI language, stores the LANGID as the
// string set's language and loads the set. The thread's UI language is left alone.
LanguageChoice ChooseInitialLanguage();

// The user picked `position` in the combo box (-1: no selection, which means English): sets the
// calling thread's UI language, stores the language in the string set and loads it.
LanguageChoice ChangeLanguage(int position);

}  // namespace ui
