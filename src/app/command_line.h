// The installer's command-line grammar.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/launch_options.h"

namespace app {

// The clipboard text a web guide hands over must be a JSON object carrying this tag.
inline constexpr std::string_view kGuideTag = "D41E07A9-C6F2-4B1D-9E5A-71C3F0B8D26E";

// Fills the options from the full Windows command line (program path included). Each option is
// recognised with and without a leading slash, case-insensitively; a value option takes the next
// token. The names of /excludeapp are appended to `excludedApps`. An interactive install (neither
// silent nor uninstall) then reads the guide hand-over from the clipboard.
void ParseCommandLine(std::wstring_view commandLine, util::LaunchOptions& options,
                      std::vector<std::wstring>& excludedApps);

// Reads the guide hand-over from the clipboard into the options and empties the clipboard when
// the text is the tagged JSON object; leaves everything alone otherwise.
void ReadGuideHandOver(util::LaunchOptions& options);

}  // namespace app
