// ExtractZip over archives written by minizip (raw entries), CreateZip and Debian's zip.
#include <gmock/gmock.h>

#include "archive/zip_archive.h"
#include "archive_fixture.h"
#include "platform/file.h"
#include "util/file_helpers.h"

namespace archive_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class ExtractZipTest : public ArchiveTest {
protected:
    // app/bin/tool.exe, app/lib/x.dll, readme.txt: two files under a top folder and one on top.
    std::wstring PackageWithTopFolder() {
        std::wstring zip = Work(L"package.zip");
        WriteRawZip(zip, {{"app/bin/tool.exe", "tool"}, {"app/lib/x.dll", "dll"}, {"readme.txt", "read me"}});
        return zip;
    }
};

struct ListingCase {
    const char* label;
    std::wstring filter;
    bool withDestination;
    std::vector<std::wstring> listed;
    std::vector<std::wstring> written;  // relative to the destination
};

class ExtractZipListing : public ExtractZipTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ExtractZipListing, ListsAndExtractsWhatTheFilterSelects) {
    const ListingCase& c = GetParam();
    std::wstring zip = PackageWithTopFolder();
    std::vector<std::wstring> entries;
    std::wstring destination = c.withDestination ? Work(L"out") : L"";
    ASSERT_EQ(archive::ExtractZip(zip, destination, &entries, c.filter), 0) << LogText();
    EXPECT_THAT(entries, ElementsAreArray(c.listed));
    for (const auto& rel : c.written) EXPECT_TRUE(Exists(Work(L"out\\" + rel))) << rel;
    for (const auto& rel : {L"app\\bin\\tool.exe", L"app\\lib\\x.dll", L"readme.txt"}) {
        bool expected = std::find(c.written.begin(), c.written.end(), rel) != c.written.end();
        EXPECT_EQ(Exists(Work(L"out\\") + rel), expected) << rel;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractZipListing,
    ::testing::Values(
        ListingCase{"StarListsEveryEntryAndWritesNothing", L"*", true,
                    {L"app\\bin\\tool.exe", L"app\\lib\\x.dll", L"readme.txt"}, {}},
        ListingCase{"NoFilterListsTopLevelFoldersAndFiles", L"", false, {L"app\\", L"readme.txt"}, {}},
        ListingCase{"NoFilterWithDestinationListsAndExtractsAll", L"", true, {L"app\\", L"readme.txt"},
                    {L"app\\bin\\tool.exe", L"app\\lib\\x.dll", L"readme.txt"}},
        ListingCase{"SuffixFilterIgnoresCase", L".DLL", true, {L"app\\lib\\x.dll"}, {L"app\\lib\\x.dll"}},
        ListingCase{"SuffixFilterWithoutDestinationOnlyLists", L"tool.exe", false, {L"app\\bin\\tool.exe"}, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ExtractZipTest, ExtractsEveryEntryWithItsBytes) {
    std::wstring zip = PackageWithTopFolder();
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out")), 0) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\app\\bin\\tool.exe")), "tool");
    EXPECT_EQ(ReadFile(Work(L"out\\app\\lib\\x.dll")), "dll");
    EXPECT_EQ(ReadFile(Work(L"out\\readme.txt")), "read me");
}

TEST_F(ExtractZipTest, TopFolderReplacementRenamesTheFirstComponent) {
    std::wstring zip = Work(L"old.zip");
    WriteRawZip(zip, {{"Old/bin/x.dll", "x"}, {"Old/", ""}, {"top.txt", "t"}});
    std::vector<std::wstring> entries;
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out"), &entries, L"", L"New"), 0) << LogText();
    EXPECT_THAT(entries, ElementsAre(L"New\\", L"top.txt"));
    EXPECT_EQ(ReadFile(Work(L"out\\New\\bin\\x.dll")), "x");
    EXPECT_EQ(ReadFile(Work(L"out\\top.txt")), "t");
    EXPECT_FALSE(Exists(Work(L"out\\Old")));
}

TEST_F(ExtractZipTest, ReplacingALongerFileLeavesExactlyTheEntryBytes) {
    std::wstring zip = Work(L"short.zip");
    WriteRawZip(zip, {{"data.bin", "new"}});
    WriteFile(Work(L"out\\data.bin"), std::string(100000, 'o'));
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out")), 0) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\data.bin")), "new");
}

TEST_F(ExtractZipTest, StreamsEntriesLargerThanOneBlock) {
    std::string big;
    for (unsigned i = 0; i < 300000; ++i) big += static_cast<char>('a' + (i * 7919u) % 26);
    std::wstring zip = Work(L"big.zip");
    WriteRawZip(zip, {{"big.bin", big}, {"stored.bin", big, false}});
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out")), 0) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\big.bin")), big);
    EXPECT_EQ(ReadFile(Work(L"out\\stored.bin")), big);
}

TEST_F(ExtractZipTest, ArchivesOfDebianZipWithFolderEntriesAndUtf8Names) {
    WriteFile(Work(L"src\\Données\\é.txt"), "accent");
    WriteFile(Work(L"src\\Données\\deep\\x.bin"), std::string(20000, 'x'));
    WriteFile(Work(L"src\\top.txt"), "top");
    ASSERT_TRUE(util::CreateDirectoryTree(Work(L"src\\empty")));
    RunZip(Work(L"src"), "-r ../debian.zip Données top.txt empty");
    std::vector<std::wstring> entries;
    ASSERT_EQ(archive::ExtractZip(Work(L"debian.zip"), Work(L"out"), &entries), 0) << LogText();
    EXPECT_THAT(entries, ElementsAre(L"Données\\", L"top.txt", L"empty\\"));
    EXPECT_EQ(ReadFile(Work(L"out\\Données\\é.txt")), "accent");
    EXPECT_EQ(ReadFile(Work(L"out\\Données\\deep\\x.bin")), std::string(20000, 'x'));
    EXPECT_EQ(ReadFile(Work(L"out\\top.txt")), "top");
    EXPECT_EQ(platform::GetFileAttributes(Work(L"out\\empty")) & platform::FILE_ATTRIBUTE_DIRECTORY,
              platform::FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(ExtractZipTest, NamesAreCutAt255Bytes) {
    std::string longName(300, 'n');
    std::wstring zip = Work(L"long.zip");
    WriteRawZip(zip, {{longName, "x"}});
    std::vector<std::wstring> entries;
    ASSERT_EQ(archive::ExtractZip(zip, L"", &entries, L"*"), 0);
    EXPECT_THAT(entries, ElementsAre(std::wstring(255, L'n')));
}

TEST_F(ExtractZipTest, MissingArchiveFailsWithItsPathInTheLog) {
    EXPECT_EQ(archive::ExtractZip(Work(L"absent.zip"), Work(L"out")), -1);
    EXPECT_TRUE(LogHas(L"cannot open zip file C:\\work\\absent.zip")) << LogText();
}

TEST_F(ExtractZipTest, AFileThatIsNoZipCannotBeOpened) {
    WriteFile(Work(L"text.zip"), "this is plain text, not an archive");
    EXPECT_EQ(archive::ExtractZip(Work(L"text.zip"), Work(L"out")), -1);
    EXPECT_TRUE(LogHas(L"cannot open zip file C:\\work\\text.zip")) << LogText();
}

TEST_F(ExtractZipTest, AReadOnlyTargetFailsCreateFile) {
    std::wstring zip = Work(L"ro.zip");
    WriteRawZip(zip, {{"locked.txt", "new"}});
    WriteFile(Work(L"out\\locked.txt"), "old");
    ASSERT_TRUE(platform::SetFileAttributes(Work(L"out\\locked.txt"), platform::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(archive::ExtractZip(zip, Work(L"out"), nullptr, L"", L"Top"), -1);
    EXPECT_TRUE(LogHas(L"CreateFile C:\\work\\out\\locked.txt failed, LastError: 5 ")) << LogText();
    EXPECT_TRUE(LogHas(L"decompress folder entry failed"));
    EXPECT_TRUE(LogHas(L"changedTopfile: Top "));
    EXPECT_EQ(ReadFile(Work(L"out\\locked.txt")), "old");
}

TEST_F(ExtractZipTest, AFolderThatCannotBeCreatedFails) {
    std::wstring zip = Work(L"blocked.zip");
    WriteRawZip(zip, {{"blocker/inner.txt", "x"}});
    WriteFile(Work(L"out\\blocker"), "a file where a folder should be");
    EXPECT_EQ(archive::ExtractZip(zip, Work(L"out")), -1);
    EXPECT_TRUE(LogHas(L"isFolder false, N_CreateFolder C:\\work\\out\\blocker failed, LastError: ")) << LogText();
}

// ---- damaged entries ----------------------------------------------------------------------

struct DamageCase {
    const char* label;
    bool deflate;
    int expected;  // 0: any negative code other than -1
};

class ExtractZipDamage : public ExtractZipTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ExtractZipDamage, EndsWithTheReaderCodeAndRemovesThePartialFile) {
    std::string payload;
    for (int i = 0; i < 50000; ++i) payload += static_cast<char>('A' + (i * 31) % 50);
    std::wstring zip = Work(L"damaged.zip");
    WriteRawZip(zip, {{"good.txt", "fine"}, {"bad.bin", payload, GetParam().deflate}, {"after.txt", "later"}});
    std::string bytes = ReadFile(zip);
    std::size_t data = EntryDataOffset(bytes, "bad.bin");
    for (std::size_t i = 100; i < 140; ++i) bytes[data + i] = static_cast<char>(bytes[data + i] ^ 0x5A);
    WriteFile(zip, bytes);

    int result = archive::ExtractZip(zip, Work(L"out"));
    if (GetParam().expected) {
        EXPECT_EQ(result, GetParam().expected);
    }
    EXPECT_LT(result, 0);
    EXPECT_NE(result, -1);
    EXPECT_TRUE(LogHas(L"decompress folder entry failed")) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\good.txt")), "fine");
    EXPECT_FALSE(Exists(Work(L"out\\bad.bin")));
    EXPECT_FALSE(Exists(Work(L"out\\after.txt")));
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtractZipDamage,
                         ::testing::Values(DamageCase{"StoredEntryFailsItsCrc", false, -105},
                                           DamageCase{"DeflatedEntryFailsToInflate", true, 0}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ExtractZipTest, AnEncryptedEntryIsNotWrittenWithoutAPassword) {
    WriteFile(Work(L"src\\secret.txt"), std::string(5000, 's'));
    RunZip(Work(L"src"), "-P password ../encrypted.zip secret.txt");
    int result = archive::ExtractZip(Work(L"encrypted.zip"), Work(L"out"));
    EXPECT_LT(result, 0);
    EXPECT_NE(result, -1);
    EXPECT_FALSE(Exists(Work(L"out\\secret.txt")));
}

TEST_F(ExtractZipTest, ADirectoryPromisingMoreEntriesThanItHoldsFails) {
    std::wstring zip = Work(L"short-directory.zip");
    WriteRawZip(zip, {{"one.txt", "1"}, {"two.txt", "2"}});
    std::string bytes = ReadFile(zip);
    std::size_t end = bytes.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    bytes[end + 8] = 3;   // entries on this disk
    bytes[end + 10] = 3;  // entries in total
    WriteFile(zip, bytes);
    EXPECT_LT(archive::ExtractZip(zip, Work(L"out")), 0);
    EXPECT_TRUE(LogHas(L"decompress folder entry failed,entry number:3")) << LogText();
}

// ---- entries that would leave the destination -------------------------------------------------

class ExtractZipTraversal : public ExtractZipTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExtractZipTraversal, RefusesTheEntryAndTouchesNothingOutside) {
    std::wstring zip = Work(L"evil.zip");
    WriteRawZip(zip, {{"inside.txt", "in"}, {GetParam(), "evil"}});
    ASSERT_TRUE(util::CreateDirectoryTree(Work(L"dest\\out")));
    auto before = FilesOnDriveC();
    EXPECT_EQ(archive::ExtractZip(zip, Work(L"dest\\out")), -1);
    EXPECT_TRUE(LogHas(L"zip entry outside the destination refused: ")) << LogText();
    EXPECT_TRUE(LogHas(L"decompress folder entry failed"));
    auto after = FilesOnDriveC();
    // The only new file is the harmless entry before the bad one.
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(ReadFile(Work(L"dest\\out\\inside.txt")), "in");
}

INSTANTIATE_TEST_SUITE_P(Names, ExtractZipTraversal,
                         ::testing::Values("../evil.txt", "..\\evil.txt", "sub/../../evil.txt", "/evil.txt",
                                           "\\evil.txt", "C:evil.txt", "C:/evil.txt", "sub/../../../../x/evil.txt"));

TEST_F(ExtractZipTest, DotDotThatStaysInsideIsAllowed) {
    std::wstring zip = Work(L"inside.zip");
    WriteRawZip(zip, {{"a/../b.txt", "b"}, {"./c.txt", "c"}});
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out")), 0) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\b.txt")), "b");
    EXPECT_EQ(ReadFile(Work(L"out\\c.txt")), "c");
}

TEST_F(ExtractZipTest, ListingDoesNotJudgeNames) {
    std::wstring zip = Work(L"evil.zip");
    WriteRawZip(zip, {{"../evil.txt", "evil"}});
    std::vector<std::wstring> entries;
    EXPECT_EQ(archive::ExtractZip(zip, L"", &entries, L"*"), 0);
    EXPECT_THAT(entries, ElementsAre(L"..\\evil.txt"));
}

}  // namespace
}  // namespace archive_test
