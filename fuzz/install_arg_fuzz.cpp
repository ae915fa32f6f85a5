// The `/install` and `/uninstall` argument builders over arbitrary text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <stdlib.h>

#include "config/command_line_lists.h"
#include "fuzz_machine.h"
#include "platform/machine.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmo_fuzz::UseTemporaryMachine("arg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the run: 64-bit, daemon, silent.
    config::BuildFacts facts;
    facts.isWow64 = data[0] & 1;
    facts.daemon = data[0] & 2;
    facts.silent = facts.daemon || (data[0] & 4);
    facts.desktopShortcutChoice = data[0] & 8;
    facts.downloadFolder = L"C:\\Temp\\VelmoInstaller\\fuzz";
    facts.localPackageFolder = L"C:\\fuzz\\VelmoInstaller";
    facts.msiLogPath = L"C:\\Temp\\msi.log";
    std::wstring argument = platform::WideFromUtf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    config::ProductSelection selection;
    selection.AddExcludedApps(L"gauge");
    auto items = config::ParseInstallItems(argument);
    auto install = config::BuildInstallList(argument, facts, selection);
    auto uninstall = config::BuildUninstallList(argument, facts);
    (void)config::ActionListDump(install);
    (void)config::ActionListDump(uninstall);
    (void)items.size();
    return 0;
}
