// The UI string set: the texts the screens use most, loaded once per language, and the direct
// loads of every other text.
//
// Threads: the process-wide string set is read and reloaded on the user-interface thread only;
// workers post messages instead. Screens never keep a reference into it: every lookup takes
// Copy() and reads from the copy. Direct loads read constant data and are safe anywhere.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace ui {

inline constexpr std::wstring_view kProductNamePlaceholder = L"[PRODUCTNAME]";
inline constexpr std::wstring_view kInstallerProductName = L"Velmo Installer";

// The ids held by the string set, ascending. Every other id is read by direct load.
std::span<const std::uint16_t> StringSetIds();
bool IsStringSetId(std::uint16_t id);

// The string set for one language: id -> text, ordered by id.
class CUIStrings {
public:
    CUIStrings() = default;
    CUIStrings(const CUIStrings&) = default;
    CUIStrings& operator=(const CUIStrings&) = default;
    virtual ~CUIStrings() = default;

    // Replaces the whole content by the string-set texts of `langId` (exact table, else the
    // table of its primary language), with "[PRODUCTNAME]" replaced by "Velmo Installer". An id
    // without a text in that table gets an empty text.
    void Load(std::uint16_t langId);

    // The text of `id`. An id not held is recorded with an empty text, and the empty text is
    // returned: a missing text shows as an empty caption, never as an error.
    std::wstring Get(std::uint16_t id);

    std::uint16_t Language() const { return language_; }
    void SetLanguage(std::uint16_t langId) { language_ = langId; }
    const std::map<std::uint16_t, std::wstring>& Texts() const { return texts_; }

private:
    std::map<std::uint16_t, std::wstring> texts_;
    std::uint16_t language_ = 0;
};

// Holder of the process's string set and of the language Reload uses.
class UIStringsVersion {
public:
    virtual ~UIStringsVersion() = default;
    virtual std::uint16_t GetSlideTitleId(int slide) const = 0;
    virtual std::uint16_t GetSlideTextId(int slide) const = 0;
    virtual int GetSlideCount() const = 0;
    // A copy of the held set, to read from.
    virtual CUIStrings Copy() const;
    // Loads the held set again in the stored language.
    virtual void Reload();

    std::uint16_t Language() const { return language_; }
    // Stores the language in the holder and in the set, then loads the set for it.
    void SetLanguageAndLoad(std::uint16_t langId);

protected:
    CUIStrings strings_;
    std::uint16_t language_ = 0;
};

// The only concrete holder: four marketing slides (titles 226, 228, 230, 232; texts 227, 229,
// 231, 233; any index other than 1 to 3 is the first slide).
class UIStringsCommunicationFree final : public UIStringsVersion {
public:
    std::uint16_t GetSlideTitleId(int slide) const override;
    std::uint16_t GetSlideTextId(int slide) const override;
    int GetSlideCount() const override { return 4; }
};

// The process-wide string set: created empty on first use, filled when the main window chooses
// the language (languages.h).
UIStringsVersion& StringSet();

// Direct loads: the text as stored, placeholders untouched; empty when missing.
// In the calling thread's UI language, as the platform's string loader chooses its table
// (exact, primary language, then English).
std::wstring DirectLoad(std::uint16_t id);
// In an explicit language (the selected one), with the primary-language fall-back only.
std::wstring DirectLoad(std::uint16_t id, std::uint16_t langId);

// Replaces every occurrence of `placeholder` (plain text, no pattern) in `text`.
std::wstring ReplacePlaceholder(std::wstring text, std::wstring_view placeholder, std::wstring_view value);

}  // namespace ui
