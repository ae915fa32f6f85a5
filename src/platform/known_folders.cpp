#include "platform/known_folders.h"

#include "platform/profile.h"

namespace platform {

// The installer is a 32-bit process: on a 64-bit machine its "program files" folders are the
// (x86) ones and only the *Native entries reach the 64-bit folders; on a 32-bit machine there is
// one set of folders and no SysWOW64.
std::wstring GetKnownFolderPath(KnownFolder folder) {
    const MachineProfile& profile = CurrentProfile();
    const bool wow64 = profile.is64Bit;
    const std::wstring user = L"C:\\Users\\" + profile.userName;
    const std::wstring native = L"C:\\Program Files";
    const std::wstring x86 = wow64 ? L"C:\\Program Files (x86)" : native;
    switch (folder) {
        case KnownFolder::ProgramFiles:
        case KnownFolder::ProgramFilesX86: return x86;
        case KnownFolder::ProgramFilesNative: return native;
        case KnownFolder::CommonProgramFiles:
        case KnownFolder::CommonProgramFilesX86: return x86 + L"\\Common Files";
        case KnownFolder::CommonProgramFilesNative: return native + L"\\Common Files";
        case KnownFolder::CommonAppData: return L"C:\\ProgramData";
        case KnownFolder::RoamingAppData: return user + L"\\AppData\\Roaming";
        case KnownFolder::LocalAppData: return user + L"\\AppData\\Local";
        case KnownFolder::Temp: return user + L"\\AppData\\Local\\Temp";
        case KnownFolder::CommonDesktop: return L"C:\\Users\\Public\\Desktop";
        case KnownFolder::CommonPrograms: return L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
        case KnownFolder::UserDesktop: return user + L"\\Desktop";
        case KnownFolder::UserPrograms: return user + L"\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
        case KnownFolder::Windows: return L"C:\\Windows";
        case KnownFolder::System: return L"C:\\Windows\\System32";
        case KnownFolder::SystemX86: return wow64 ? L"C:\\Windows\\SysWOW64" : L"C:\\Windows\\System32";
    }
    return {};
}

}  // namespace platform
