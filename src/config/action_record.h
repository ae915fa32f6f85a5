// One step of the workflow as a plain value, and the dumps of it that the log shows.
//
// Records are copied freely: the queue, the current action and a worker thread each hold their
// own copy. Text fields are empty, numbers 0 and flags false unless a builder sets them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace config {

enum class ActionType : std::int32_t {
    None = 0,
    FailurePage = 2,            // made by the workflow engine
    ConfigDownload = 5,         // made by the configuration retrieval
    PrerequisiteDownload = 8,
    SetupDownload = 9,
    ProblemReport = 10,         // made by the workflow engine
    PrerequisiteInstall = 12,
    SetupInstall = 13,
    Finish = 14,
    ConfigError = 16,
    Uninstall = 17,
    RestartSelf = 18,
};

// Install kinds of install_data.InstallType.
inline constexpr std::int32_t kInstallPrerequisite = 0;
inline constexpr std::int32_t kInstallSetupProgram = 2;
inline constexpr std::int32_t kInstallZipPackage = 3;

struct DownloadData {
    std::wstring UpdateType;   // "setup" for package downloads, empty for prerequisites
    std::wstring ReleaseNotes;
    std::wstring URL;
    std::wstring DisplayName;
    std::int64_t ByteSize = 0;  // 64-bit so that packages above 2 GiB can be described
    std::wstring Name;
    std::wstring downloadMd5;
    bool isSystemComponent = false;
    bool isVelmoComponent = false;
};

struct LaunchData {
    std::wstring UpdateType;
    std::wstring Name;
    std::int32_t SilentMode = 0;
};

struct InstallData {
    std::wstring UpdateType;  // "setup" for package installs, empty for prerequisites and uninstalls
    std::int32_t InstallType = kInstallPrerequisite;
    std::wstring Name;
    std::wstring FilePath;
    std::wstring DisplayName;
    std::wstring Upgrade_code;
    std::wstring CommandLineParameter;
    std::wstring InstallFolder;
    std::wstring checkVersionFile;
    std::wstring uninstallId;
    std::wstring version;
    std::wstring preexecfile;
    std::wstring startMenuFolder;
    std::map<std::wstring, std::wstring> shortcuts;  // name-and-path -> target
    std::wstring appUserModelId;
    std::wstring activatorId;
    std::map<std::int32_t, std::int32_t> successExitCodes;  // exit code -> 1 when it asks for a restart
    std::int32_t progressInterval = 300;                    // milliseconds
    bool checkVersion = false;
    bool isMainItem = false;
    bool isMultiFolder = false;
    bool isCreateUninstall = false;
    bool wantsShortcut = false;
    bool wantsStartMenu = false;
    bool needsDownload = false;
    std::wstring installMd5;
    bool isPrerequisite = false;
    bool hasUrlShortcuts = false;
    std::vector<std::wstring> urlShortcuts;
    std::vector<std::wstring> desktopShortcutOptions;
    std::wstring repairParameter;
    bool isSystemComponent = false;
    bool isVelmoComponent = false;
    bool noShortcut = false;
};

struct CheckVersionData {
    std::wstring version;
    std::wstring upgradeCode;
};

struct ActionRecord {
    std::wstring id;
    ActionType type = ActionType::None;
    DownloadData download_data;
    LaunchData launch_data;
    InstallData install_data;
    CheckVersionData checkversion_data;
    // Texts only records made by the workflow engine and the configuration retrieval use.
    std::wstring engineUrl;
    std::wstring engineFileName;
    std::wstring engineText1;
    std::wstring engineText2;
    bool alreadyInstalled = false;
    // How often the workflow engine put this record back after a failed download or check.
    std::int32_t retryCount = 0;
};

inline ActionRecord MakeAction(ActionType type) {
    ActionRecord r;
    r.type = type;
    return r;
}

// The list whose only record is ConfigError: what every unusable configuration or argument gives.
inline std::vector<ActionRecord> ConfigErrorList() { return {MakeAction(ActionType::ConfigError)}; }

// Steps counted for the "(%d/%d)" progress text.
inline bool IsCountedStep(ActionType type) {
    return type == ActionType::PrerequisiteInstall || type == ActionType::SetupInstall || type == ActionType::Uninstall;
}

// The action-list dump written when a list has been built: per record, numbered from 0, the
// "current step:" line and then one text per data group whose first text is not empty.
std::vector<std::wstring> ActionListDump(const std::vector<ActionRecord>& actions);
// The dispatcher's "internal" group texts for the action it starts (without its own
// "Start Install Action" line).
std::vector<std::wstring> InternalActionDump(const ActionRecord& action);
// Both write their texts at Debug level, one log line each.
void LogActionList(const std::vector<ActionRecord>& actions);
void LogInternalAction(const ActionRecord& action);

}  // namespace config
