#include "app/command_line.h"

#include <nlohmann/json.hpp>

#include "platform/clipboard.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "util/text_helpers.h"

namespace app {
namespace {

enum class Option {
    None,
    Daemon,
    Uninstall,
    Install,
    AcceptEula,
    AutoUpdate,
    AppTracking,
    Silent,
    InstallPath,
    NoExt,
    NoDesktopShortcut,
    NoSelfUpdate,
    NoMutexCheck,
    InstallId,
    ExcludeApp,
};

struct OptionName {
    const wchar_t* name;
    Option option;
    bool takesValue;
};

constexpr OptionName kOptions[] = {
    {L"daemon", Option::Daemon, true},
    {L"uninstall", Option::Uninstall, true},
    {L"install", Option::Install, true},
    {L"accepteula", Option::AcceptEula, false},
    {L"autoupdate", Option::AutoUpdate, false},
    {L"apptracking", Option::AppTracking, false},
    {L"silent", Option::Silent, false},
    {L"installpath", Option::InstallPath, true},
    {L"noext", Option::NoExt, false},
    {L"nodesktopshortcut", Option::NoDesktopShortcut, false},
    {L"noselfupdate", Option::NoSelfUpdate, false},
    {L"nomutexcheck", Option::NoMutexCheck, false},
    {L"installid", Option::InstallId, true},
    {L"excludeapp", Option::ExcludeApp, true},
};

const OptionName* Recognise(std::wstring_view token) {
    if (!token.empty() && token.front() == L'/') token.remove_prefix(1);
    for (const auto& o : kOptions)
        if (platform::EqualsNoCase(token, o.name)) return &o;
    return nullptr;
}

// Base 10, leading digits only.
std::uint32_t LeadingNumber(std::wstring_view text) {
    std::uint64_t v = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') break;
        v = v * 10 + static_cast<std::uint64_t>(c - L'0');
        if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    }
    return static_cast<std::uint32_t>(v);
}

void AddExcludedApps(std::wstring_view value, std::vector<std::wstring>& excludedApps) {
    for (auto& part : util::SplitTokens(value, L",")) {
        if (part.starts_with(L"velmo")) excludedApps.push_back(part);
        else excludedApps.push_back(L"velmo" + platform::LowerText(part));
    }
}

}  // namespace

void ParseCommandLine(std::wstring_view commandLine, util::LaunchOptions& o, std::vector<std::wstring>& excludedApps) {
    const std::vector<std::wstring> tokens = platform::CommandLineToArgv(commandLine);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const OptionName* name = Recognise(tokens[i]);
        if (!name) continue;
        const bool last = i + 1 >= tokens.size();
        if (name->takesValue && last) {
            // A value option at the end has no effect, except the mode of /install and /uninstall
            // and the daemon flags.
            if (name->option == Option::Uninstall) {
                o.uninstallMode = true;
                o.selfUpdate = false;
            } else if (name->option == Option::Install) {
                o.uninstallMode = false;
            } else if (name->option == Option::Daemon) {
                o.daemon = true;
                o.silent = true;
                o.parentWindow = 0;
            }
            break;
        }
        const std::wstring value = name->takesValue ? tokens[++i] : std::wstring();
        switch (name->option) {
            case Option::Daemon:
                o.daemon = true;
                o.silent = true;
                o.parentWindow = LeadingNumber(value);
                break;
            case Option::Uninstall:
                o.uninstallMode = true;
                o.selfUpdate = false;
                o.productSpecification = value;
                break;
            case Option::Install:
                o.uninstallMode = false;
                o.productSpecification = value;
                break;
            case Option::AcceptEula: o.acceptLicence = true; break;
            case Option::AutoUpdate: o.autoUpdateConsent = true; break;
            case Option::AppTracking: break;
            case Option::Silent: o.silent = true; break;
            case Option::InstallPath: o.installPath = platform::FromExternalPath(value); break;
            case Option::NoExt: o.useFileAssociations = false; break;
            case Option::NoDesktopShortcut: o.noDesktopShortcut = true; break;
            case Option::NoSelfUpdate: o.selfUpdate = false; break;
            case Option::NoMutexCheck: o.singleInstanceCheck = false; break;
            case Option::InstallId: o.installId = value; break;
            case Option::ExcludeApp: AddExcludedApps(value, excludedApps); break;
            case Option::None: break;
        }
    }
    if (o.silent) {
        o.selfUpdate = false;
        o.acceptLicence = true;
    }
    if (o.uninstallMode) o.selfUpdate = false;
    if (!o.silent && !o.uninstallMode) ReadGuideHandOver(o);
}

void ReadGuideHandOver(util::LaunchOptions& o) {
    std::wstring text;
    if (!platform::GetClipboardText(text) || text.empty()) return;
    const nlohmann::json doc = nlohmann::json::parse(platform::Utf8FromWide(text), nullptr, false);
    if (!doc.is_object()) return;
    auto tag = doc.find("howtoTag");
    if (tag == doc.end() || !tag->is_string() || tag->get_ref<const std::string&>() != kGuideTag) return;
    auto copy = [&](const char* key, std::wstring& field) {
        auto it = doc.find(key);
        if (it != doc.end() && it->is_string()) field = platform::WideFromUtf8(it->get_ref<const std::string&>());
    };
    copy("appName", o.guideAppName);
    copy("usecaseId", o.guideUseCase);
    copy("startApp", o.guideStartApp);
    platform::EmptyClipboard();
}

}  // namespace app
