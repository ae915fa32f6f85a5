// Version resources: the VS_VERSIONINFO block of a file, as GetFileVersionInfo and VerQueryValue
// give it.
//
// The block is found in the resource section of a PE file (RT_VERSION, 32- and 64-bit images), or
// in any other file that embeds one: the first place where the UTF-16 key "VS_VERSION_INFO" is
// followed by a VS_FIXEDFILEINFO (signature 0xFEEF04BD). That is how our own Linux executables
// carry their version. Files are read defensively: any length or offset is checked, a malformed
// file gives "no version" and never more than what it holds.
//
// The builders write such blocks and minimal PE32/PE32+ files holding them, for fixtures and for
// the installer's own embedded block.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/errors.h"

namespace platform {

using VersionQuad = std::array<std::uint16_t, 4>;  // major, minor, build, revision

// VS_FIXEDFILEINFO as stored.
struct FixedFileInfo {
    DWORD signature = 0xFEEF04BD;
    DWORD structVersion = 0x00010000;
    DWORD fileVersionMS = 0;
    DWORD fileVersionLS = 0;
    DWORD productVersionMS = 0;
    DWORD productVersionLS = 0;
    DWORD fileFlagsMask = 0x3F;
    DWORD fileFlags = 0;
    DWORD fileOS = 0x00040004;  // VOS_NT_WINDOWS32
    DWORD fileType = 1;         // VFT_APP
    DWORD fileSubtype = 0;
    DWORD fileDateMS = 0;
    DWORD fileDateLS = 0;
};

struct VersionStringTable {
    std::wstring key;  // language and code page as 8 hex digits, e.g. "040904B0"
    std::vector<std::pair<std::wstring, std::wstring>> values;  // in file order
};

struct VersionInfo {
    std::string block;  // the raw VS_VERSIONINFO bytes (as GetFileVersionInfo returns them)
    FixedFileInfo fixed;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // (language, code page)
    std::vector<VersionStringTable> stringTables;

    VersionQuad FileVersion() const;
    VersionQuad ProductVersion() const;
    // "%d.%d.%d.%d" of the fixed file version.
    std::wstring FileVersionText() const;
    // The value `name` of the string table `table` ("040904b0"; hex case does not matter, names
    // compare case-insensitively as VerQueryValue does). False when either is missing.
    bool QueryString(std::wstring_view table, std::wstring_view name, std::wstring& value) const;
    // VerQueryValue's path form: "\StringFileInfo\040904b0\CompanyName".
    bool QueryValue(std::wstring_view subBlock, std::wstring& value) const;
};

// Reads the version resource of a file (Windows path). False with ERROR_RESOURCE_TYPE_NOT_FOUND
// (1813) when the file has none, or the file error when it cannot be read.
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
bool ReadVersionInfo(std::wstring_view windowsPath, VersionInfo& out);
bool ReadVersionInfoFromHostFile(const std::filesystem::path& hostPath, VersionInfo& out);

// The version block inside file bytes: the PE resource when the bytes are a PE image with one,
// else the first embedded block found by its signature. False when there is none.
bool FindVersionBlock(std::string_view fileBytes, std::string_view& block);
// Parses a VS_VERSIONINFO block. False when it is not one (the fixed part is required).
bool ParseVersionBlock(std::string_view block, VersionInfo& out);

struct VersionBlockSpec {
    VersionQuad fileVersion{0, 0, 0, 0};
    VersionQuad productVersion{0, 0, 0, 0};
    std::wstring stringTable = L"040904B0";
    std::vector<std::pair<std::wstring, std::wstring>> strings;  // CompanyName, FileVersion, ...
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations{{0x0409, 0x04B0}};
    DWORD fileFlags = 0;
    DWORD fileType = 1;  // VFT_APP
};

// A VS_VERSIONINFO block: the fixed info, a StringFileInfo with one table and a
// VarFileInfo\Translation, every part 32-bit aligned relative to the block's start.
std::string BuildVersionInfoBlock(const VersionBlockSpec& spec);

struct PeSpec {
    bool pe32Plus = false;        // PE32+ (64-bit image) instead of PE32
    std::uint16_t language = 0x0409;  // language id of the RT_VERSION resource
};

// A minimal valid PE image (one .rsrc section, no code) whose RT_VERSION resource (id 1) is `block`.
std::string BuildPeWithVersion(std::string_view block, const PeSpec& spec = {});

}  // namespace platform
