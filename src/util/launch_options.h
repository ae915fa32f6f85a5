// The process-wide record of the command-line options.
//
// Written only by the command-line parser before any window exists and read everywhere
// afterwards; the only later changes are the use-file-associations field and the
// desktop-shortcuts-for-all choice, set from the interactive page when the user starts.
#pragma once

#include <cstdint>
#include <string>

namespace util {

struct LaunchOptions {
    bool uninstallMode = false;
    bool acceptLicence = false;
    bool autoUpdateConsent = false;
    bool silent = false;
    bool daemon = false;
    std::uint32_t parentWindow = 0;  // window handle of a daemon parent; 0 = none known
    bool useFileAssociations = true;
    std::wstring productSpecification;
    std::wstring installPath;
    bool noDesktopShortcut = false;
    bool desktopShortcutsForAll = false;
    bool selfUpdate = true;
    std::wstring installId = L"hearthview2024";
    bool singleInstanceCheck = true;
    std::wstring guideAppName;
    std::wstring guideUseCase;
    std::wstring guideStartApp;
};

// The one instance of the process.
LaunchOptions& GlobalLaunchOptions();

}  // namespace util
