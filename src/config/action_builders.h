// The builders that turn one configuration item into action records.
//
// They are functions of the item, the machine facts below and the product selection; besides
// the log lines, their only contact with the machine is whether a package file exists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/action_record.h"
#include "config/config_section.h"
#include "config/product_selection.h"

namespace util {
struct LaunchOptions;
}

namespace config {

struct BuildFacts {
    bool isWow64 = true;                 // 64-bit Windows
    std::int32_t osCode = 10;            // see OperatingSystemCode()
    bool silent = false;
    bool daemon = false;
    bool desktopShortcutChoice = false;  // the settings' "desktop shortcut for all applications" box
    std::wstring localPackageFolder;     // "VelmoInstaller" beside the installer's executable
    std::wstring downloadFolder;         // temporary folder \ "VelmoInstaller" \ install id
    std::wstring msiLogPath;             // passed to setup programs after " /log "
};

// The facts of this machine and run: the machine profile, the options, the installer's folder,
// the temporary folder and the log's MSI path.
BuildFacts CurrentBuildFacts(const util::LaunchOptions& options);

// Where a package comes from. It is fetched when the url begins with "http" (any case) or names
// no existing file; a fetched package found in the local package folder is used from there.
struct PackageSource {
    bool download = false;  // a download record is made
    std::wstring path;      // the file to run or unpack
};
PackageSource DecidePackageSource(const ConfigSection& item, const BuildFacts& facts);

// "size": leading decimal digits as a 64-bit count; unparsable, negative or too large gives 0.
std::int64_t ParsePackageSize(std::wstring_view text);

// Prerequisite programs (Visual C++ runtimes, .NET): never filtered by the selection.
std::vector<ActionRecord> GetPreRequestActon(const ConfigSection& item, bool alreadyInstalled,
                                             std::wstring_view repairParameter, const BuildFacts& facts);
// Setup programs and MSI packages.
std::vector<ActionRecord> GetMSIAction(const ConfigSection& item, const BuildFacts& facts,
                                       const ProductSelection& selection);
// Zip packages: architecture and operating-system filters, shortcut families.
std::vector<ActionRecord> GetUnzipAction(const ConfigSection& item, const BuildFacts& facts,
                                         const ProductSelection& selection);

// The numbered key family "key", "key1", "key12", "key123", ... up to the first absent key.
std::vector<std::wstring> NumberedKeyFamily(const ConfigSection& item, std::wstring_view baseKey);

}  // namespace config
