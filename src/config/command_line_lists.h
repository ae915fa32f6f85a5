// The action lists of the `/install` and `/uninstall` product specifications.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/action_builders.h"
#include "config/action_record.h"
#include "config/config_section.h"
#include "config/product_selection.h"

namespace config {

// The items of an `/install` argument: "{...}" is one item, "[...]" an array whose object
// elements are one item each (other elements are skipped); anything else, or JSON that does not
// parse, gives no items. Member values become text the same way in both forms: a string as its
// content, an integer or floating-point number in decimal, true/false as "yes"/"no", anything
// else as empty text.
std::vector<ConfigSection> ParseInstallItems(std::wstring_view argument);

// Build command-line install list. Roles come from the item's `uninstallid`: "vcredist" and
// "vcredist64" are runtimes, "dotnet" is .NET, anything else a product. A .NET item without
// `minversion` counts as not installed.
std::vector<ActionRecord> BuildInstallList(std::wstring_view argument, const BuildFacts& facts,
                                           const ProductSelection& selection);

// Build uninstall list: "all" (registered products, "Velmo Common" last), a JSON object with
// `uninstallid` (and `id`) or `installfolder`, "[" (nothing) or one product's uninstall id.
std::vector<ActionRecord> BuildUninstallList(std::wstring_view argument, const BuildFacts& facts);

}  // namespace config
