// Readers of the installer's package registry: HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\velmopack\0" in the default (32-bit) view,
// one REG_SZ value per installed main product, named after its installation folder, holding its
// uninstall id. The uninstall registration writes it; these readers fix the layout it must match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace config {

inline constexpr std::wstring_view kPackageRegistryKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\velmopack\\0";
inline constexpr std::wstring_view kUninstallKeyPrefix = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The uninstall ids of every registered product, in enumeration order; empty when the key is missing.
std::vector<std::wstring> ListRegisteredProducts();
// The uninstall id of the first registered product whose folder is a prefix of `folder` (letter
// case ignored, "/" read as "\"), or empty text. A value without a name never matches.
std::wstring ProductByFolder(std::wstring_view folder);

}  // namespace config
