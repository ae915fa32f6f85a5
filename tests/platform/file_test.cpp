// Files through the platform: attributes and their enforcement (the tests run as root, which the
// host would let through), sharing within the process, dispositions, wildcards, disk space,
// copy and move, times.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

class FileTest : public velmo_test::MachineTest {
protected:
    void Write(const std::wstring& path, const std::string& text) { ASSERT_TRUE(WriteWholeFile(path, text)) << GetLastError(); }
    std::string Read(const std::wstring& path) {
        std::string s;
        EXPECT_TRUE(ReadWholeFile(path, s)) << GetLastError();
        return s;
    }
    bool Exists(const std::wstring& path) { return GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES; }
};

// ---- attributes -------------------------------------------------------------------------------

using FileAttributes = FileTest;

TEST_F(FileAttributes, ReadOnlyFileRefusesEveryChangeEvenForRoot) {
    const std::wstring target = L"C:\\Data\\locked.txt";
    ASSERT_TRUE(CreateDirectory(L"C:\\Data"));
    Write(target, "original");
    Write(L"C:\\Data\\other.txt", "other");
    ASSERT_TRUE(SetFileAttributes(target, FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributes(target), FILE_ATTRIBUTE_READONLY);

    struct Case {
        const char* what;
        std::function<bool()> attempt;
    } cases[] = {
        {"DeleteFile", [&] { return DeleteFile(target); }},
        {"open for writing", [&] { return File::Open(target, GENERIC_WRITE, 0, OPEN_EXISTING).IsValid(); }},
        {"open for appending", [&] { return File::Open(target, FILE_APPEND_DATA, 0, OPEN_ALWAYS).IsValid(); }},
        {"CREATE_ALWAYS", [&] { return File::Open(target, GENERIC_READ, 0, CREATE_ALWAYS).IsValid(); }},
        {"TRUNCATE_EXISTING", [&] { return File::Open(target, GENERIC_WRITE, 0, TRUNCATE_EXISTING).IsValid(); }},
        {"WriteWholeFile", [&] { return WriteWholeFile(target, "new"); }},
        {"CopyFile onto", [&] { return CopyFile(L"C:\\Data\\other.txt", target, false); }},
        {"MoveFile onto", [&] { return MoveFile(L"C:\\Data\\other.txt", target, MOVEFILE_REPLACE_EXISTING); }},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.attempt()) << c.what;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << c.what;
    }
    EXPECT_EQ(Read(target), "original");
    EXPECT_TRUE(File::Open(target, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING).IsValid());

    ASSERT_TRUE(SetFileAttributes(target, FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributes(target), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFile(target));
    EXPECT_FALSE(Exists(target));
}

TEST_F(FileAttributes, ReadOnlyFolderRefusesRemovalButTakesNewFiles) {
    ASSERT_TRUE(CreateDirectory(L"C:\\Kept"));
    ASSERT_TRUE(SetFileAttributes(L"C:\\Kept", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributes(L"C:\\Kept"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    Write(L"C:\\Kept\\inside.txt", "x");  // as on Windows, read-only does not protect a folder's contents
    EXPECT_TRUE(DeleteFile(L"C:\\Kept\\inside.txt"));
    EXPECT_FALSE(RemoveDirectory(L"C:\\Kept"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributes(L"C:\\Kept", 0));
    EXPECT_TRUE(RemoveDirectory(L"C:\\Kept"));
}

TEST_F(FileAttributes, HiddenSystemArchiveRoundTrip) {
    Write(L"C:\\flags.dat", "x");
    EXPECT_EQ(GetFileAttributes(L"C:\\flags.dat"), FILE_ATTRIBUTE_NORMAL);
    const DWORD all = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
    ASSERT_TRUE(SetFileAttributes(L"C:\\flags.dat", all | FILE_ATTRIBUTE_DIRECTORY));  // the folder bit is ignored
    EXPECT_EQ(GetFileAttributes(L"C:\\flags.dat"), all);
    ASSERT_TRUE(SetFileAttributes(L"C:\\flags.dat", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributes(L"C:\\flags.dat"), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributes(L"C:\\Windows"), FILE_ATTRIBUTE_DIRECTORY);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributes(L"C:\\missing.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributes(L"C:\\missing\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileAttributes, NewReadOnlyFileKeepsAWritableHandle) {
    File f = File::Open(L"C:\\new.txt", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f.Write("abc", 3));
    f.Close();
    EXPECT_EQ(GetFileAttributes(L"C:\\new.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Read(L"C:\\new.txt"), "abc");
}

TEST_F(FileAttributes, CopyCarriesAttributesAndLastWriteTime) {
    Write(L"C:\\src.txt", "payload");
    struct timespec times[2] = {{978307200, 0}, {978307200, 0}};  // 2001-01-01 00:00:00 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, machine_.Host(L"C:\\src.txt").c_str(), times, 0), 0);
    ASSERT_TRUE(SetFileAttributes(L"C:\\src.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(CopyFile(L"C:\\src.txt", L"C:\\dst.txt", true));
    FileInfo info;
    ASSERT_TRUE(GetFileInfo(L"C:\\dst.txt", info));
    EXPECT_EQ(info.attributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(info.lastWriteTime, 126227808000000000);  // the same instant as a Windows FILETIME
    EXPECT_EQ(info.size, 7u);
    EXPECT_EQ(Read(L"C:\\dst.txt"), "payload");
}

TEST_F(FileAttributes, CreationTimeIsBirthTimeWhereTheFileSystemHasOne) {
    Write(L"C:\\born.txt", "x");
    const fs::path host = machine_.Host(L"C:\\born.txt");
    struct timespec times[2] = {{978307200, 0}, {978307200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
    struct statx sx {};
    ASSERT_EQ(::statx(AT_FDCWD, host.c_str(), 0, STATX_BTIME, &sx), 0);
    FileInfo info;
    ASSERT_TRUE(GetFileInfo(L"C:\\born.txt", info));
    EXPECT_EQ(info.lastWriteTime, 126227808000000000);
    if (sx.stx_mask & STATX_BTIME) {
        EXPECT_EQ(info.creationTime, static_cast<FileTime>(sx.stx_btime.tv_sec) * 10000000 + sx.stx_btime.tv_nsec / 100 +
                                         116444736000000000);
    } else {
        EXPECT_EQ(info.creationTime, info.lastWriteTime);
    }
    File f = File::Open(L"C:\\born.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    FileTime creation = 0, lastWrite = 0;
    ASSERT_TRUE(f.GetTimes(creation, lastWrite));
    EXPECT_EQ(creation, info.creationTime);
    EXPECT_EQ(lastWrite, info.lastWriteTime);
}

// ---- folders, dispositions, reading and writing ---------------------------------------------

using FileOperations = FileTest;

TEST_F(FileOperations, FolderCallsReportWindowsErrors) {
    ASSERT_TRUE(CreateDirectory(L"C:\\Top"));
    Write(L"C:\\Top\\f.txt", "x");
    struct Case {
        const char* what;
        std::function<bool()> attempt;
        DWORD error;
    } cases[] = {
        {"create existing", [] { return CreateDirectory(L"C:\\Top"); }, ERROR_ALREADY_EXISTS},
        {"create without parent", [] { return CreateDirectory(L"C:\\No\\Such"); }, ERROR_PATH_NOT_FOUND},
        {"remove non-empty", [] { return RemoveDirectory(L"C:\\Top"); }, ERROR_DIR_NOT_EMPTY},
        {"remove a file", [] { return RemoveDirectory(L"C:\\Top\\f.txt"); }, ERROR_DIRECTORY},
        {"remove missing", [] { return RemoveDirectory(L"C:\\Gone"); }, ERROR_FILE_NOT_FOUND},
        {"delete a folder", [] { return DeleteFile(L"C:\\Top"); }, ERROR_ACCESS_DENIED},
        {"delete missing", [] { return DeleteFile(L"C:\\Top\\none.txt"); }, ERROR_FILE_NOT_FOUND},
        {"delete in missing folder", [] { return DeleteFile(L"C:\\Nope\\none.txt"); }, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.attempt()) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    EXPECT_TRUE(DeleteFile(L"c:\\top\\F.TXT"));
    EXPECT_TRUE(RemoveDirectory(L"C:\\TOP"));
}

TEST_F(FileOperations, DispositionsFollowCreateFile) {
    Write(L"C:\\there.txt", "12345");
    ASSERT_TRUE(CreateDirectory(L"C:\\Folder"));
    struct Case {
        const wchar_t* path;
        DWORD access;
        DWORD disposition;
        bool opens;
        DWORD error;  // last error after the call, also on success
        const char* contentAfter;
    } cases[] = {
        {L"C:\\there.txt", GENERIC_READ, CREATE_NEW, false, ERROR_FILE_EXISTS, "12345"},
        {L"C:\\there.txt", GENERIC_READ, OPEN_EXISTING, true, ERROR_SUCCESS, "12345"},
        {L"C:\\there.txt", GENERIC_READ, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "12345"},
        {L"C:\\there.txt", GENERIC_WRITE, TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
        {L"C:\\missing.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {L"C:\\missing\\x.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_PATH_NOT_FOUND, nullptr},
        {L"C:\\missing.txt", GENERIC_WRITE, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {L"C:\\new.txt", GENERIC_WRITE, CREATE_NEW, true, ERROR_SUCCESS, ""},
        {L"C:\\new.txt", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
        {L"C:\\Folder", GENERIC_READ, OPEN_EXISTING, false, ERROR_ACCESS_DENIED, nullptr},
        {L"C:\\there.txt", GENERIC_READ, TRUNCATE_EXISTING, false, ERROR_INVALID_PARAMETER, nullptr},
        {L"C:\\there.txt", GENERIC_READ, 9, false, ERROR_INVALID_PARAMETER, nullptr},
    };
    for (const auto& c : cases) {
        if (std::wstring(c.path) == L"C:\\there.txt" && c.disposition == TRUNCATE_EXISTING && c.opens)
            Write(L"C:\\there.txt", "12345");
        SetLastError(12345);
        File f = File::Open(c.path, c.access, FILE_SHARE_READ, c.disposition);
        EXPECT_EQ(f.IsValid(), c.opens) << static_cast<int>(&c - cases);
        EXPECT_EQ(GetLastError(), c.error) << static_cast<int>(&c - cases);
        f.Close();
        if (c.contentAfter) {
            EXPECT_EQ(Read(c.path), c.contentAfter) << static_cast<int>(&c - cases);
        }
    }
}

TEST_F(FileOperations, ReadWriteSeekAndTruncate) {
    File f = File::Open(L"C:\\rw.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f.Write("hello world", 11));
    std::int64_t pos = -1;
    ASSERT_TRUE(f.Seek(-5, FILE_END, &pos));
    EXPECT_EQ(pos, 6);
    char buf[16] = {};
    std::size_t got = 0;
    ASSERT_TRUE(f.Read(buf, sizeof buf, got));
    EXPECT_EQ(std::string(buf, got), "world");
    ASSERT_TRUE(f.Read(buf, sizeof buf, got));  // end of file: success with nothing read
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(f.Seek(5, FILE_BEGIN));
    ASSERT_TRUE(f.SetEndOfFile());
    std::uint64_t size = 0;
    ASSERT_TRUE(f.GetSize(size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(f.Seek(-1, FILE_BEGIN));
    EXPECT_TRUE(f.Flush());
    f.Close();
    EXPECT_EQ(Read(L"C:\\rw.bin"), "hello");

    File readOnly = File::Open(L"C:\\rw.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_FALSE(readOnly.Write("x", 1));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    File closed;
    EXPECT_FALSE(closed.Read(buf, 1, got));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileOperations, AppendHandlesWriteWholeLinesAtTheEnd) {
    // Two handles and two threads, as the log has: every write lands whole, after what is there.
    Write(L"C:\\log.txt", "head\n");
    constexpr int kLines = 300;
    auto writer = [](char tag) {
        File f = File::Open(L"C:\\log.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
        ASSERT_TRUE(f);
        ASSERT_TRUE(f.Seek(0, FILE_BEGIN));  // no effect on where an append lands
        for (int i = 0; i < kLines; ++i) {
            std::string line = std::string(1, tag) + std::to_string(i) + std::string(40, tag) + "\n";
            ASSERT_TRUE(f.Write(line.data(), line.size()));
        }
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::istringstream in(Read(L"C:\\log.txt"));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "head");
    std::set<std::string> seen;
    while (std::getline(in, line)) {
        ASSERT_GE(line.size(), 41u) << line;
        char tag = line[0];
        EXPECT_EQ(line.substr(line.size() - 40), std::string(40, tag)) << line;
        seen.insert(line.substr(0, line.size() - 40));
    }
    EXPECT_EQ(seen.size(), 2u * kLines);
}

TEST_F(FileOperations, WholeFilesAndProcessFacts) {
    std::string big(3 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    Write(L"C:\\big.bin", big);
    EXPECT_EQ(Read(L"C:\\big.bin"), big);
    std::string none;
    EXPECT_FALSE(ReadWholeFile(L"C:\\absent.bin", none));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    const std::wstring exe = GetModuleFileName();
    EXPECT_EQ(exe.rfind(L"Z:\\", 0), 0u) << std::string(exe.begin(), exe.end());
    EXPECT_EQ(exe.substr(exe.size() - 14), L"platform_tests");
    const std::wstring temp = GetTempPath();
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_EQ(GetFileAttributes(temp), FILE_ATTRIBUTE_DIRECTORY);
}

// ---- sharing ----------------------------------------------------------------------------------

using FileSharing = FileTest;

TEST_F(FileSharing, SecondOpenMustFitTheSharingOfTheFirst) {
    Write(L"C:\\shared.txt", "x");
    constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, A = FILE_APPEND_DATA;
    constexpr DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
    struct Case {
        DWORD access1, share1, access2, share2;
        bool secondOpens;
    } cases[] = {
        {R, SR, R, SR, true},
        {R, 0, R, SR | SW, false},       // the first allows no readers
        {R, SR, W, SR | SW, false},      // the first allows no writers
        {R, SR, R, SW, false},           // the second would refuse the first's reading
        {W, SR | SW, W, SR | SW, true},
        {W, SR, R, SR, false},           // the second would refuse the first's writing
        {A, SR | SW, A, SR | SW, true},  // two appenders, as two log writers
        {A, SR, A, SR | SW, false},      // appending is writing
        {R | W, SR | SW | SD, R, SR | SW | SD, true},
        {0, 0, R | W, 0, true},          // an attribute-only handle takes nothing
    };
    for (const auto& c : cases) {
        const int index = static_cast<int>(&c - cases);
        File first = File::Open(L"C:\\shared.txt", c.access1, c.share1, OPEN_EXISTING);
        ASSERT_TRUE(first) << index;
        SetLastError(0);
        File second = File::Open(L"C:\\SHARED.TXT", c.access2, c.share2, OPEN_EXISTING);
        EXPECT_EQ(second.IsValid(), c.secondOpens) << index;
        if (!c.secondOpens) {
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << index;
        }
    }
    // Closing the first handle lifts its restrictions.
    File first = File::Open(L"C:\\shared.txt", R, 0, OPEN_EXISTING);
    first.Close();
    EXPECT_TRUE(File::Open(L"C:\\shared.txt", W, 0, OPEN_EXISTING));
}

TEST_F(FileSharing, OpenFileWithoutDeleteSharingCannotBeDeletedOrMoved) {
    Write(L"C:\\busy.txt", "x");
    {
        File open = File::Open(L"C:\\busy.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        ASSERT_TRUE(open);
        File moved = std::move(open);  // the handle's entry travels with it
        EXPECT_FALSE(DeleteFile(L"C:\\busy.txt"));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_FALSE(MoveFile(L"C:\\busy.txt", L"C:\\elsewhere.txt", 0));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        Write(L"C:\\other.txt", "y");
        EXPECT_FALSE(MoveFile(L"C:\\other.txt", L"C:\\busy.txt", MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(Exists(L"C:\\busy.txt"));
    }
    {
        File open = File::Open(L"C:\\busy.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
        ASSERT_TRUE(open);
        EXPECT_TRUE(MoveFile(L"C:\\busy.txt", L"C:\\renamed.txt", 0));
        EXPECT_TRUE(DeleteFile(L"C:\\renamed.txt"));
    }
}

TEST_F(FileSharing, CopyReadsAFileOthersWriteButNotOneThatRefusesReaders) {
    Write(L"C:\\log.txt", "line\n");
    {
        File log = File::Open(L"C:\\log.txt", FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_EXISTING);
        ASSERT_TRUE(log);
        EXPECT_TRUE(CopyFile(L"C:\\log.txt", L"C:\\copy.txt", false));
    }
    File exclusive = File::Open(L"C:\\log.txt", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(CopyFile(L"C:\\log.txt", L"C:\\copy2.txt", false));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(CopyFile(L"C:\\copy.txt", L"C:\\log.txt", false));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

// ---- copy and move -----------------------------------------------------------------------------

using CopyAndMove = FileTest;

TEST_F(CopyAndMove, CopyFollowsFailIfExistsAndRefusesFolders) {
    Write(L"C:\\a.txt", "A");
    Write(L"C:\\b.txt", "B");
    EXPECT_FALSE(CopyFile(L"C:\\a.txt", L"C:\\b.txt", true));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_TRUE(CopyFile(L"C:\\a.txt", L"C:\\B.TXT", false));  // replaces the existing b.txt
    EXPECT_EQ(Read(L"C:\\b.txt"), "A");
    EXPECT_FALSE(fs::exists(machine_.Host(L"C:\\Windows").parent_path() / "B.TXT"));
    EXPECT_FALSE(CopyFile(L"C:\\missing.txt", L"C:\\c.txt", false));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(CopyFile(L"C:\\Windows", L"C:\\c.txt", false));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CopyFile(L"C:\\a.txt", L"C:\\no\\c.txt", false));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CopyFile(L"C:\\a.txt", L"c:\\A.TXT", false));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Read(L"C:\\a.txt"), "A");
}

TEST_F(CopyAndMove, MoveRenamesReplacesAndChangesCase) {
    Write(L"C:\\one.txt", "1");
    Write(L"C:\\two.txt", "2");
    EXPECT_FALSE(MoveFile(L"C:\\one.txt", L"C:\\two.txt", 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(MoveFile(L"C:\\one.txt", L"C:\\TWO.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Read(L"C:\\two.txt"), "1");
    EXPECT_FALSE(Exists(L"C:\\one.txt"));

    EXPECT_TRUE(MoveFile(L"C:\\two.txt", L"C:\\Two.TXT", 0));  // the same file: only the spelling changes
    std::vector<FindData> found;
    ASSERT_TRUE(FindFiles(L"C:\\two.*", found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, L"Two.TXT");

    ASSERT_TRUE(CreateDirectory(L"C:\\Dir"));
    Write(L"C:\\Dir\\in.txt", "in");
    EXPECT_TRUE(MoveFile(L"C:\\Dir", L"C:\\Moved", 0));
    EXPECT_EQ(Read(L"C:\\Moved\\in.txt"), "in");
    EXPECT_FALSE(MoveFile(L"C:\\Two.TXT", L"C:\\Moved", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(MoveFile(L"C:\\gone.txt", L"C:\\x.txt", 0));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(MoveFile(L"C:\\Two.TXT", L"C:\\no\\x.txt", 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(CopyAndMove, MoveAcrossDevicesCopiesOnlyWhenAllowed) {
    // /dev/shm is a memory file system on a device of its own, a different one from the prefix's.
    struct stat shm {}, prefix {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(machine_.root().c_str(), &prefix) != 0 || shm.st_dev == prefix.st_dev)
        GTEST_SKIP() << "no second file system at hand";
    char tmpl[] = "/dev/shm/velmo-move-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::wstring otherDrive = WindowsPathFromHost(tmpl);
    Write(L"C:\\travel.txt", "far");
    EXPECT_FALSE(MoveFile(L"C:\\travel.txt", otherDrive + L"\\travel.txt", 0));
    EXPECT_EQ(GetLastError(), 17u);  // ERROR_NOT_SAME_DEVICE
    EXPECT_TRUE(MoveFile(L"C:\\travel.txt", otherDrive + L"\\travel.txt", MOVEFILE_COPY_ALLOWED));
    EXPECT_FALSE(Exists(L"C:\\travel.txt"));
    EXPECT_EQ(Read(otherDrive + L"\\travel.txt"), "far");
    std::error_code ec;
    fs::remove_all(tmpl, ec);
}

// ---- FindFiles ---------------------------------------------------------------------------------

using FindFilesTest = FileTest;

TEST_F(FindFilesTest, WindowsWildcardsMatchCaseInsensitively) {
    ASSERT_TRUE(CreateDirectory(L"C:\\List"));
    for (const wchar_t* name : {L"a.txt", L"B.TXT", L"readme", L"c.log", L"archive.tar.gz", L"ab.txt"})
        Write(std::wstring(L"C:\\List\\") + name, "x");
    ASSERT_TRUE(CreateDirectory(L"C:\\List\\Sub"));
    const std::vector<std::wstring> all = {L"a.txt", L"ab.txt", L"archive.tar.gz", L"B.TXT", L"c.log", L"readme", L"Sub"};
    struct Case {
        const wchar_t* pattern;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"*", all},
        {L"*.*", all},
        {L"*.TXT", {L"a.txt", L"ab.txt", L"B.TXT"}},
        {L"?.txt", {L"a.txt", L"B.TXT"}},
        {L"a*", {L"a.txt", L"ab.txt", L"archive.tar.gz"}},
        {L"*.gz", {L"archive.tar.gz"}},
        {L"*a*.*z", {L"archive.tar.gz"}},
        {L"README.*", {L"readme"}},
        {L"*.", {L"readme", L"Sub"}},
        {L"c.log", {L"c.log"}},
        {L"x*", {}},
    };
    for (const auto& c : cases) {
        std::vector<FindData> found;
        ASSERT_TRUE(FindFiles(std::wstring(L"c:\\list\\") + c.pattern, found)) << c.pattern;
        std::vector<std::wstring> names;
        for (const auto& f : found) names.push_back(f.name);
        EXPECT_EQ(names, c.expected) << c.pattern;
    }
    std::vector<FindData> found;
    ASSERT_TRUE(FindFiles(L"C:\\List\\Sub*", found));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].info.attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(FindFiles(L"C:\\Nowhere\\*", found));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// ---- disk space ----------------------------------------------------------------------------------

using DiskSpace = FileTest;

TEST_F(DiskSpace, ProfileOverridesWinOverTheHostPerDrive) {
    std::uint64_t free = 0, total = 0, totalFree = 0;
    ASSERT_TRUE(GetDiskFreeSpace(L"Z:\\", free, total, totalFree));
    struct statvfs host {};
    ASSERT_EQ(::statvfs("/", &host), 0);
    EXPECT_EQ(total, static_cast<std::uint64_t>(host.f_blocks) * host.f_frsize);

    MachineProfile p = CurrentProfile();
    p.freeSpaceBytes[L'C'] = 2000000000;
    p.freeSpaceBytes[L'D'] = 5;
    p.totalSpaceBytes[L'D'] = 100;
    ASSERT_TRUE(SaveMachineProfile(p));
    ASSERT_TRUE(GetDiskFreeSpace(L"C:\\Program Files (x86)\\Not\\There\\Yet", free, total, totalFree));
    EXPECT_EQ(free, 2000000000u);
    EXPECT_EQ(totalFree, 2000000000u);
    EXPECT_GE(total, 2000000000u);

    EXPECT_FALSE(GetDiskFreeSpace(L"D:\\", free, total, totalFree));  // no such drive yet
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    fs::create_directories(machine_.root() / "drive_d");
    ASSERT_TRUE(GetDiskFreeSpace(L"d:\\games", free, total, totalFree));
    EXPECT_EQ(free, 5u);
    EXPECT_EQ(totalFree, 5u);
    EXPECT_EQ(total, 100u);
    ASSERT_TRUE(GetDiskFreeSpace(L"Z:\\tmp", free, total, totalFree));
    EXPECT_EQ(total, static_cast<std::uint64_t>(host.f_blocks) * host.f_frsize);  // not listed: the host's figures
}

}  // namespace
