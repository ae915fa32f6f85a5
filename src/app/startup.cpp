#include "app/startup.h"

#include <cstdio>
#include <memory>

#include "app/startup_strings.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window.h"
#include "util/file_helpers.h"
#include "util/format.h"
#include "util/log.h"
#include "util/system_helpers.h"
#include "util/text_helpers.h"

namespace app {
namespace {

constexpr wchar_t kCaption[] = L"Velmo Installer";
constexpr std::size_t kMaxModulePath = 260;

void ShowStartupMessage(std::wstring text) {
    platform::MessageBox(0, text, kCaption, platform::MB_OK);
}

std::wstring ReplaceAll(std::wstring text, std::wstring_view what, std::wstring_view with) {
    for (std::size_t pos = 0; (pos = text.find(what, pos)) != std::wstring::npos; pos += with.size())
        text.replace(pos, what.size(), with);
    return text;
}

// Until the main window exists, the start-up sequence ends here.
std::int32_t RunMainWindow(const util::LaunchOptions& options) {
    (void)options;
    std::string line = "VelmoInstaller: start-up complete; the main window is not part of this build (command line: " +
                       platform::Utf8FromWide(platform::GetCommandLine()) + ")\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    return kExitSuccess;
}

}  // namespace

bool IsCommonRuntimeStillNeeded() {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    util::EnumRegistryValues(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\velmopack\\0", values);
    for (const auto& [name, data] : values) {
        if (data.find(L"Velmo Common") != std::wstring::npos) continue;
        std::wstring displayName;
        if (platform::RegGetString(platform::Hive::LocalMachine,
                                   L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + data, L"DisplayName",
                                   displayName) == platform::ERROR_SUCCESS)
            return true;
    }
    return false;
}

int RelaunchFromTempCopy() {
    const std::wstring own = platform::GetModuleFileName();
    if (own.empty() || platform::Utf16Length(own) > kMaxModulePath) return -1;
    if (own.find(L"VelmoUnInstaller") != std::wstring::npos) return 0;

    std::wstring temp = platform::GetTempPath();
    std::wstring folder = util::JoinPath(temp, L"VelmoUnInstaller");
    util::CreateDirectoryTree(folder);
    std::wstring target = util::JoinPath(folder, L"VelmoInstaller.exe");
    if (!platform::CopyFile(own, target, false)) {
        // Typically an earlier copy still runs from there.
        folder = util::JoinPath(temp, L"VelmoUnInstaller_" + util::RandomName());
        util::CreateDirectoryTree(folder);
        target = util::JoinPath(folder, L"VelmoInstaller.exe");
        platform::CopyFile(own, target, false);
    }
    platform::StartOptions start;
    start.hidden = false;
    platform::Process child;
    if (!platform::CreateProcess(target, platform::GetCommandLine(), start, child)) {
        std::string line = platform::Utf8FromWide(
            util::Format(L"CreateProcess failed (%d).\n", static_cast<std::int32_t>(platform::GetLastError())));
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        return 255;
    }
    child.Close();
    return 1;
}

bool IsAnotherInstanceRunning() {
    // Never closed: the mutex lives as long as the process.
    static std::unique_ptr<platform::NamedMutex> mutex;
    mutex = platform::CreateNamedMutex(L"VelmoInstaller_Mutex");
    return !mutex || platform::GetLastError() != platform::ERROR_SUCCESS;
}

std::int32_t RunStartup(const util::LaunchOptions& o) {
    const std::uint16_t lang = platform::CurrentProfile().uiLanguage;
    if (o.uninstallMode) {
        if (o.productSpecification.empty()) return kExitSuccess;
        if (o.productSpecification == L"Velmo Common" && IsCommonRuntimeStillNeeded()) {
            ShowStartupMessage(ReplaceAll(StartupString(kStringCommonRuntimeNeeded, lang), L"[AppName]", L"Velmo Hub"));
            return kExitSuccess;
        }
    }
    if (o.daemon && !platform::IsWindow(o.parentWindow)) return kExitSuccess;
    if (o.uninstallMode || o.daemon) {
        if (RelaunchFromTempCopy() != 0) return kExitSuccess;
    }
    if (!o.silent && !o.uninstallMode && o.singleInstanceCheck && IsAnotherInstanceRunning()) {
        ShowStartupMessage(StartupString(kStringAnotherInstance, lang));
        return kExitSuccess;
    }
    return RunMainWindow(o);
}

}  // namespace app
