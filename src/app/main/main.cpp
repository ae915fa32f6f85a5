// Entry point of VelmoInstaller.
#include "app/command_line.h"
#include "app/startup.h"
#include "config/product_selection.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "util/launch_options.h"
#include "util/log.h"

int main(int argc, char** argv) {
    platform::InitProcess(argc, argv);
    // A message box shown without a display is also a log line, once the log is open.
    platform::SetMessageBoxObserver([](std::wstring_view line) {
        if (util::IsLogFileOpen()) util::LogInfo(L"%s", line);
    });
    std::vector<std::wstring> excludedApps;
    util::LaunchOptions& options = util::GlobalLaunchOptions();
    app::ParseCommandLine(platform::GetCommandLine(), options, excludedApps);
    config::GlobalProductSelection().AppendExcludedApps(excludedApps);
    const std::int32_t code = app::RunStartup(options);
    platform::ExitProcess(static_cast<platform::DWORD>(code));
}
