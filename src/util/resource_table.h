// The layout of the resource table that tools/resource-gen writes into the build and that
// util/resources.cpp reads. Not for use elsewhere: callers go through util/resources.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace util::resource_table {

// One resource, addressed like a Windows resource. `typeName` is empty for the numeric types
// (RT_STRING, RT_ICON, RT_GROUP_ICON); named types ("PNG", "EULA") are upper case and have
// `typeNumber` 0. The table is sorted by (typeNumber, typeName, id, langId).
struct Entry {
    std::uint16_t typeNumber;
    const char* typeName;
    std::uint16_t id;
    std::uint16_t langId;
    std::uint32_t offset;  // into kBlob; every resource starts on a 4-byte boundary
    std::uint32_t size;
};

// A product of the suite: its name, the string id of its one-sentence description and whether a
// shortcut name matches it exactly or as a prefix.
struct Product {
    const wchar_t* name;
    std::uint16_t descriptionId;
    bool prefixMatch;
    const wchar_t* executable;
};

extern const unsigned char kBlob[];
extern const Entry kEntries[];
extern const std::size_t kEntryCount;
extern const Product kProducts[];
extern const std::size_t kProductCount;

}  // namespace util::resource_table
