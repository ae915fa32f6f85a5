#include "util/system_info.h"

#include <cstdint>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "util/file_helpers.h"
#include "util/format.h"
#include "util/log.h"

namespace util {

void LogInstallPathInformation(std::wstring_view installPath) {
    std::uint64_t freeToCaller = 0, total = 0, totalFree = 0;
    platform::GetDiskFreeSpace(installPath, freeToCaller, total, totalFree);
    LogDebug(L"Install path :%s Partition size:%d GB\n", installPath, static_cast<std::int32_t>(freeToCaller >> 30));
    if (platform::GetTempPath().empty()) LogDebug(L"Get Temp folder failed");
}

bool IsWindowsUpdateRunning() { return platform::CurrentProfile().windowsUpdateBusy; }

std::wstring GpuInformationText() {
    const auto& gpus = platform::CurrentProfile().gpus;
    std::wstring text = Format(L"adapter num:%d\n", static_cast<std::int32_t>(gpus.size()));
    if (!gpus.empty()) {
        const auto& first = gpus.front();
        text += Format(L"Description:%s\n", first.description);
        text += Format(L"Device ID:%d\n", static_cast<std::int32_t>(first.deviceId));
        text += Format(L"Memory:%d M\n", static_cast<std::int32_t>(first.sharedMemoryMB));
        text += L"\n\n";
    }
    return text;
}

void LogSystemDetails() {
    const platform::MachineProfile& p = platform::CurrentProfile();
    LogDebug(L"OS Version:%d.%d BuildNumber:%d 64bitOS:%d", static_cast<std::int32_t>(p.majorVersion),
             static_cast<std::int32_t>(p.minorVersion), static_cast<std::int32_t>(p.buildNumber), p.is64Bit ? 1 : 0);
    LogDebug(L"Memory Size:%d %s", static_cast<std::int32_t>(p.memoryMB), L"M");
    LogDebug(L"Current User: %s", p.userName);
    if (p.domain) LogDebug(L"Current Domin: %s", *p.domain);

    const std::wstring own = platform::GetModuleFileName();
    if (FileExists(own)) {
        LogDebug(L"Installer version:%s, filePath:%s", FileVersionText(own), own);
        LogDebug(L"ini file version:%s", FileVersionText(JoinPath(ExecutableFolder(), L"VelmoInstaller.ini")));
    }
    LogDebug(L"bool isRunning = IsWindowsUpdateRunning();");
    LogDebug(L"IsWindowsUpdateRunning:%d", IsWindowsUpdateRunning() ? 1 : 0);
    LogDebug(L"OS CPU Info:%s", p.cpuBrand);
    LogDebug(L"OS GPU Info:%s", GpuInformationText());

    std::vector<platform::ProcessEntry> processes;
    if (!platform::EnumProcesses(processes)) {
        LogDebug(L"CreateToolhelp32Snapshot Failed\n");
        return;
    }
    const std::wstring bar52(52, L'=');
    LogDebug(L"%s", bar52 + L"Process List" + bar52);
    for (const auto& e : processes)
        LogDebug(L"Thread-Name:%ls  Thread-ID:%d  Thread-Count:%d Parent-ID:%d", e.exeName,
                 static_cast<std::int32_t>(e.processId), static_cast<std::int32_t>(e.threadCount),
                 static_cast<std::int32_t>(e.parentProcessId));
    LogDebug(L"%s", bar52 + L"Process List End" + std::wstring(48, L'=') + L"\n");
}

}  // namespace util
