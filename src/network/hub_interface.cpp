#include "network/hub_interface.h"

#include <nlohmann/json.hpp>

#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "util/file_helpers.h"

namespace network::hub {

namespace {

std::wstring HubFile(platform::KnownFolder base, std::wstring_view name) {
    return util::JoinPath(util::JoinPath(util::JoinPath(platform::GetKnownFolderPath(base), kVendorFolder), kHubFolder),
                          name);
}

// The file as a JSON document; a value that is not an object when it is missing or malformed.
nlohmann::json ReadJson(const std::wstring& path) {
    if (!util::FileExists(path)) return nlohmann::json();
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) return nlohmann::json();
    return nlohmann::json::parse(bytes, nullptr, false);
}

bool StringMember(const nlohmann::json& doc, std::wstring_view key, std::wstring& value) {
    if (!doc.is_object()) return false;
    auto it = doc.find(platform::Utf8FromWide(key));
    if (it == doc.end() || !it->is_string()) return false;
    value = platform::WideFromUtf8(it->get_ref<const std::string&>());
    return true;
}

}  // namespace

std::wstring HubSettingsFilePath() { return HubFile(platform::KnownFolder::RoamingAppData, kHubSettingsFileName); }
std::wstring CommonSettingsFilePath() { return HubFile(platform::KnownFolder::CommonAppData, kCommonSettingsFileName); }

bool ReadHubSetting(std::wstring_view key, std::wstring& value) {
    return StringMember(ReadJson(HubSettingsFilePath()), key, value);
}

bool ReadCommonInstallPath(std::wstring& installPath) {
    return StringMember(ReadJson(CommonSettingsFilePath()), kInstallPathMember, installPath);
}

bool ReplaceCommonInstallPath(std::wstring_view installPath) {
    std::wstring path = CommonSettingsFilePath();
    nlohmann::json doc = ReadJson(path);
    std::wstring old;
    if (!StringMember(doc, kInstallPathMember, old)) return false;
    doc[platform::Utf8FromWide(kInstallPathMember)] = platform::Utf8FromWide(installPath);
    return platform::WriteWholeFile(path, doc.dump(4, ' ', false, nlohmann::json::error_handler_t::replace));
}

platform::LONG WriteLauncherInstallPath(std::wstring_view installPath) {
    return platform::RegSetString(platform::Hive::LocalMachine, kLauncherKey, kLauncherInstallPathValue, installPath);
}

platform::LONG ReadLauncherInstallPath(std::wstring& installPath) {
    return platform::RegGetString(platform::Hive::LocalMachine, kLauncherKey, kLauncherInstallPathValue, installPath);
}

std::wstring LaunchArgument(std::wstring_view json) { return std::wstring(kLaunchArgumentPrefix) + std::wstring(json); }

}  // namespace network::hub
