#include "util/system_helpers.h"

#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "util/file_helpers.h"
#include "util/format.h"
#include "util/text_helpers.h"

namespace util {
namespace {

constexpr platform::DWORD kRunTimeoutMs = 180000;
constexpr std::size_t kMaxNameChars = 16383;
constexpr std::size_t kMaxDataBytes = 16383;

std::int32_t StartAndWait(std::wstring_view file, std::wstring_view parameters) {
    platform::StartOptions options;
    options.hidden = true;
    platform::Process process;
    if (!platform::ShellExecute(L"open", file, parameters, options, &process)) return -1;
    process.Wait(kRunTimeoutMs);
    std::int32_t code = static_cast<std::int32_t>(process.ExitCode());
    process.Close();
    return code;
}

}  // namespace

std::int32_t RunAndWait(std::wstring_view file, std::wstring_view parameters) { return StartAndWait(file, parameters); }

std::int32_t RunCmd(std::wstring_view program, std::wstring_view arguments) {
    return StartAndWait(L"cmd.exe", Format(L"/c \"\"%s\" %s\"", program, arguments));
}

int EnumRegistryValues(std::wstring_view keyPath, std::vector<std::pair<std::wstring, std::wstring>>& values) {
    values.clear();
    platform::RegKey key;
    if (platform::RegKey::Open(platform::Hive::LocalMachine, keyPath, platform::KEY_READ, key) != platform::ERROR_SUCCESS)
        return -1;
    std::vector<platform::RegValue> raw;
    key.Values(raw);
    for (auto& v : raw) {
        std::wstring name = platform::CutToUtf16Units(v.name, kMaxNameChars);
        std::wstring data;
        if (v.data.size() <= kMaxDataBytes) {
            // Data is read as text whatever its type, as the wide registry call returns it.
            data = platform::WideFromUtf16Le(v.data);
            while (!data.empty() && data.back() == L'\0') data.pop_back();
            if (auto nul = data.find(L'\0'); nul != std::wstring::npos) data.resize(nul);
        }
        values.emplace_back(std::move(name), std::move(data));
    }
    return 0;
}

std::uint32_t EnumSubkeyNames(const platform::RegKey& key, std::vector<std::wstring>& names) {
    names.clear();
    return static_cast<std::uint32_t>(key.SubKeyNames(names));
}

std::wstring ApplicationPathByLaunchId(std::int32_t launchId) {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    EnumRegistryValues(Format(L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\velmopack\\%d", launchId), values);
    const std::pair<std::wstring, std::wstring>* choice = nullptr;
    for (const auto& v : values) {
        if (!FileExists(v.first)) continue;
        if (!choice) {
            choice = &v;
            continue;
        }
        auto current = ParseDateTime(choice->second);
        auto later = ParseDateTime(v.second);
        if (current && later) {
            if (*later > *current) choice = &v;
        } else if (v.second >= choice->second) {
            choice = &v;
        }
    }
    return choice ? choice->first : std::wstring();
}

}  // namespace util
