// What the installer shares with the suite's hub application "Velmo Hub": its two settings
// files, the launcher's install-path value, the launcher and its argument, its display name.
#pragma once

#include <string>
#include <string_view>

#include "platform/errors.h"

namespace network::hub {

inline constexpr wchar_t kDisplayName[] = L"Velmo Hub";
inline constexpr wchar_t kVendorFolder[] = L"Velmo";
inline constexpr wchar_t kHubFolder[] = L"Velmo Hub";
// Under the roaming application-data folder; written by the hub, only read here.
inline constexpr wchar_t kHubSettingsFileName[] = L"VelmoHubSettings.json";
inline constexpr wchar_t kAccountServerKey[] = L"accountServer";  // base URL of the account API
inline constexpr wchar_t kVersionServerKey[] = L"versionServer";  // full URL of the update check
// Under the common application-data folder; read and written back.
inline constexpr wchar_t kCommonSettingsFileName[] = L"Settings.json";
inline constexpr wchar_t kInstallPathMember[] = L"installPath";
// HKLM, in the installer's (32-bit) view.
inline constexpr wchar_t kLauncherKey[] = L"SOFTWARE\\Velmo\\Velmo Launcher";
inline constexpr wchar_t kLauncherInstallPathValue[] = L"installPath";
inline constexpr wchar_t kLauncherExecutable[] = L"VelmoLauncher.exe";
inline constexpr wchar_t kLaunchArgumentPrefix[] = L"--ns-arguments=";

// "<roaming app data>\Velmo\Velmo Hub\VelmoHubSettings.json".
std::wstring HubSettingsFilePath();
// "<common app data>\Velmo\Velmo Hub\Settings.json".
std::wstring CommonSettingsFilePath();

// Reads the hub settings file afresh: true with the value only when the file exists (a folder
// does not count), is a JSON object, holds `key` and its value is a JSON string. Anything else
// (missing file, malformed JSON, another type) is false: the caller keeps its default.
bool ReadHubSetting(std::wstring_view key, std::wstring& value);

// When Settings.json is a JSON object holding a string "installPath", replaces it by
// `installPath` and writes the file back; false when it did not (file left alone).
bool ReplaceCommonInstallPath(std::wstring_view installPath);
// The string "installPath" of Settings.json, false when there is none.
bool ReadCommonInstallPath(std::wstring& installPath);

// HKLM "SOFTWARE\Velmo\Velmo Launcher" "installPath" (the installer's view). Windows code.
platform::LONG WriteLauncherInstallPath(std::wstring_view installPath);
platform::LONG ReadLauncherInstallPath(std::wstring& installPath);

// The one launcher argument of a guide hand-over: "--ns-arguments=" followed by the JSON text.
std::wstring LaunchArgument(std::wstring_view json);

}  // namespace network::hub
