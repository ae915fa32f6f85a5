#include "config/package_registry.h"

#include <utility>

#include "platform/text.h"
#include "util/system_helpers.h"
#include "util/text_helpers.h"

namespace config {

std::vector<std::wstring> ListRegisteredProducts() {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    util::EnumRegistryValues(kPackageRegistryKey, values);
    std::vector<std::wstring> ids;
    ids.reserve(values.size());
    for (auto& v : values) ids.push_back(std::move(v.second));
    return ids;
}

std::wstring ProductByFolder(std::wstring_view folder) {
    std::wstring wanted(folder);
    for (auto& c : wanted) {
        if (c == L'/') c = L'\\';
    }
    std::vector<std::pair<std::wstring, std::wstring>> values;
    util::EnumRegistryValues(kPackageRegistryKey, values);
    for (const auto& v : values) {
        // The default value has no folder: as a prefix it would match every folder.
        if (!v.first.empty() && util::StartsWithNoCase(wanted, v.first)) return v.second;
    }
    return {};
}

}  // namespace config
