// The loaded 7-Zip library: its CreateObject and the way its strings are freed.
#pragma once

#include <string_view>

#include "archive/seven_zip_interfaces.h"

namespace archive {

struct ArchiveLibrary {
    sevenzip::CreateObjectFunc createObject = nullptr;
    sevenzip::SysFreeStringFunc sysFreeString = nullptr;  // the library's own, when it exports one

    // Frees a string the library allocated.
    void FreeString(sevenzip::BSTR text) const;
    // Releases what the library allocated for the value and leaves it empty.
    void Clear(sevenzip::PROPVARIANT& value) const;
};

// The library at the path, loaded once and kept for the rest of the process (unloading it would
// turn its still-reachable allocations into leaks and buys nothing). Null when it cannot be
// loaded; a library without CreateObject is returned with createObject null.
const ArchiveLibrary* LoadArchiveLibrary(std::wstring_view path);

}  // namespace archive
