#include "util/file_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "support/temp_machine.h"
#include "util/log.h"

namespace {

TEST(FileHelpers, SplitPathScansFromTheEnd) {
    struct Case {
        const wchar_t* path;
        const wchar_t *folder, *name, *extension;
    } cases[] = {
        {L"C:\\a.b\\c", L"C:\\a.b", L"c", L""},
        {L"file.tar.gz", L"", L"file.tar.gz", L".gz"},
        {L"C:\\dir\\setup.exe", L"C:\\dir", L"setup.exe", L".exe"},
        {L"C:/mixed\\sep/x.ini", L"C:/mixed\\sep", L"x.ini", L".ini"},
        {L"C:\\", L"C:", L"", L""},
    };
    for (const auto& c : cases) {
        util::PathParts p;
        ASSERT_TRUE(util::SplitPath(c.path, p)) << c.path;
        EXPECT_EQ(p.folder, c.folder) << c.path;
        EXPECT_EQ(p.name, c.name) << c.path;
        EXPECT_EQ(p.extension, c.extension) << c.path;
    }
    util::PathParts p;
    EXPECT_FALSE(util::SplitPath(L"", p));
}

TEST(FileHelpers, JoinPathPutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(util::JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
    EXPECT_EQ(util::JoinPath(L"C:\\a\\", L"\\b"), L"C:\\a\\b");
    EXPECT_EQ(util::JoinPath(L"C:", L"b"), L"C:\\b");
    EXPECT_EQ(util::JoinPath(L"C:\\", L"b"), L"C:\\b");
    EXPECT_EQ(util::JoinPath(L"", L"b"), L"b");
    EXPECT_EQ(util::JoinPath(L"C:\\a", L""), L"C:\\a");
}

class FileHelpersMachine : public velmo_test::MachineTest {};

TEST_F(FileHelpersMachine, CreateDirectoryTreeCreatesEveryLevelAndIsIdempotent) {
    EXPECT_TRUE(util::CreateDirectoryTree(L"C:\\x\\y\\z"));
    EXPECT_TRUE(util::DirectoryExists(L"C:\\x\\y\\z"));
    EXPECT_TRUE(util::CreateDirectoryTree(L"C:\\x\\y\\z"));
    EXPECT_TRUE(util::CreateDirectoryTree(L""));
    EXPECT_FALSE(util::FileExists(L"C:\\x\\y\\z"));
}

TEST_F(FileHelpersMachine, DeleteTreeRemovesReadOnlyFilesAndNestedFolders) {
    ASSERT_TRUE(util::CreateDirectoryTree(L"C:\\t\\sub\\deeper"));
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\t\\a.txt", "a"));
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\t\\sub\\deeper\\b.txt", "bb"));
    ASSERT_TRUE(platform::SetFileAttributes(L"C:\\t\\sub\\deeper\\b.txt", platform::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(util::DeleteTree(L"C:\\t"), 1u);
    EXPECT_FALSE(util::DirectoryExists(L"C:\\t"));
    EXPECT_NE(util::DeleteTree(L"C:\\missing"), 0u);
}

TEST_F(FileHelpersMachine, DeleteFileForceClearsTheReadOnlyAttribute) {
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\ro.txt", "x"));
    ASSERT_TRUE(platform::SetFileAttributes(L"C:\\ro.txt", platform::FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(platform::DeleteFile(L"C:\\ro.txt"));
    EXPECT_TRUE(util::DeleteFileForce(L"C:\\ro.txt"));
    EXPECT_FALSE(util::FileExists(L"C:\\ro.txt"));
    EXPECT_FALSE(util::DeleteFileForce(L""));
}

TEST_F(FileHelpersMachine, IsFolderWritableLeavesNoProbeBehind) {
    ASSERT_TRUE(util::CreateDirectoryTree(L"C:\\w"));
    EXPECT_TRUE(util::IsFolderWritable(L"C:\\w"));
    EXPECT_EQ(util::CountFiles(L"C:\\w"), 0u);
    std::vector<platform::FindData> entries;
    ASSERT_TRUE(platform::FindFiles(L"C:\\w\\*", entries));
    EXPECT_TRUE(entries.empty());
}

TEST_F(FileHelpersMachine, IsFolderWritableLogsAFolderThatCannotBeWritten) {
    std::vector<std::wstring> lines;
    util::SetDebuggerOutput([&](std::wstring_view l) { lines.emplace_back(l); });
    // A file where the folder should be cannot hold a probe.
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\plainfile", "x"));
    EXPECT_FALSE(util::IsFolderWritable(L"C:\\plainfile"));
    util::SetDebuggerOutput(nullptr);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(L"Debug The folder is not writable: C:\\plainfile"), std::wstring::npos);
}

TEST_F(FileHelpersMachine, FileFactsSizesAndCounts) {
    ASSERT_TRUE(util::CreateDirectoryTree(L"C:\\f\\sub"));
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\f\\one", std::string(10, 'x')));
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\f\\two.txt", std::string(20, 'x')));
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\f\\sub\\three", std::string(30, 'x')));
    EXPECT_EQ(util::FileSize(L"C:\\f\\two.txt"), 20u);
    EXPECT_EQ(util::FileSize(L"C:\\f\\missing"), 0u);
    EXPECT_EQ(util::FolderSize(L"C:\\f"), 60u);
    EXPECT_EQ(util::CountFiles(L"C:\\f"), 2u);  // the subfolder is not counted, nor its files
}

TEST_F(FileHelpersMachine, FolderSizeCountsAFileAboveFourGigabytes) {
    ASSERT_TRUE(util::CreateDirectoryTree(L"C:\\big"));
    {
        // Sparse: takes no disk space.
        std::ofstream out(machine_.Host(L"C:\\big\\huge.bin"), std::ios::binary);
        out.seekp((5LL << 30) - 1);
        out.put('\0');
    }
    EXPECT_GE(util::FolderSize(L"C:\\big"), 5ULL << 30);
}

TEST_F(FileHelpersMachine, NewestFileSkipsFilesThatCannotBeOpenedAndPrefersTheLaterOnATie) {
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\a.log", "a"));
    ASSERT_TRUE(platform::WriteWholeFile(L"C:\\b.log", "b"));
    std::wstring newest = util::NewestFile({L"C:\\a.log", L"C:\\b.log", L"C:\\missing.log"});
    EXPECT_EQ(newest, L"C:\\b.log");
    EXPECT_EQ(util::NewestFile({L"C:\\missing.log"}), L"");
}

TEST_F(FileHelpersMachine, InstallerDataFolderIsUnderThe32BitProgramFiles) {
    EXPECT_EQ(util::InstallerDataFolder(), L"C:\\Program Files (x86)\\Velmo\\VelmoInstaller");
}

TEST_F(FileHelpersMachine, WriteAllRefusesNothingToWriteAndInvalidHandles) {
    platform::File none;
    EXPECT_FALSE(util::WriteAll(none, "x", 1));
    platform::File f = platform::File::Open(L"C:\\w.bin", platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS);
    ASSERT_TRUE(f.IsValid());
    EXPECT_FALSE(util::WriteAll(f, "x", 0));
    EXPECT_TRUE(util::WriteAll(f, "xyz", 3));
    f.Close();
    EXPECT_EQ(util::FileSize(L"C:\\w.bin"), 3u);
}

TEST_F(FileHelpersMachine, PrerequisiteLogFilesFindsRecentSetupLogsInTheTemporaryFolder) {
    std::wstring temp = platform::GetKnownFolderPath(platform::KnownFolder::Temp);
    for (const wchar_t* name : {L"dd_vcredist_x86_2024.log", L"Microsoft .NET Framework 4.8 Setup.html",
                                L"unrelated.log", L"vcredist_notes.doc"})
        ASSERT_TRUE(platform::WriteWholeFile(util::JoinPath(temp, name), "x"));
    auto found = util::PrerequisiteLogFiles();
    std::vector<std::wstring> names;
    for (auto& f : found) {
        util::PathParts p;
        util::SplitPath(f, p);
        names.push_back(p.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Microsoft .NET Framework 4.8 Setup.html", L"dd_vcredist_x86_2024.log"}));
}

}  // namespace

namespace {

TEST(VersionHelpers, InstallerBinaryCarriesItsVersionBlock) {
    const std::wstring installer = platform::WindowsPathFromHost(velmo_test::BinaryPath("VelmoInstaller"));
    EXPECT_EQ(util::FileVersionText(installer), L"2.0.1.50");
    EXPECT_EQ(util::ModuleStringVersionValue(installer, L"CompanyName"), L"Velmo AG");
    EXPECT_EQ(util::ModuleStringVersionValue(installer, L"ProductVersion"), L"2.0.1.50");
    EXPECT_EQ(util::ModuleStringVersionValue(installer, L"NoSuchValue"), L"");
    EXPECT_EQ(util::FileVersionText(L"Z:\\no\\such\\file"), L"");
}

}  // namespace
