#include "config/action_builders.h"

#include <limits>

#include "config/prerequisites.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "util/file_helpers.h"
#include "util/launch_options.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace config {

namespace {

std::wstring Backslashes(std::wstring text) {
    for (auto& c : text) {
        if (c == L'/') c = L'\\';
    }
    return text;
}

bool Selected(const ProductSelection& selection, std::wstring_view displayName, bool mainItem,
              std::wstring_view fileName) {
    return !selection.IsUnselected(displayName, mainItem) && !selection.IsExcluded(fileName);
}

// The program shortcuts of a zip package: name-and-path -> target. A name already taken keeps
// its first target; an entry without a name makes no shortcut.
std::map<std::wstring, std::wstring> ProgramShortcuts(const ConfigSection& item) {
    std::map<std::wstring, std::wstring> shortcuts;
    const std::wstring& mainFile = item.Get(L"mainfile");
    if (!item.Has(L"shortcutnameandpath")) {
        std::wstring name = item.Get(L"displayname");
        if (name.empty()) name = item.Get(L"uninstallid");
        if (!name.empty()) shortcuts.emplace(name, mainFile);
        return shortcuts;
    }
    for (const auto& value : NumberedKeyFamily(item, L"shortcutnameandpath")) {
        std::size_t comma = value.find(L',');
        std::wstring name = comma == std::wstring::npos ? value : value.substr(0, comma);
        std::wstring target = comma == std::wstring::npos ? mainFile : value.substr(comma + 1);
        if (!name.empty()) shortcuts.emplace(std::move(name), std::move(target));
    }
    return shortcuts;
}

}  // namespace

BuildFacts CurrentBuildFacts(const util::LaunchOptions& options) {
    BuildFacts f;
    f.isWow64 = IsWow64();
    f.osCode = OperatingSystemCode();
    f.silent = options.silent;
    f.daemon = options.daemon;
    f.desktopShortcutChoice = options.desktopShortcutsForAll;
    f.localPackageFolder = util::JoinPath(util::ExecutableFolder(), L"VelmoInstaller");
    f.downloadFolder = util::JoinPath(util::JoinPath(platform::GetTempPath(), L"VelmoInstaller"), options.installId);
    f.msiLogPath = util::MsiLogPath();
    return f;
}

PackageSource DecidePackageSource(const ConfigSection& item, const BuildFacts& facts) {
    const std::wstring& url = item.Get(L"url");
    PackageSource source;
    if (!util::StartsWithNoCase(url, L"http")) {
        // A host path in the configuration ("/srv/pkg.zip") is taken in its Windows form.
        std::wstring local = platform::FromExternalPath(url);
        if (util::FileExists(local)) {
            source.path = local;
            return source;
        }
    }
    const std::wstring& fileName = item.Get(L"filename");
    std::wstring beside = util::JoinPath(facts.localPackageFolder, fileName);
    if (!facts.localPackageFolder.empty() && !fileName.empty() && util::FileExists(beside)) {
        source.path = beside;
        return source;
    }
    source.download = true;
    source.path = util::JoinPath(facts.downloadFolder, fileName);
    return source;
}

std::int64_t ParsePackageSize(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    if (i < text.size() && text[i] == L'+') ++i;
    std::int64_t value = 0;
    bool digits = false;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        int d = static_cast<int>(text[i] - L'0');
        if (value > (kMax - d) / 10) return 0;
        value = value * 10 + d;
        digits = true;
    }
    return digits ? value : 0;
}

std::vector<std::wstring> NumberedKeyFamily(const ConfigSection& item, std::wstring_view baseKey) {
    std::vector<std::wstring> values;
    std::wstring key(baseKey);
    for (int n = 1; item.Has(key); ++n) {
        values.push_back(item.Get(key));
        key += std::to_wstring(n);
    }
    return values;
}

std::vector<ActionRecord> GetPreRequestActon(const ConfigSection& item, bool alreadyInstalled,
                                             std::wstring_view repairParameter, const BuildFacts& facts) {
    std::vector<ActionRecord> out;
    const bool systemFlag = item.Flag(L"systemcomponents");
    const bool velmoFlag = item.Flag(L"velmocomponents");
    const std::wstring& displayName = item.Get(L"displayname");
    PackageSource source = DecidePackageSource(item, facts);

    if (source.download) {
        ActionRecord d = MakeAction(ActionType::PrerequisiteDownload);
        d.id = item.Get(L"id");
        d.download_data.URL = item.Get(L"url");
        d.download_data.Name = item.Get(L"filename");
        d.download_data.DisplayName = displayName;
        d.download_data.isSystemComponent = systemFlag;
        d.download_data.isVelmoComponent = velmoFlag;
        if (item.Has(L"md5")) {
            d.download_data.downloadMd5 = item.Get(L"md5");
            util::LogDebug(L"Download GetPreRequestActon file:%s MD5:%s \r\n", displayName, d.download_data.downloadMd5);
        }
        if (item.Has(L"size")) {
            d.download_data.ByteSize = ParsePackageSize(item.Get(L"size"));
            util::LogDebug(L"Download GetPreRequestActon file:%s size:%lld \r\n", displayName, d.download_data.ByteSize);
        }
        out.push_back(std::move(d));
    }

    ActionRecord r = MakeAction(ActionType::PrerequisiteInstall);
    r.id = item.Has(L"id") ? item.Get(L"id") : item.Get(L"uninstallid");
    auto& i = r.install_data;
    i.InstallType = kInstallPrerequisite;
    i.Name = item.Get(L"filename");
    i.FilePath = source.path;
    i.DisplayName = displayName;
    i.CommandLineParameter = item.Get(L"parameter");
    i.successExitCodes = {{3010, 1}, {1641, 1}};
    i.progressInterval = 1000;
    i.needsDownload = source.download;
    if (item.Has(L"md5")) {
        i.installMd5 = item.Get(L"md5");
        util::LogDebug(L"Download GetPreRequestActon install_data md5:%s \r\n", i.installMd5);
    }
    i.isPrerequisite = item.Flag(L"isPrerequisite");
    r.alreadyInstalled = alreadyInstalled;
    i.repairParameter = std::wstring(repairParameter);
    i.isSystemComponent = systemFlag;
    i.isVelmoComponent = velmoFlag;
    out.push_back(std::move(r));
    return out;
}

std::vector<ActionRecord> GetMSIAction(const ConfigSection& item, const BuildFacts& facts,
                                       const ProductSelection& selection) {
    std::vector<ActionRecord> out;
    const std::wstring& fileName = item.Get(L"filename");
    const std::wstring& displayName = item.Get(L"displayname");
    PackageSource source = DecidePackageSource(item, facts);

    if (source.download) {
        ActionRecord d = MakeAction(ActionType::SetupDownload);
        d.id = item.Get(L"id");
        d.download_data.UpdateType = L"setup";
        d.download_data.URL = item.Get(L"url");
        d.download_data.ByteSize = ParsePackageSize(item.Get(L"size"));
        d.download_data.Name = fileName;
        d.download_data.DisplayName = displayName;
        if (item.Has(L"md5")) {
            d.download_data.downloadMd5 = item.Get(L"md5");
            util::LogDebug(L"GetMSIAction download_data fileName:%s md5:%s \r\n", fileName, d.download_data.downloadMd5);
        } else {
            util::LogDebug(L"GetMSIAction download_data fileName:%s no md5 \r\n", fileName);
        }
        if (Selected(selection, displayName, false, fileName)) out.push_back(std::move(d));
    }

    ActionRecord r = MakeAction(ActionType::SetupInstall);
    r.id = item.Get(L"id");
    auto& i = r.install_data;
    i.UpdateType = L"setup";
    i.Name = fileName;
    i.FilePath = source.path;
    i.DisplayName = displayName;
    i.installMd5 = item.Get(L"md5");
    i.Upgrade_code = item.Get(L"upgradecode");
    i.InstallType = kInstallSetupProgram;
    i.InstallFolder = Backslashes(item.Get(L"installfolder"));
    i.checkVersionFile = item.Get(L"mainfile");
    i.needsDownload = source.download;
    r.alreadyInstalled = false;
    i.CommandLineParameter = L" /log \"" + facts.msiLogPath + L"\" ";
    if (item.Has(L"parameter")) i.CommandLineParameter += item.Get(L"parameter");
    if (Selected(selection, displayName, false, fileName)) out.push_back(std::move(r));
    return out;
}

std::vector<ActionRecord> GetUnzipAction(const ConfigSection& item, const BuildFacts& facts,
                                         const ProductSelection& selection) {
    const std::wstring& arch = item.Get(L"arch");
    if (facts.isWow64) {
        if (arch == L"x86") return {};
    } else if (item.Flag(L"is64BitOnly") || arch == L"x64") {
        return {};
    }
    const std::wstring& unsupported = item.Get(L"unsupportedos");
    if (!unsupported.empty()) {
        // Parts are compared as written: "7, 10" lists "7" and " 10".
        std::wstring current = std::to_wstring(facts.osCode);
        for (const auto& part : util::SplitKeep(unsupported, L",")) {
            if (part == current) return {};
        }
    }

    std::vector<ActionRecord> out;
    const std::wstring& url = item.Get(L"url");
    const std::wstring& fileName = item.Get(L"filename");
    const std::wstring& displayName = item.Get(L"displayname");
    const bool systemFlag = item.Flag(L"systemcomponents");
    const bool velmoFlag = item.Flag(L"velmocomponents");
    util::LogDebug(L"Pending unzip action file path :%s ", url);
    PackageSource source = DecidePackageSource(item, facts);

    if (source.download) {
        ActionRecord d = MakeAction(ActionType::SetupDownload);
        d.id = item.Get(L"id");
        d.download_data.UpdateType = L"setup";
        d.download_data.URL = url;
        d.download_data.ByteSize = ParsePackageSize(item.Get(L"size"));
        d.download_data.isSystemComponent = systemFlag;
        d.download_data.isVelmoComponent = velmoFlag;
        d.download_data.Name = fileName;
        d.download_data.DisplayName = displayName;
        if (item.Has(L"md5")) {
            d.download_data.downloadMd5 = item.Get(L"md5");
            util::LogDebug(L"GetUnzipAction download_data fileName:%s md5:%s \r\n", fileName, d.download_data.downloadMd5);
        }
        if (Selected(selection, displayName, false, fileName)) out.push_back(std::move(d));
        util::LogDebug(L"Add download action :%s ", source.path);
    }

    ActionRecord r = MakeAction(ActionType::SetupInstall);
    r.id = item.Get(L"id");
    auto& i = r.install_data;
    i.UpdateType = L"setup";
    i.progressInterval = 160;
    i.Name = fileName;
    i.installMd5 = item.Get(L"md5");
    i.FilePath = source.path;
    i.DisplayName = displayName;
    i.uninstallId = item.Get(L"uninstallid");
    i.InstallType = kInstallZipPackage;
    i.InstallFolder = Backslashes(item.Get(L"installfolder"));
    i.checkVersion = item.Flag(L"checkversion");
    i.isMainItem = !item.Flag(L"subaction");
    i.isPrerequisite = item.Flag(L"isPrerequisite");
    i.checkVersionFile = item.Get(L"mainfile");
    i.version = item.Get(L"version");
    i.CommandLineParameter = item.Get(L"parameter");
    i.preexecfile = item.Get(L"preexecfile");
    i.isCreateUninstall = !item.Flag(L"notuninstall");

    const std::wstring& shortcut = item.Get(L"shortcut");
    i.wantsShortcut = shortcut.find(L"yes") != std::wstring::npos;
    if (shortcut.find(L',') != std::wstring::npos) i.desktopShortcutOptions = util::SplitTokens(shortcut, L",");
    i.hasUrlShortcuts = item.Has(L"urlshortcutnameandpath");
    i.isSystemComponent = systemFlag;
    i.isVelmoComponent = velmoFlag;
    i.noShortcut = item.Flag(L"noshortcut");
    i.wantsStartMenu = item.Flag(L"startmenu");
    if (i.wantsStartMenu) {
        i.startMenuFolder = item.Get(L"startmenufolder");
        i.appUserModelId = item.Get(L"appusermid");
        i.activatorId = item.Get(L"activatorid");
    }
    if (!i.noShortcut && (facts.desktopShortcutChoice || i.wantsShortcut || i.wantsStartMenu))
        i.shortcuts = ProgramShortcuts(item);
    if (i.hasUrlShortcuts) {
        for (auto& value : NumberedKeyFamily(item, L"urlshortcutnameandpath")) {
            if (!value.empty()) i.urlShortcuts.push_back(std::move(value));
        }
    }
    i.needsDownload = source.download;
    r.alreadyInstalled = false;
    if (Selected(selection, displayName, i.isMainItem, fileName)) out.push_back(std::move(r));
    return out;
}

}  // namespace config
