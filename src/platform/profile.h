// The machine profile: what the installer believes about the machine it runs on.
//
// Stored as JSON in <prefix>/profile.json. Member names are stable, because people and
// black-box tests set them with `velmo-machine profile set KEY=VALUE`. A member that is
// missing takes its default; the defaults describe a 64-bit Windows 10 (10.0.19045) in
// US English with the host's own user, memory and processor.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct GpuInfo {
    std::wstring description;
    std::uint32_t deviceId = 0;
    std::uint64_t sharedMemoryMB = 0;
};

struct MachineProfile {
    std::uint32_t majorVersion = 10;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 19045;
    std::uint32_t servicePack = 0;
    bool is64Bit = true;
    std::uint16_t uiLanguage = 0x0409;
    std::wstring userName;                 // default: the host user
    std::optional<std::wstring> domain;    // DNS domain; none by default
    std::uint64_t memoryMB = 0;            // default: the host's physical memory
    std::wstring cpuBrand;                 // default: the host's brand string
    std::wstring cpuVendor;                // default: the host's vendor string
    bool sse41 = true, sse42 = true, sse4a = false;  // defaults: the host's flags
    std::vector<GpuInfo> gpus;
    std::vector<std::wstring> hotfixes;
    bool windowsUpdateBusy = false;
    // Per drive letter (upper case); a drive not listed reports the host's real figures.
    std::map<wchar_t, std::uint64_t> freeSpaceBytes;
    std::map<wchar_t, std::uint64_t> totalSpaceBytes;
};

// The profile of the current prefix, read once and cached until UseMachine or SaveMachineProfile.
const MachineProfile& CurrentProfile();

// Writes the profile file (atomically: a temporary file renamed over the old one).
bool SaveMachineProfile(const MachineProfile& profile);

// Sets one member from its text form ("windowsVersion=6.1.7601", "is64Bit=false", "gpus=[...]" as JSON,
// "freeSpaceBytes.C=2000000000"). Returns false with an explanation in `error` for an unknown key or a bad value.
bool SetProfileMember(MachineProfile& profile, const std::string& assignment, std::string& error);

// The profile as JSON text with every member, defaults filled in.
std::string ProfileToJson(const MachineProfile& profile);

// The profile a prefix without a profile file has: Windows 10 64-bit, 1033, the host's user,
// memory and processor.
MachineProfile DefaultMachineProfile();

// Reads profile JSON over `profile`: members present with the right JSON type replace the
// current values, others are left as they are. False (with a reason) only when the text is not
// a JSON object.
bool ProfileFromJson(const std::string& json, MachineProfile& profile, std::string& error);

}  // namespace platform
