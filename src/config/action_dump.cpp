#include "config/action_record.h"

#include "util/format.h"
#include "util/log.h"

namespace config {

namespace {

// The group texts; `internal` selects the dispatcher's headings. ByteSize is written with a
// 64-bit conversion: the digits are the same as before for every size below 2 GiB.
void AppendGroups(const ActionRecord& r, bool internal, std::vector<std::wstring>& out) {
    const auto& d = r.download_data;
    if (!d.UpdateType.empty()) {
        out.push_back(util::Format(internal ? L"----------------internal download data-----------------\n UpdateType:%s  "
                                              L"ReleaseNotes:%s URL:%s DisplayName:%s ByteSize:%lld Name:%s"
                                            : L"----------------download_data-----------------\n UpdateType:%s  "
                                              L"ReleaseNotes:%s URL:%s DisplayName:%s ByteSize:%lld Name:%s",
                                   d.UpdateType, d.ReleaseNotes, d.URL, d.DisplayName, d.ByteSize, d.Name));
    }
    const auto& l = r.launch_data;
    if (!l.UpdateType.empty()) {
        out.push_back(util::Format(internal ? L"----------------internal launch data-----------------\n UpdateType:%s  Name:%s  SilentMode:%d"
                                            : L"----------------launch_data-----------------\n UpdateType:%s  Name:%s  SilentMode:%d",
                                   l.UpdateType, l.Name, l.SilentMode));
    }
    const auto& i = r.install_data;
    if (!i.UpdateType.empty()) {
        out.push_back(util::Format(
            internal ? L"----------------internal install data-----------------\n UpdateType:%s  InstallType:%d  Name:%s "
                       L"FilePath:%s DisplayName:%s Upgrade_code:%s \n CommandLineParameter:%s InstallFolder:%s "
                       L"checkVersionFile:%s \n uninstallId:%s version:%s preexecfile:%s"
                     : L"----------------install_data-----------------\n UpdateType:%s  InstallType:%d  Name:%s "
                       L"FilePath:%s DisplayName:%s Upgrade_code:%s \n CommandLineParameter:%s InstallFolder:%s "
                       L"checkVersionFile:%s \n uninstallId:%s version:%s preexecfile:%s",
            i.UpdateType, i.InstallType, i.Name, i.FilePath, i.DisplayName, i.Upgrade_code, i.CommandLineParameter,
            i.InstallFolder, i.checkVersionFile, i.uninstallId, i.version, i.preexecfile));
    }
    const auto& c = r.checkversion_data;
    if (!c.version.empty()) {
        out.push_back(util::Format(internal ? L"----------------internal checkversion data-----------------\n version:%s  upgradeCode:%s "
                                            : L"----------------checkversion_data-----------------\n version:%s  upgradeCode:%s ",
                                   c.version, c.upgradeCode));
    }
}

}  // namespace

std::vector<std::wstring> ActionListDump(const std::vector<ActionRecord>& actions) {
    std::vector<std::wstring> out;
    for (std::size_t n = 0; n < actions.size(); ++n) {
        const ActionRecord& r = actions[n];
        out.push_back(util::Format(L"current step:%d id:%s type:%d ", static_cast<std::int32_t>(n), r.id,
                                   static_cast<std::int32_t>(r.type)));
        AppendGroups(r, false, out);
    }
    return out;
}

std::vector<std::wstring> InternalActionDump(const ActionRecord& action) {
    std::vector<std::wstring> out;
    AppendGroups(action, true, out);
    return out;
}

void LogActionList(const std::vector<ActionRecord>& actions) {
    for (const auto& text : ActionListDump(actions)) util::LogMessage(util::LogLevel::Debug, text);
}

void LogInternalAction(const ActionRecord& action) {
    for (const auto& text : InternalActionDump(action)) util::LogMessage(util::LogLevel::Debug, text);
}

}  // namespace config
