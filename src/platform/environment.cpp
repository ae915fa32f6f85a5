#include "platform/environment.h"

#include <vector>

#include "platform/errors.h"
#include "platform/known_folders.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;

// The variables a 32-bit process sees on this machine, in the order Windows's `set` would list
// them. PATH is the Windows form only: the host PATH a child needs to run at all is the process
// layer's business, which adds it when it builds a child's environment.
std::vector<std::pair<std::wstring, std::wstring>> Variables() {
    const MachineProfile& profile = CurrentProfile();
    const std::wstring user = L"C:\\Users\\" + profile.userName;
    const std::wstring windows = GetKnownFolderPath(KnownFolder::Windows);
    std::vector<std::pair<std::wstring, std::wstring>> v = {
        {L"ALLUSERSPROFILE", GetKnownFolderPath(KnownFolder::CommonAppData)},
        {L"APPDATA", GetKnownFolderPath(KnownFolder::RoamingAppData)},
        {L"CommonProgramFiles", GetKnownFolderPath(KnownFolder::CommonProgramFiles)},
    };
    if (profile.is64Bit) {
        v.emplace_back(L"CommonProgramFiles(x86)", GetKnownFolderPath(KnownFolder::CommonProgramFilesX86));
        v.emplace_back(L"CommonProgramW6432", GetKnownFolderPath(KnownFolder::CommonProgramFilesNative));
    }
    v.emplace_back(L"HOMEDRIVE", L"C:");
    v.emplace_back(L"HOMEPATH", user.substr(2));
    v.emplace_back(L"LOCALAPPDATA", GetKnownFolderPath(KnownFolder::LocalAppData));
    v.emplace_back(L"OS", L"Windows_NT");
    v.emplace_back(L"PATH", windows + L"\\system32;" + windows + L";" + windows + L"\\System32\\Wbem;" + windows +
                                L"\\System32\\WindowsPowerShell\\v1.0\\");
    v.emplace_back(L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC");
    v.emplace_back(L"PROCESSOR_ARCHITECTURE", L"x86");
    if (profile.is64Bit) v.emplace_back(L"PROCESSOR_ARCHITEW6432", L"AMD64");
    v.emplace_back(L"ProgramData", GetKnownFolderPath(KnownFolder::CommonAppData));
    v.emplace_back(L"ProgramFiles", GetKnownFolderPath(KnownFolder::ProgramFiles));
    if (profile.is64Bit) {
        v.emplace_back(L"ProgramFiles(x86)", GetKnownFolderPath(KnownFolder::ProgramFilesX86));
        v.emplace_back(L"ProgramW6432", GetKnownFolderPath(KnownFolder::ProgramFilesNative));
    }
    v.emplace_back(L"PUBLIC", L"C:\\Users\\Public");
    v.emplace_back(L"SystemDrive", L"C:");
    v.emplace_back(L"SystemRoot", windows);
    v.emplace_back(L"TEMP", GetKnownFolderPath(KnownFolder::Temp));
    v.emplace_back(L"TMP", GetKnownFolderPath(KnownFolder::Temp));
    if (profile.domain) v.emplace_back(L"USERDNSDOMAIN", UpperText(*profile.domain));
    v.emplace_back(L"USERNAME", profile.userName);
    v.emplace_back(L"USERPROFILE", user);
    v.emplace_back(L"windir", windows);
    return v;
}

bool Lookup(std::wstring_view name, std::wstring& value) {
    for (auto& [n, v] : Variables()) {
        if (EqualsNoCase(n, name)) {
            value = std::move(v);
            return true;
        }
    }
    return false;
}

}  // namespace

std::wstring GetEnvironmentVariable(std::wstring_view name) {
    std::wstring value;
    if (!Lookup(name, value)) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return {};
    }
    SetLastError(ERROR_SUCCESS);
    return value;
}

// "%NAME%" of a known variable is replaced. For an unknown one Windows keeps "%NAME" and reads
// its closing "%" as the opening of the next reference, so "%X%ProgramData%" keeps "%X" and
// expands ProgramData.
std::wstring ExpandEnvironmentStrings(std::wstring_view text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != L'%') {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t close = text.find(L'%', i + 1);
        if (close == std::wstring_view::npos) {
            out.append(text.substr(i));
            break;
        }
        std::wstring value;
        std::wstring_view name = text.substr(i + 1, close - i - 1);
        if (!name.empty() && Lookup(name, value)) {
            out += value;
            i = close + 1;
        } else {
            out.push_back(L'%');
            out.append(name);
            i = close;
        }
    }
    return out;
}

std::map<std::wstring, std::wstring> WindowsEnvironment() {
    std::map<std::wstring, std::wstring> env;
    for (auto& [n, v] : Variables()) env.emplace(n, std::move(v));
    return env;
}

}  // namespace platform
