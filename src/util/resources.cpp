#include "util/resources.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/text.h"
#include "platform/thread_language.h"
#include "util/resource_table.h"

// The version block is generated into the executables that link velmo_version_block; other
// programs (the test runners) have none, which the weak references let us see.
extern const unsigned char kVelmoVersionBlock[] __attribute__((weak));
extern const unsigned int kVelmoVersionBlockSize __attribute__((weak));

namespace util {

namespace {

using resource_table::Entry;

constexpr std::uint16_t kVersionResourceId = 1;

bool UpperEquals(std::string_view stored, std::string_view asked) {
    if (stored.size() != asked.size()) return false;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        char c = asked[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (stored[i] != c) return false;
    }
    return true;
}

bool SameType(const Entry& e, const ResourceType& type) {
    if (type.name.empty()) return e.typeNumber == type.number && e.typeName[0] == '\0';
    return e.typeNumber == 0 && UpperEquals(e.typeName, type.name);
}

bool HasVersionBlock() { return &kVelmoVersionBlockSize != nullptr && kVelmoVersionBlockSize > 0; }

// Every resource of this type and id, ascending by language. The table is sorted by
// (type, id, language) and small, so the entries of one type and id are adjacent.
std::vector<const Entry*> Candidates(const ResourceType& type, std::uint16_t id) {
    std::vector<const Entry*> found;
    for (std::size_t i = 0; i < resource_table::kEntryCount; ++i) {
        const Entry& e = resource_table::kEntries[i];
        if (e.id == id && SameType(e, type)) found.push_back(&e);
    }
    return found;
}

ResourceData DataOf(const Entry& e) { return {resource_table::kBlob + e.offset, e.size, e.langId}; }

ResourceData VersionBlock() {
    return {kVelmoVersionBlock, kVelmoVersionBlockSize, kLangEnglishUS};
}

bool IsVersionResource(const ResourceType& type, std::uint16_t id) {
    return type.name.empty() && type.number == RT_VERSION && id == kVersionResourceId && HasVersionBlock();
}

bool TypeExists(const ResourceType& type) {
    if (type.name.empty() && type.number == RT_VERSION && HasVersionBlock()) return true;
    for (std::size_t i = 0; i < resource_table::kEntryCount; ++i)
        if (SameType(resource_table::kEntries[i], type)) return true;
    return false;
}

std::wstring StringFromBundle(const ResourceData& bundle, std::uint16_t id) {
    std::size_t at = 0;
    for (unsigned slot = 0; slot < 16; ++slot) {
        if (at + 2 > bundle.size) return {};
        const std::size_t units = bundle.data[at] | (bundle.data[at + 1] << 8);
        at += 2;
        if (at + units * 2 > bundle.size) return {};
        if (slot == (id & 15u))
            return platform::WideFromUtf16Le(std::string_view(reinterpret_cast<const char*>(bundle.data + at), units * 2));
        at += units * 2;
    }
    return {};
}

std::uint16_t BundleOf(std::uint16_t id) { return static_cast<std::uint16_t>((id >> 4) + 1); }

}  // namespace

ResourceData FindResourceEx(ResourceType type, std::uint16_t id, std::uint16_t langId) {
    if (IsVersionResource(type, id) && langId == kLangEnglishUS) return VersionBlock();
    const std::vector<const Entry*> all = Candidates(type, id);
    for (const Entry* e : all)
        if (e->langId == langId) return DataOf(*e);
    if (!TypeExists(type)) platform::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    else if (all.empty() && !IsVersionResource(type, id)) platform::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    else platform::SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return {};
}

ResourceData FindResource(ResourceType type, std::uint16_t id) {
    if (IsVersionResource(type, id)) return VersionBlock();
    const std::vector<const Entry*> all = Candidates(type, id);
    if (all.empty()) {
        platform::SetLastError(TypeExists(type) ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return {};
    }
    const std::uint16_t thread = platform::GetThreadUILanguage();
    for (std::uint16_t lang : {thread, PrimaryLangId(thread), LANG_NEUTRAL, kLangEnglishUS})
        for (const Entry* e : all)
            if (e->langId == lang) return DataOf(*e);
    return DataOf(*all.front());
}

std::vector<std::uint16_t> ResourceLanguages(ResourceType type, std::uint16_t id) {
    std::vector<std::uint16_t> langs;
    for (const Entry* e : Candidates(type, id)) langs.push_back(e->langId);
    if (IsVersionResource(type, id)) langs.push_back(kLangEnglishUS);
    std::sort(langs.begin(), langs.end());
    return langs;
}

std::vector<std::uint16_t> StringTableLanguages() {
    std::vector<std::uint16_t> langs;
    for (std::size_t i = 0; i < resource_table::kEntryCount; ++i) {
        const Entry& e = resource_table::kEntries[i];
        if (e.typeNumber == RT_STRING && e.typeName[0] == '\0') langs.push_back(e.langId);
    }
    std::sort(langs.begin(), langs.end());
    langs.erase(std::unique(langs.begin(), langs.end()), langs.end());
    return langs;
}

bool ResolveStringTable(std::uint16_t langId, std::uint16_t& tableLangId) {
    const std::vector<std::uint16_t> tables = StringTableLanguages();
    for (std::uint16_t candidate : {langId, PrimaryLangId(langId)}) {
        if (std::binary_search(tables.begin(), tables.end(), candidate)) {
            tableLangId = candidate;
            return true;
        }
    }
    return false;
}

std::wstring LoadStringForLanguage(std::uint16_t id, std::uint16_t langId) {
    std::uint16_t table = 0;
    if (!ResolveStringTable(langId, table)) return {};
    const ResourceData bundle = FindResourceEx(RT_STRING, BundleOf(id), table);
    return bundle ? StringFromBundle(bundle, id) : std::wstring();
}

std::wstring LoadStringPreferred(std::uint16_t id, std::uint16_t langId) {
    std::uint16_t table = 0;
    if (!ResolveStringTable(langId, table)) table = kLangEnglishUS;
    const ResourceData bundle = FindResourceEx(RT_STRING, BundleOf(id), table);
    return bundle ? StringFromBundle(bundle, id) : std::wstring();
}

std::wstring LoadString(std::uint16_t id) { return LoadStringPreferred(id, platform::GetThreadUILanguage()); }

std::vector<IconImage> LoadIconGroup(std::uint16_t groupId) {
    std::vector<IconImage> images;
    const std::vector<const Entry*> groups = Candidates(RT_GROUP_ICON, groupId);
    if (groups.empty()) return images;
    const ResourceData group = DataOf(*groups.front());
    auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(group.data[at] | (group.data[at + 1] << 8)); };
    if (group.size < 6) return images;
    const std::size_t count = u16(4);
    for (std::size_t i = 0; i < count && 6 + (i + 1) * 14 <= group.size; ++i) {
        const std::size_t at = 6 + i * 14;
        const std::vector<const Entry*> icon = Candidates(RT_ICON, u16(at + 12));
        if (icon.empty()) continue;
        const ResourceData data = DataOf(*icon.front());
        IconImage image;
        image.width = group.data[at] == 0 ? 256 : group.data[at];
        image.height = group.data[at + 1] == 0 ? 256 : group.data[at + 1];
        image.png = data.Bytes();
        images.push_back(image);
    }
    return images;
}

std::vector<SuiteProduct> SuiteProducts() {
    std::vector<SuiteProduct> products;
    for (std::size_t i = 0; i < resource_table::kProductCount; ++i) {
        const auto& p = resource_table::kProducts[i];
        products.push_back({p.name, p.descriptionId, p.prefixMatch, p.executable});
    }
    return products;
}

std::uint16_t ProductDescriptionId(std::wstring_view shortcutName) {
    const std::vector<SuiteProduct> products = SuiteProducts();
    for (const SuiteProduct& p : products)
        if (!p.prefixMatch && shortcutName == p.name) return p.descriptionId;
    for (const SuiteProduct& p : products)
        if (p.prefixMatch && shortcutName.substr(0, p.name.size()) == p.name) return p.descriptionId;
    return 0;
}

}  // namespace util
