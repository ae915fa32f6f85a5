#include "config/product_selection.h"

#include <algorithm>

#include "platform/text.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace config {

namespace {

bool Contains(const std::vector<std::wstring>& list, std::wstring_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

std::wstring NormalisedAppName(std::wstring_view name) {
    std::wstring lower = platform::LowerText(name);
    if (!lower.starts_with(L"velmo")) lower.insert(0, L"velmo");
    return lower;
}

}  // namespace

bool ProductSelection::IsUnselected(std::wstring_view displayName, bool mainItem) const {
    if (listingMode || displayName.empty() || unselectedNames.empty()) return false;
    if (Contains(unselectedNames, displayName)) return true;
    if (!mainItem && !unselectedIds.empty()) {
        for (const auto& r : listedActions) {
            if (r.install_data.DisplayName == displayName && Contains(unselectedIds, r.install_data.uninstallId)) return true;
        }
    }
    return false;
}

bool ProductSelection::IsExcluded(std::wstring_view fileName) const {
    if (excludedApps.empty()) return false;
    std::wstring name = NormalisedAppName(fileName);
    for (const auto& app : excludedApps) {
        if (name.starts_with(app)) {
            util::LogInfo(L"Exclude App: %s", app);
            return true;
        }
    }
    return false;
}

void ProductSelection::AddExcludedApps(std::wstring_view commaSeparated) {
    for (const auto& part : util::SplitTokens(commaSeparated, L",")) excludedApps.push_back(NormalisedAppName(part));
}

void ProductSelection::AppendExcludedApps(const std::vector<std::wstring>& names) {
    // An empty prefix would exclude every package.
    for (const auto& name : names) {
        if (!name.empty()) excludedApps.push_back(platform::LowerText(name));
    }
}

void ProductSelection::SetUnselectedNames(std::vector<std::wstring> names) {
    unselectedNames = std::move(names);
    unselectedIds.clear();
    // An empty id would tie every record without an id (setup programs, prerequisites) together.
    for (const auto& r : listedActions) {
        const auto& id = r.install_data.uninstallId;
        if (!id.empty() && Contains(unselectedNames, r.install_data.DisplayName) && !Contains(unselectedIds, id))
            unselectedIds.push_back(id);
    }
}

ProductSelection& GlobalProductSelection() {
    static ProductSelection selection;
    return selection;
}

}  // namespace config
