// Names of archive entries as both readers see them.
#pragma once

#include <string>
#include <string_view>

namespace archive {

// UTF-8 name bytes as wide text with every "/" turned into "\".
std::wstring EntryNameFromUtf8(std::string_view utf8);

// True when joining the name to a destination folder stays inside it: the name is relative
// (no leading separator), names no drive or stream (no ":"), and no ".." component climbs above
// the destination. "a\..\b" stays inside; "..\b", "a\..\..\b", "\b" and "C:b" do not.
bool StaysInsideDestination(std::wstring_view name);

}  // namespace archive
