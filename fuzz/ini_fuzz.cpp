// The INI reader and the configuration parse over arbitrary file bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <stdlib.h>

#include "config/config_parser.h"
#include "config/config_section.h"
#include "config/ini_reader.h"
#include "platform/file.h"
#include "fuzz_machine.h"
#include "platform/machine.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velmo_fuzz::UseTemporaryMachine("ini");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring path = L"C:\\fuzz\\VelmoInstaller.ini";
    static const bool folder = platform::CreateDirectory(L"C:\\fuzz") || true;
    (void)folder;
    if (!platform::WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(data), size))) return 0;

    config::IniFile file = config::IniFile::Load(path);
    for (const auto& name : config::ReadConfigSectionNames(file)) {
        config::ConfigSection section = config::ReadConfigSection(file, name);
        (void)section.Size();
    }
    config::BuildFacts facts;
    facts.isWow64 = size % 2 == 0;
    facts.osCode = 7;
    facts.downloadFolder = L"C:\\Temp\\VelmoInstaller\\fuzz";
    facts.localPackageFolder = L"C:\\fuzz\\VelmoInstaller";
    facts.msiLogPath = L"C:\\Temp\\msi.log";
    config::ProductSelection selection;
    selection.AddExcludedApps(L"gauge");
    config::ConfigParseResult result = config::ParseConfiguration(file, L"C:/Program Files (x86)", facts, selection);
    (void)config::ActionListDump(result.actions);
    return 0;
}
