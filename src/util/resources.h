// The resources embedded in the executable, addressed as Windows addresses them: by type, numeric
// id and LANGID.
//
// Types in use: RT_STRING (string tables, one per LANGID, in bundles of 16 as Windows keeps
// them), RT_ICON and RT_GROUP_ICON (icon group 128), RT_VERSION (the installer's version block,
// present in the executables that link velmo_version_block), and the named types "PNG" and
// "EULA" (zip archives with one RTF document). Images, icons and licence archives are
// language-neutral (LANGID 0). Everything is compiled in by tools/resource-gen; nothing is read
// from disk, so every call is a lookup in constant data, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace util {

inline constexpr platform::DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr platform::DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr platform::DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

inline constexpr std::uint16_t RT_ICON = 3;
inline constexpr std::uint16_t RT_STRING = 6;
inline constexpr std::uint16_t RT_GROUP_ICON = 14;
inline constexpr std::uint16_t RT_VERSION = 16;

inline constexpr std::uint16_t LANG_NEUTRAL = 0;
inline constexpr std::uint16_t kLangEnglishUS = 1033;

constexpr std::uint16_t PrimaryLangId(std::uint16_t langId) { return langId & 0x3FF; }
constexpr std::uint16_t SubLangId(std::uint16_t langId) { return langId >> 10; }
constexpr std::uint16_t MakeLangId(std::uint16_t primary, std::uint16_t sub) {
    return static_cast<std::uint16_t>((sub << 10) | primary);
}

// A resource type: a number (RT_*) or a name ("PNG"; names compare without regard to case).
struct ResourceType {
    constexpr ResourceType(std::uint16_t n) : number(n) {}  // NOLINT: converts like MAKEINTRESOURCE
    constexpr ResourceType(const char* n) : name(n) {}      // NOLINT
    std::uint16_t number = 0;
    std::string_view name;
};

inline constexpr const char* kResourcePng = "PNG";
inline constexpr const char* kResourceEula = "EULA";

// Constant bytes of one resource; empty (data null) when not found.
struct ResourceData {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::uint16_t langId = 0;  // the language of the resource found

    explicit operator bool() const { return data != nullptr; }
    std::string_view Bytes() const { return {reinterpret_cast<const char*>(data), size}; }
};

// Exactly this type, id and LANGID (FindResourceEx). Sets ERROR_RESOURCE_TYPE_NOT_FOUND,
// ERROR_RESOURCE_NAME_NOT_FOUND or ERROR_RESOURCE_LANG_NOT_FOUND when absent.
ResourceData FindResourceEx(ResourceType type, std::uint16_t id, std::uint16_t langId);

// The platform's choice of language (FindResource): the calling thread's UI language, its
// primary-language tag, the neutral language, English (United States), then the first language
// the resource exists in.
ResourceData FindResource(ResourceType type, std::uint16_t id);

// The LANGIDs a resource exists in, ascending (EnumResourceLanguages).
std::vector<std::uint16_t> ResourceLanguages(ResourceType type, std::uint16_t id);

// ---- string tables -----------------------------------------------------------------------------

// The LANGIDs of the string tables, ascending.
std::vector<std::uint16_t> StringTableLanguages();

// The table a LANGID reads: the exact one, else the one tagged with its primary language alone
// (1029 reads the Czech table tagged 5). False when neither exists.
bool ResolveStringTable(std::uint16_t langId, std::uint16_t& tableLangId);

// The text of `id` in the table of `langId` (with the primary-language fall-back above);
// empty when the table or the text does not exist. Placeholders are left as they are.
std::wstring LoadStringForLanguage(std::uint16_t id, std::uint16_t langId);

// As the Windows string loader chooses for a preferred language: the table of `langId` (with the
// primary-language fall-back), else English (United States). For direct loads in the thread's
// or the user's UI language, so that a language without a table still shows text.
std::wstring LoadStringPreferred(std::uint16_t id, std::uint16_t langId);

// LoadStringPreferred in the calling thread's UI language (platform/thread_language.h).
std::wstring LoadString(std::uint16_t id);

// ---- icons -------------------------------------------------------------------------------------

struct IconImage {
    std::uint32_t width = 0;   // pixels
    std::uint32_t height = 0;
    std::string_view png;      // the image as PNG bytes
};

// The images of an icon group (RT_GROUP_ICON with its RT_ICON members), in group order; empty when
// the group does not exist.
std::vector<IconImage> LoadIconGroup(std::uint16_t groupId);

// ---- products of the suite ---------------------------------------------------------------------

// One product of the suite as resources/products.json lists it. `descriptionId` is the string id
// of its one-sentence description; shortcut names match `name` exactly, or as a prefix when
// `prefixMatch` is set.
struct SuiteProduct {
    std::wstring_view name;
    std::uint16_t descriptionId = 0;
    bool prefixMatch = false;
    std::wstring_view executable;  // its main executable's file name; empty for content packs
};

// Every product, in the order of products.json.
std::vector<SuiteProduct> SuiteProducts();

// The description string id for a shortcut's name-and-path: exact matches first, then the
// prefix entries; 0 when no product matches.
std::uint16_t ProductDescriptionId(std::wstring_view shortcutName);

}  // namespace util
