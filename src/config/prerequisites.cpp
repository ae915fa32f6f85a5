#include "config/prerequisites.h"

#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/version_info.h"
#include "util/file_helpers.h"
#include "util/format.h"
#include "util/log.h"
#include "util/text_helpers.h"
#include "util/versions.h"

namespace config {

namespace {

constexpr std::size_t kVersionValueBytes = 256;

// Redirection stays off only for this thread and only while the guard lives.
class RedirectionOff {
public:
    RedirectionOff() : switched_(platform::Wow64DisableFsRedirection()) {}
    ~RedirectionOff() {
        if (switched_) platform::Wow64RevertFsRedirection();
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

private:
    bool switched_;
};

}  // namespace

bool IsWow64() { return platform::CurrentProfile().is64Bit; }

std::int32_t OperatingSystemCode() {
    const auto& p = platform::CurrentProfile();
    auto atLeast = [&](std::uint32_t major, std::uint32_t minor) {
        return p.majorVersion > major || (p.majorVersion == major && p.minorVersion >= minor);
    };
    if (atLeast(10, 0)) return 10;
    if (atLeast(6, 2)) return 8;
    if (atLeast(6, 1)) return 7;
    return 6;
}

bool CheckRuntimeRegistry(std::wstring_view keyPath, std::wstring_view minVersion, bool x86) {
    platform::RegKey key;
    if (platform::RegKey::Open(platform::Hive::LocalMachine, keyPath, platform::KEY_READ, key) != platform::ERROR_SUCCESS)
        return false;
    platform::DWORD type = platform::REG_NONE;
    std::string data;
    if (key.QueryValue(L"Version", type, data) != platform::ERROR_SUCCESS || data.size() > kVersionValueBytes)
        return false;
    std::wstring version = platform::WideFromUtf16Le(data);
    if (auto nul = version.find(L'\0'); nul != std::wstring::npos) version.resize(nul);
    if (version.starts_with(L'v')) version.erase(0, 1);
    if (util::SplitKeep(version, L".").size() == 3) version += L".0";
    bool ok = util::VersionAtLeast(version, minVersion);
    util::LogInfo(L"VC Redist Reg check: reg:%s, x86:%d, ret: %d", keyPath, x86 ? 1 : 0, ok ? 1 : 0);
    return ok;
}

bool CheckRuntimeFile(bool x86, std::wstring_view fileName, std::wstring_view minVersion) {
    std::wstring folder = platform::GetKnownFolderPath(IsWow64() && x86 ? platform::KnownFolder::SystemX86
                                                                        : platform::KnownFolder::System);
    bool ok = false;
    if (!folder.empty()) {
        std::wstring path = util::JoinPath(folder, fileName);
        platform::VersionInfo info;
        bool read = false;
        {
            RedirectionOff guard;
            read = platform::ReadVersionInfo(path, info);
        }
        if (read) {
            auto v = info.FileVersion();
            ok = util::VersionAtLeast(util::Format(L"%d.%d.%d.%d", v[0], v[1], v[2], v[3]), minVersion);
        }
    }
    util::LogInfo(L"VC Redist Reg check: folder:%s, filename:%s, x86:%d, ret: %d", folder, fileName, x86 ? 1 : 0,
                  ok ? 1 : 0);
    return ok;
}

bool CheckDotNetRelease(std::wstring_view keyPath, std::wstring_view minRelease) {
    platform::RegKey key;
    if (platform::RegKey::Open(platform::Hive::LocalMachine, keyPath, platform::KEY_READ, key) != platform::ERROR_SUCCESS)
        return false;
    platform::DWORD release = 0;
    if (key.QueryDword(L"Release", release) != platform::ERROR_SUCCESS) return false;
    // Compared as numbers: a negative minimum is met by every release.
    return static_cast<std::int64_t>(release) >= static_cast<std::int64_t>(util::TextToInt(minRelease));
}

}  // namespace config
