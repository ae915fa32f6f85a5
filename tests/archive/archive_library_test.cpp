// The 7-Zip fallback against the installed library, /usr/lib/p7zip/7z.so. Run under ASan and
// LeakSanitizer, these tests prove our declarations of its interfaces and who frees what.
#include <gmock/gmock.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "archive/archive_library.h"
#include "archive/archive_library_callbacks.h"
#include "archive/archive_library_loader.h"
#include "archive/archive_library_streams.h"
#include "archive/seven_zip_interfaces.h"
#include "archive_fixture.h"
#include "platform/file.h"
#include "platform/text.h"
#include "util/file_helpers.h"

namespace archive_test {
namespace {

using namespace archive::sevenzip;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const wchar_t* kLibrary = L"/usr/lib/p7zip/7z.so";
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

class ArchiveLibraryTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        archive::SetArchiveLibraryPath(kLibrary);
    }
    void TearDown() override {
        archive::SetArchiveLibraryPath(kLibrary);
        ArchiveTest::TearDown();
    }
    int Extract(const std::wstring& zip, std::vector<std::wstring>& top, bool listOnly = false) {
        return archive::ExtractWithArchiveLibrary(zip, Work(L"out"), top, listOnly);
    }
};

// ---- the binary layout, proven against the library -------------------------------------------

TEST_F(ArchiveLibraryTest, InterfaceLayoutMatchesTheInstalledLibrary) {
    const archive::ArchiveLibrary* library = archive::LoadArchiveLibrary(kLibrary);
    ASSERT_NE(library, nullptr);
    ASSERT_NE(library->createObject, nullptr);
    EXPECT_NE(library->sysFreeString, nullptr) << "the library frees its own strings";

    ComPtr<IInArchive> handler;
    ASSERT_EQ(library->createObject(&CLSID_CFormatZip, &IID_IInArchive, handler.out()), S_OK);
    ASSERT_TRUE(handler);
    // Slot 5: with a destructor in IUnknown this would land on another method.
    std::uint32_t items = 99;
    EXPECT_EQ(handler->GetNumberOfItems(&items), S_OK);
    EXPECT_EQ(items, 0u);
    // Slots 0 to 2 of the library's object.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(handler->QueryInterface(IID_IUnknown, unknown.out()), S_OK);
    ComPtr<IInArchive> missing;
    EXPECT_EQ(handler->QueryInterface(IID_IInStream, missing.out()), E_NOINTERFACE);

    std::string payload(3000, 'p');
    WriteRawZip(Work(L"layout.zip"), {{"dir/e.txt", payload}, {"b.txt", "b"}});
    // Our objects' slots: the library reads through CInFileStream and asks the open callback.
    ComPtr<archive::CInFileStream> file(new archive::CInFileStream);
    ASSERT_TRUE(file->Open(Work(L"layout.zip")));
    ComPtr<archive::CArchiveOpenCallback> callback(new archive::CArchiveOpenCallback);
    const std::uint64_t maxStart = 8388608;
    ASSERT_EQ(handler->Open(file.get(), &maxStart, callback.get()), S_OK);
    ASSERT_EQ(handler->GetNumberOfItems(&items), S_OK);
    EXPECT_EQ(items, 2u);

    PROPVARIANT value{};
    ASSERT_EQ(handler->GetProperty(0, kpidPath, &value), S_OK);
    ASSERT_EQ(value.vt, VT_BSTR);
    std::wstring path(value.bstrVal);
    EXPECT_TRUE(path == L"dir/e.txt" || path == L"dir\\e.txt") << platform::Utf8FromWide(path);
    // A BSTR: wchar_t units after a 32-bit byte count.
    std::uint32_t byteCount = 0;
    std::memcpy(&byteCount, reinterpret_cast<const char*>(value.bstrVal) - 4, 4);
    EXPECT_EQ(byteCount, path.size() * sizeof(wchar_t));
    library->Clear(value);  // the library's SysFreeString
    EXPECT_EQ(value.vt, VT_EMPTY);

    // The same string freed by our reading of the layout, as a library without the export needs:
    // ASan stops the test if the block does not start 4 bytes before the text.
    archive::ArchiveLibrary withoutExport = *library;
    withoutExport.sysFreeString = nullptr;
    ASSERT_EQ(handler->GetProperty(1, kpidPath, &value), S_OK);
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(value.bstrVal), L"b.txt");
    withoutExport.Clear(value);

    ASSERT_EQ(handler->GetProperty(0, kpidSize, &value), S_OK);
    ASSERT_EQ(value.vt, VT_UI8);
    EXPECT_EQ(value.uhVal, payload.size());
    ASSERT_EQ(handler->GetProperty(0, kpidIsDir, &value), S_OK);
    ASSERT_EQ(value.vt, VT_BOOL);
    EXPECT_EQ(value.boolVal, 0);
    EXPECT_EQ(handler->Close(), S_OK);
}

// ---- extraction ------------------------------------------------------------------------------

TEST_F(ArchiveLibraryTest, ExtractsPathsTimesAndAttributesOfDebianZip) {
    WriteFile(Work(L"src\\Tool\\a.exe"), std::string(10000, 'a'));
    WriteFile(Work(L"src\\Tool\\sub\\b.dll"), "b");
    WriteFile(Work(L"src\\Tool\\ro.txt"), "read only");
    WriteFile(Work(L"src\\top.txt"), "top");
    // 2020-02-03 04:05:06 UTC
    const std::time_t when = 1580702706;
    for (const auto* rel : {L"src\\Tool\\a.exe", L"src\\Tool\\sub\\b.dll", L"src\\Tool\\ro.txt", L"src\\top.txt"}) {
        timeval times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(::utimes(Host(Work(rel)).c_str(), times), 0);
    }
    ASSERT_EQ(::chmod(Host(Work(L"src\\Tool\\ro.txt")).c_str(), 0444), 0);
    RunZip(Work(L"src"), "-r ../tool.zip Tool top.txt");

    std::vector<std::wstring> top;
    ASSERT_EQ(Extract(Work(L"tool.zip"), top), 0) << LogText();
    EXPECT_THAT(top, ElementsAre(L"Tool"));
    EXPECT_TRUE(LogHas(L"start unzip file with 7zip: C:\\work\\tool.zip"));
    EXPECT_TRUE(LogHas(L"7zip unzip successfully, top folder: Tool"));
    EXPECT_EQ(ReadFile(Work(L"out\\Tool\\a.exe")), std::string(10000, 'a'));
    EXPECT_EQ(ReadFile(Work(L"out\\Tool\\sub\\b.dll")), "b");
    EXPECT_EQ(ReadFile(Work(L"out\\top.txt")), "top");
    platform::FileInfo info;
    ASSERT_TRUE(platform::GetFileInfo(Work(L"out\\Tool\\a.exe"), info));
    EXPECT_EQ(info.lastWriteTime, kEpochDifference + static_cast<std::int64_t>(when) * 10000000);
    // A Unix archive's attributes carry the mode above bit 16; of such a value only the low 14
    // bits (the Windows ones, none here) are applied, so the mode's missing write bit is not.
    EXPECT_EQ(platform::GetFileAttributes(Work(L"out\\Tool\\ro.txt")) & platform::FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(ArchiveLibraryTest, SetsWindowsAttributesAndDosTimesOfAWindowsArchive) {
    WriteRawZip(Work(L"win.zip"),
                {{"App/hidden.ini", "h", true, platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_ARCHIVE},
                 {"App/locked.dll", "l", true, platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_ARCHIVE},
                 {"App/plain.txt", "p", false, platform::FILE_ATTRIBUTE_ARCHIVE}});
    std::vector<std::wstring> top;
    ASSERT_EQ(Extract(Work(L"win.zip"), top), 0) << LogText();
    EXPECT_THAT(top, ElementsAre(L"App"));
    EXPECT_TRUE(platform::GetFileAttributes(Work(L"out\\App\\hidden.ini")) & platform::FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(platform::GetFileAttributes(Work(L"out\\App\\locked.dll")) & platform::FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(platform::GetFileAttributes(Work(L"out\\App\\plain.txt")) & platform::FILE_ATTRIBUTE_READONLY);
    // The DOS time 2021-03-04 05:06:08 is local time.
    std::tm local{};
    local.tm_year = 121;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 5;
    local.tm_min = 6;
    local.tm_sec = 8;
    local.tm_isdst = -1;
    std::time_t expected = std::mktime(&local);
    platform::FileInfo info;
    ASSERT_TRUE(platform::GetFileInfo(Work(L"out\\App\\plain.txt"), info));
    EXPECT_EQ(info.lastWriteTime, kEpochDifference + static_cast<std::int64_t>(expected) * 10000000);
}

TEST_F(ArchiveLibraryTest, TopFoldersAreTheFirstComponentsOfNestedItems) {
    WriteRawZip(Work(L"t.zip"), {{"Tool/a.exe", "a"}, {"Tool/sub/b.dll", "b"}, {"x.txt", "x"}, {"Other/c", "c"}});
    std::vector<std::wstring> top;
    ASSERT_EQ(Extract(Work(L"t.zip"), top), 0) << LogText();
    EXPECT_THAT(top, ElementsAre(L"Tool", L"Other"));
}

TEST_F(ArchiveLibraryTest, ListOnlyEndsAtTheFirstTopFolderAndWritesNothing) {
    WriteRawZip(Work(L"t.zip"), {{"first.txt", "f"}, {"Tool/a.exe", "a"}, {"Tool/sub/b.dll", "b"}, {"Other/c", "c"}});
    auto before = FilesOnDriveC();
    std::vector<std::wstring> top;
    EXPECT_EQ(Extract(Work(L"t.zip"), top, true), 0) << LogText();
    EXPECT_THAT(top, ElementsAre(L"Tool"));
    EXPECT_EQ(FilesOnDriveC().size(), before.size());
    EXPECT_FALSE(Exists(Work(L"out\\Tool")));
}

TEST_F(ArchiveLibraryTest, ReplacesAnExistingLongerFile) {
    WriteRawZip(Work(L"r.zip"), {{"data.bin", "new"}});
    WriteFile(Work(L"out\\data.bin"), std::string(50000, 'o'));
    std::vector<std::wstring> top;
    ASSERT_EQ(Extract(Work(L"r.zip"), top), 0) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\data.bin")), "new");
    EXPECT_THAT(top, IsEmpty());
}

// ---- failures --------------------------------------------------------------------------------

TEST_F(ArchiveLibraryTest, AnEncryptedItemFailsWithoutAPassword) {
    WriteFile(Work(L"src\\secret.txt"), std::string(5000, 's'));
    RunZip(Work(L"src"), "-P password ../encrypted.zip secret.txt");
    std::vector<std::wstring> top;
    int result = Extract(Work(L"encrypted.zip"), top);
    EXPECT_NE(result, 0);
    EXPECT_NE(result, archive::kNotAnArchive);
    EXPECT_TRUE(LogHas(L"7zip Extract Error, ret:" + std::to_wstring(result - archive::kNotAnArchive))) << LogText();
    EXPECT_FALSE(Exists(Work(L"out\\secret.txt")));
}

TEST_F(ArchiveLibraryTest, AReadOnlyTargetThatCannotBeDeletedAborts) {
    WriteRawZip(Work(L"r.zip"), {{"locked.txt", "new"}, {"after.txt", "a"}});
    WriteFile(Work(L"out\\locked.txt"), "old");
    ASSERT_TRUE(platform::SetFileAttributes(Work(L"out\\locked.txt"), platform::FILE_ATTRIBUTE_READONLY));
    std::vector<std::wstring> top;
    EXPECT_EQ(Extract(Work(L"r.zip"), top), archive::kNotAnArchive + E_ABORT);
    EXPECT_TRUE(LogHas(L"7zip can not delete output file: C:\\work\\out\\locked.txt")) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\locked.txt")), "old");
    EXPECT_FALSE(Exists(Work(L"out\\after.txt")));
}

TEST_F(ArchiveLibraryTest, ADamagedItemFailsAndLeavesNoPartialFile) {
    std::string payload(40000, 'd');
    WriteRawZip(Work(L"d.zip"), {{"good.txt", "g"}, {"bad.bin", payload, false}});
    std::string bytes = ReadFile(Work(L"d.zip"));
    bytes[EntryDataOffset(bytes, "bad.bin") + 20000] ^= 1;
    WriteFile(Work(L"d.zip"), bytes);
    std::vector<std::wstring> top;
    EXPECT_EQ(Extract(Work(L"d.zip"), top), archive::kNotAnArchive + 3);
    EXPECT_TRUE(LogHas(L"7zip Error : CRC Failed")) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\good.txt")), "g");
    EXPECT_FALSE(Exists(Work(L"out\\bad.bin")));
}

TEST_F(ArchiveLibraryTest, ResultCodesOfFilesItCannotUse) {
    WriteFile(Work(L"text.zip"), "plain text that no zip handler accepts");
    std::vector<std::wstring> top;
    EXPECT_EQ(Extract(Work(L"text.zip"), top), archive::kNotAnArchive);
    EXPECT_TRUE(LogHas(L"7zip can not open file as archive : C:\\work\\text.zip")) << LogText();
    EXPECT_EQ(Extract(Work(L"absent.zip"), top), archive::kCannotOpenFile);
    EXPECT_TRUE(LogHas(L"7zip can not open archive file : C:\\work\\absent.zip")) << LogText();
}

TEST_F(ArchiveLibraryTest, AMissingLibraryOrOneWithoutCreateObjectGives70001) {
    WriteRawZip(Work(L"t.zip"), {{"a.txt", "a"}});
    for (const wchar_t* path : {L"/usr/lib/p7zip/absent.so", L"Z:\\usr\\lib\\p7zip\\absent.so",
                                L"C:\\work\\t.zip" /* not a library */}) {
        ClearLog();
        archive::SetArchiveLibraryPath(path);
        std::vector<std::wstring> top;
        EXPECT_EQ(Extract(Work(L"t.zip"), top), archive::kNoCreateObject) << platform::Utf8FromWide(path);
        EXPECT_TRUE(LogHas(L"7zip can not get CreateObject")) << LogText();
    }
    // A loadable library without the export: zlib.
    for (const char* zlib : {"/usr/lib/x86_64-linux-gnu/libz.so.1", "/lib/x86_64-linux-gnu/libz.so.1"}) {
        if (!std::filesystem::exists(zlib)) continue;
        archive::SetArchiveLibraryPath(platform::WideFromUtf8(zlib));
        std::vector<std::wstring> top;
        EXPECT_EQ(Extract(Work(L"t.zip"), top), archive::kNoCreateObject);
        break;
    }
}

// ---- items that would leave the destination ------------------------------------------------

class ArchiveLibraryTraversal : public ArchiveLibraryTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ArchiveLibraryTraversal, RefusesTheItemAndTouchesNothingOutside) {
    WriteRawZip(Work(L"evil.zip"), {{"inside.txt", "in"}, {GetParam(), "evil"}});
    ASSERT_TRUE(util::CreateDirectoryTree(Work(L"dest\\out")));
    auto before = FilesOnDriveC();
    std::vector<std::wstring> top;
    int result = archive::ExtractWithArchiveLibrary(Work(L"evil.zip"), Work(L"dest\\out"), top, false);
    auto after = FilesOnDriveC();
    // The library hands the raw name over; the refusal is ours.
    EXPECT_EQ(result, archive::kNotAnArchive + E_ABORT);
    EXPECT_TRUE(LogHas(L"7zip refused an item outside the destination: ")) << LogText();
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(ReadFile(Work(L"dest\\out\\inside.txt")), "in");
}

INSTANTIATE_TEST_SUITE_P(Names, ArchiveLibraryTraversal,
                         ::testing::Values("../evil.txt", "..\\evil.txt", "sub/../../evil.txt", "/evil.txt",
                                           "C:evil.txt", "C:/evil.txt"));

}  // namespace
}  // namespace archive_test
