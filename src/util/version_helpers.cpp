#include <mutex>

#include "platform/file.h"
#include "platform/profile.h"
#include "platform/version_info.h"
#include "util/file_helpers.h"
#include "util/format.h"

namespace util {

std::wstring FileVersionText(std::wstring_view path) {
    platform::VersionInfo info;
    if (!platform::ReadVersionInfo(path, info)) return {};
    return info.FileVersionText();
}

std::wstring ModuleStringVersionValue(std::wstring_view modulePath, std::wstring_view valueName) {
    platform::VersionInfo info;
    if (!platform::ReadVersionInfo(modulePath, info)) return {};
    std::wstring subBlock;
    if (!info.translations.empty()) {
        const auto [language, codePage] = info.translations.front();
        subBlock = Format(L"\\StringFileInfo\\%02X%02X%02X%02X\\%s", language >> 8, language & 0xFF, codePage >> 8,
                          codePage & 0xFF, valueName);
    } else {
        subBlock = Format(L"\\StringFileInfo\\%04X04B0\\%s", platform::CurrentProfile().uiLanguage, valueName);
    }
    std::wstring value;
    if (!info.QueryValue(subBlock, value)) return {};
    return value;
}

std::wstring InstallerProductVersion() {
    // Computed once; every thread sees the same text.
    static const std::wstring version = [] {
        std::wstring v = ModuleStringVersionValue(platform::GetModuleFileName(), L"ProductVersion");
        for (auto& c : v)
            if (c == L',') c = L'.';
        return v;
    }();
    return version;
}

}  // namespace util
