// Known folders of the machine, as the shell's CSIDL / known-folder queries answer them for
// the installer, which is a 32-bit process. All answers are Windows paths without a trailing
// backslash and follow the machine profile (64- or 32-bit Windows, user name).
#pragma once

#include <string>

namespace platform {

enum class KnownFolder {
    ProgramFiles,           // CSIDL_PROGRAM_FILES as a 32-bit process sees it: "C:\Program Files (x86)" on 64-bit
    ProgramFilesX86,        // CSIDL_PROGRAM_FILESX86: "C:\Program Files (x86)" on 64-bit, "C:\Program Files" on 32-bit
    ProgramFilesNative,     // "C:\Program Files" on both (the 64-bit view on a 64-bit machine)
    CommonProgramFiles,     // CSIDL_PROGRAM_FILES_COMMON as a 32-bit process sees it
    CommonProgramFilesX86,  // CSIDL_PROGRAM_FILES_COMMONX86
    CommonProgramFilesNative,
    CommonAppData,          // CSIDL_COMMON_APPDATA: "C:\ProgramData"
    RoamingAppData,         // CSIDL_APPDATA: "C:\Users\<user>\AppData\Roaming"
    LocalAppData,           // CSIDL_LOCAL_APPDATA: "C:\Users\<user>\AppData\Local"
    Temp,                   // the user's temporary folder: "C:\Users\<user>\AppData\Local\Temp"
    CommonDesktop,          // CSIDL_COMMON_DESKTOPDIRECTORY: "C:\Users\Public\Desktop"
    CommonPrograms,         // CSIDL_COMMON_PROGRAMS: "C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
    UserDesktop,            // CSIDL_DESKTOPDIRECTORY
    UserPrograms,           // CSIDL_PROGRAMS
    Windows,                // "C:\Windows"
    System,                 // GetSystemDirectory: "C:\Windows\System32" (redirected for 32-bit file access)
    SystemX86,              // CSIDL_SYSTEMX86: "C:\Windows\SysWOW64" on 64-bit, "C:\Windows\System32" on 32-bit
};

std::wstring GetKnownFolderPath(KnownFolder folder);

}  // namespace platform
