// Known folders and the Windows environment on a 64-bit and a 32-bit machine.
#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/profile.h"
#include "support/temp_machine.h"

using namespace platform;

namespace {

class KnownFolders : public velmo_test::MachineTest {
protected:
    void UseMachineOf(bool is64Bit) {
        MachineProfile p = CurrentProfile();
        p.is64Bit = is64Bit;
        p.userName = L"tester";
        ASSERT_TRUE(SaveMachineProfile(p));
    }
};

struct FolderCase {
    KnownFolder folder;
    const wchar_t* on64;
    const wchar_t* on32;
};

const FolderCase kFolders[] = {
    {KnownFolder::ProgramFiles, L"C:\\Program Files (x86)", L"C:\\Program Files"},
    {KnownFolder::ProgramFilesX86, L"C:\\Program Files (x86)", L"C:\\Program Files"},
    {KnownFolder::ProgramFilesNative, L"C:\\Program Files", L"C:\\Program Files"},
    {KnownFolder::CommonProgramFiles, L"C:\\Program Files (x86)\\Common Files", L"C:\\Program Files\\Common Files"},
    {KnownFolder::CommonProgramFilesX86, L"C:\\Program Files (x86)\\Common Files", L"C:\\Program Files\\Common Files"},
    {KnownFolder::CommonProgramFilesNative, L"C:\\Program Files\\Common Files", L"C:\\Program Files\\Common Files"},
    {KnownFolder::CommonAppData, L"C:\\ProgramData", L"C:\\ProgramData"},
    {KnownFolder::RoamingAppData, L"C:\\Users\\tester\\AppData\\Roaming", L"C:\\Users\\tester\\AppData\\Roaming"},
    {KnownFolder::LocalAppData, L"C:\\Users\\tester\\AppData\\Local", L"C:\\Users\\tester\\AppData\\Local"},
    {KnownFolder::Temp, L"C:\\Users\\tester\\AppData\\Local\\Temp", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
    {KnownFolder::CommonDesktop, L"C:\\Users\\Public\\Desktop", L"C:\\Users\\Public\\Desktop"},
    {KnownFolder::CommonPrograms, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
     L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
    {KnownFolder::UserDesktop, L"C:\\Users\\tester\\Desktop", L"C:\\Users\\tester\\Desktop"},
    {KnownFolder::UserPrograms, L"C:\\Users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
     L"C:\\Users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {KnownFolder::Windows, L"C:\\Windows", L"C:\\Windows"},
    {KnownFolder::System, L"C:\\Windows\\System32", L"C:\\Windows\\System32"},
    {KnownFolder::SystemX86, L"C:\\Windows\\SysWOW64", L"C:\\Windows\\System32"},
};

TEST_F(KnownFolders, EveryFolderOnA64BitMachineExists) {
    UseMachineOf(true);
    for (const auto& c : kFolders) {
        EXPECT_EQ(GetKnownFolderPath(c.folder), c.on64) << static_cast<int>(c.folder);
        EXPECT_EQ(GetFileAttributes(c.on64), FILE_ATTRIBUTE_DIRECTORY) << static_cast<int>(c.folder);
    }
}

TEST_F(KnownFolders, EveryFolderOnA32BitMachineExists) {
    UseMachineOf(false);
    for (const auto& c : kFolders) {
        EXPECT_EQ(GetKnownFolderPath(c.folder), c.on32) << static_cast<int>(c.folder);
        EXPECT_EQ(GetFileAttributes(c.on32), FILE_ATTRIBUTE_DIRECTORY) << static_cast<int>(c.folder);
    }
    EXPECT_EQ(GetTempPath(), L"C:\\Users\\tester\\AppData\\Local\\Temp\\");
}

TEST_F(KnownFolders, EnvironmentAnswersFromTheMachineAsA32BitProcessSeesIt) {
    UseMachineOf(true);
    struct Case {
        const wchar_t* name;
        const wchar_t* value;
    } cases[] = {
        {L"ProgramFiles", L"C:\\Program Files (x86)"},
        {L"programfiles(x86)", L"C:\\Program Files (x86)"},
        {L"ProgramW6432", L"C:\\Program Files"},
        {L"CommonProgramFiles", L"C:\\Program Files (x86)\\Common Files"},
        {L"CommonProgramW6432", L"C:\\Program Files\\Common Files"},
        {L"PROGRAMDATA", L"C:\\ProgramData"},
        {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
        {L"PUBLIC", L"C:\\Users\\Public"},
        {L"SystemRoot", L"C:\\Windows"},
        {L"windir", L"C:\\Windows"},
        {L"SystemDrive", L"C:"},
        {L"TEMP", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
        {L"tmp", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
        {L"APPDATA", L"C:\\Users\\tester\\AppData\\Roaming"},
        {L"LOCALAPPDATA", L"C:\\Users\\tester\\AppData\\Local"},
        {L"USERPROFILE", L"C:\\Users\\tester"},
        {L"USERNAME", L"tester"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetEnvironmentVariable(c.name), c.value) << c.name;
    EXPECT_EQ(GetEnvironmentVariable(L"PATH").rfind(L"C:\\Windows\\system32;C:\\Windows;", 0), 0u);
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariable(L"HOME"), L"");  // the host's variables are not Windows's
    EXPECT_EQ(GetLastError(), 203u);                  // ERROR_ENVVAR_NOT_FOUND

    EXPECT_EQ(ExpandEnvironmentStrings(L"%ProgramFiles%\\Velmo\\%NoSuchVar%\\x"),
              L"C:\\Program Files (x86)\\Velmo\\%NoSuchVar%\\x");
    EXPECT_EQ(ExpandEnvironmentStrings(L"%X%SystemDrive%\\"), L"%XC:\\");
    EXPECT_EQ(ExpandEnvironmentStrings(L"100% sure, %%, %"), L"100% sure, %%, %");

    const auto env = WindowsEnvironment();
    EXPECT_EQ(env.at(L"CommonProgramFiles(x86)"), L"C:\\Program Files (x86)\\Common Files");
    EXPECT_EQ(env.count(L"HOME"), 0u);
}

TEST_F(KnownFolders, EnvironmentOfA32BitMachineHasNoWow64Variables) {
    UseMachineOf(false);
    EXPECT_EQ(GetEnvironmentVariable(L"ProgramFiles"), L"C:\\Program Files");
    EXPECT_EQ(GetEnvironmentVariable(L"CommonProgramFiles"), L"C:\\Program Files\\Common Files");
    for (const wchar_t* absent : {L"ProgramFiles(x86)", L"ProgramW6432", L"CommonProgramFiles(x86)",
                                  L"CommonProgramW6432", L"PROCESSOR_ARCHITEW6432"}) {
        EXPECT_EQ(GetEnvironmentVariable(absent), L"") << absent;
        EXPECT_EQ(WindowsEnvironment().count(absent), 0u) << absent;
    }
    EXPECT_EQ(ExpandEnvironmentStrings(L"%ProgramFiles(x86)%\\x"), L"%ProgramFiles(x86)%\\x");
}

}  // namespace
