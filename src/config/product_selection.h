// The choices of the custom installation and of `/excludeapp` that steer the action builders.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/action_record.h"

namespace config {

struct ProductSelection {
    std::vector<std::wstring> unselectedNames;  // display names unticked in the custom list
    std::vector<std::wstring> offeredNames;     // display names offered in that list
    std::vector<ActionRecord> listedActions;    // the list parsed for the dialog
    std::vector<std::wstring> unselectedIds;    // uninstallId of every listed record whose name is unticked
    std::vector<std::wstring> excludedApps;     // lower-case prefixes, each beginning with "velmo"
    bool isCustomInstallation = false;
    bool listingMode = false;                   // set while the configuration is parsed for the dialog

    // Whether a record of that display name stays out of the list.
    bool IsUnselected(std::wstring_view displayName, bool mainItem) const;
    // Whether a package file belongs to an excluded application; logs "Exclude App: %s" (Info).
    bool IsExcluded(std::wstring_view fileName) const;

    // A comma-separated `/excludeapp` value: each part trimmed of blanks, empty parts dropped,
    // lower-cased and given the prefix "velmo" unless it begins with it.
    void AddExcludedApps(std::wstring_view commaSeparated);
    // Names the command-line parser already split and prefixed; each is lower-cased, empty ones dropped.
    void AppendExcludedApps(const std::vector<std::wstring>& names);
    // The user's unticked names: sets unselectedNames and derives unselectedIds from listedActions.
    void SetUnselectedNames(std::vector<std::wstring> names);
};

// The process-wide selection (created on first use).
ProductSelection& GlobalProductSelection();

}  // namespace config
