// The two version comparisons. They differ on purpose, and callers depend on the difference.
#pragma once

#include <string_view>

namespace util {

// Whether a is at least b, part by part as decimal numbers; "1.2.0" is at least "1.2" but "1.2"
// is not at least "1.2.0". Used by the prerequisite checks.
bool VersionAtLeast(std::wstring_view a, std::wstring_view b);
// 1, 0 or -1; when all shared parts are equal, a longer a is greater, a longer b is equal.
int CompareVersions(std::wstring_view a, std::wstring_view b);

}  // namespace util
