// Parse configuration: the installer configuration file into the ordered action list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/action_builders.h"
#include "config/action_record.h"
#include "config/ini_reader.h"
#include "config/product_selection.h"

namespace config {

// What the "setup" section sets on the main controller. Optional members are set only when their
// key is present; the launch id is -1 when its key is absent or unparsable.
struct SetupSettings {
    std::optional<std::wstring> productName;
    std::wstring installRoot;  // the root given, "installfolder" appended, every "/" made "\"
    std::optional<std::wstring> launchFile;
    std::int32_t launchId = -1;
    std::optional<std::wstring> launchName;
};

struct ConfigParseResult {
    std::vector<ActionRecord> actions;     // runtimes, .NET, products in file order, then Finish;
                                           // or only ConfigError
    std::int32_t productSectionCount = 0;  // product sections processed (with or without records)
    std::optional<SetupSettings> setup;    // absent when the file was rejected before "setup" was read
};

ConfigParseResult ParseConfiguration(const IniFile& file, std::wstring_view installRoot, const BuildFacts& facts,
                                     const ProductSelection& selection);
ConfigParseResult ParseConfigurationFile(std::wstring_view path, std::wstring_view installRoot,
                                         const BuildFacts& facts, const ProductSelection& selection);

// "launchid": optional blanks and sign, then decimal digits (text after them is ignored), within
// 32 bits. None when there are no digits or the number does not fit.
std::optional<std::int32_t> ParseLaunchId(std::wstring_view text);

// Listing mode for the custom installation: parses with the selection in listing mode (nothing is
// unselected, exclusions still apply), keeps the list as listedActions and offers the non-empty
// display names of main items that are not prerequisites, "Velmo Common" or "Velmo Essentials
// Bundle", each name once, in list order.
void ListProductsForSelection(std::wstring_view path, std::wstring_view installRoot, const BuildFacts& facts,
                              ProductSelection& selection);

}  // namespace config
