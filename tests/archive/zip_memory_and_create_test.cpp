// ReadFirstZipEntry over archives in memory, and CreateZip read back by ExtractZip and Debian's unzip.
#include <gmock/gmock.h>

#include <cstdlib>
#include <ctime>

#include <unzip.h>

#include "archive/zip_archive.h"
#include "archive/zip_file_functions.h"
#include "archive_fixture.h"
#include "platform/file.h"
#include "platform/file_times.h"

namespace archive_test {
namespace {

using ::testing::ElementsAre;

void PutU32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class ReadFirstZipEntryTest : public ArchiveTest {
protected:
    std::string Zip(const std::vector<RawEntry>& entries) {
        WriteRawZip(Work(L"memory.zip"), entries);
        return ReadFile(Work(L"memory.zip"));
    }
};

TEST_F(ReadFirstZipEntryTest, ReturnsTheFirstEntryBytes) {
    std::string licence = "Licence terms\r\n" + std::string(40000, 'L');
    struct Case {
        std::vector<RawEntry> entries;
        std::string expected;
    } cases[] = {
        {{{"licence.txt", licence}, {"second.txt", "second"}}, licence},
        {{{"stored.txt", licence, false}}, licence},
        {{{"empty.txt", ""}, {"second.txt", "x"}}, ""},
    };
    for (const Case& c : cases) {
        std::string zip = Zip(c.entries);
        auto bytes = archive::ReadFirstZipEntry(zip.data(), zip.size());
        ASSERT_TRUE(bytes.has_value()) << c.entries.front().name << "\n" << LogText();
        EXPECT_EQ(*bytes, c.expected) << c.entries.front().name;
    }
}

TEST_F(ReadFirstZipEntryTest, GivesNothingForWhatCannotBeRead) {
    std::string good = Zip({{"licence.txt", std::string(5000, 'x'), false}});
    std::string crc = good;
    crc[EntryDataOffset(crc, "licence.txt") + 10] ^= 1;
    std::string truncated = good.substr(0, good.size() / 2);
    std::string empty = Zip({});
    const std::string cases[] = {"", "not a zip at all", crc, truncated, empty};
    for (const std::string& bytes : cases) EXPECT_FALSE(archive::ReadFirstZipEntry(bytes.data(), bytes.size()));
    EXPECT_FALSE(archive::ReadFirstZipEntry(nullptr, 10));
}

TEST_F(ReadFirstZipEntryTest, RefusesAnEntryDeclaringMoreThan64MiB) {
    std::string zip = Zip({{"licence.txt", "small"}});
    std::size_t central = CentralHeaderOffset(zip, "licence.txt");
    for (std::uint32_t declared : {64u * 1024 * 1024 + 1, 0xFFFFFFF0u}) {
        std::string damaged = zip;
        PutU32(damaged, central + 24, declared);  // uncompressed size
        EXPECT_FALSE(archive::ReadFirstZipEntry(damaged.data(), damaged.size())) << declared;
        EXPECT_TRUE(LogHas(L"first zip entry too large: " + std::to_wstring(declared) + L" bytes")) << LogText();
    }
}

class CreateZipTest : public ArchiveTest {};

TEST_F(CreateZipTest, PacksFilesUnderTheirNamesForBothReaders) {
    std::string big;
    for (int i = 0; i < 70000; ++i) big += static_cast<char>('a' + (i * 13) % 26);
    WriteFile(Work(L"logs\\run.Log"), "log text");
    WriteFile(Work(L"other\\big.bin"), big);
    WriteFile(Work(L"other\\empty.txt"), "");
    std::wstring zip = Work(L"report.zip");
    ASSERT_EQ(archive::CreateZip(zip, {Work(L"logs\\run.Log"), Work(L"other\\big.bin"), Work(L"other\\empty.txt")}), 0);

    std::vector<std::wstring> names;
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out"), &names, L"*"), 0);
    EXPECT_THAT(names, ElementsAre(L"run.Log", L"big.bin", L"empty.txt"));
    ASSERT_EQ(archive::ExtractZip(zip, Work(L"out")), 0) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\big.bin")), big);
    EXPECT_EQ(ReadFile(Work(L"out\\empty.txt")), "");

    std::string test = "unzip -tq '" + Host(zip).string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(test.c_str()), 0) << "Debian's unzip rejects the archive";
    std::string unpack = "cd '" + Host(Work(L"")).string() + "' && mkdir debian && cd debian && unzip -q ../report.zip";
    ASSERT_EQ(std::system(unpack.c_str()), 0);
    EXPECT_EQ(ReadFile(Work(L"debian\\big.bin")), big);
    EXPECT_EQ(ReadFile(Work(L"debian\\run.Log")), "log text");
}

TEST_F(CreateZipTest, EntryTimesAreTheLocalLastWriteTimes) {
    WriteFile(Work(L"dated.txt"), "d");
    {
        platform::File f = platform::File::Open(Work(L"dated.txt"), platform::GENERIC_WRITE, 0, platform::OPEN_EXISTING);
        ASSERT_TRUE(f);
        // 2021-03-04 05:06:08 UTC
        platform::FileTime t = 116444736000000000LL + 1614834368LL * 10000000;
        ASSERT_TRUE(platform::SetFileTime(f, nullptr, nullptr, &t));
    }
    std::wstring zip = Work(L"dated.zip");
    ASSERT_EQ(archive::CreateZip(zip, {Work(L"dated.txt"), Work(L"missing.txt")}), 0);

    zlib_filefunc64_def functions = archive::PlatformFileFunctions();
    unzFile uf = unzOpen2_64(zip.c_str(), &functions);
    ASSERT_NE(uf, nullptr);
    unz_file_info64 info{};
    ASSERT_EQ(unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0), UNZ_OK);
    std::time_t seconds = 1614834368;
    std::tm local{};
    localtime_r(&seconds, &local);
    EXPECT_EQ(info.tmu_date.tm_year, static_cast<uInt>(local.tm_year + 1900));
    EXPECT_EQ(info.tmu_date.tm_mon, static_cast<uInt>(local.tm_mon));
    EXPECT_EQ(info.tmu_date.tm_mday, static_cast<uInt>(local.tm_mday));
    EXPECT_EQ(info.tmu_date.tm_hour, static_cast<uInt>(local.tm_hour));
    EXPECT_EQ(info.tmu_date.tm_min, static_cast<uInt>(local.tm_min));
    EXPECT_EQ(info.tmu_date.tm_sec, static_cast<uInt>(local.tm_sec));
    // A file that cannot be opened becomes an empty entry without a time.
    ASSERT_EQ(unzGoToNextFile(uf), UNZ_OK);
    ASSERT_EQ(unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0), UNZ_OK);
    EXPECT_EQ(info.uncompressed_size, 0u);
    EXPECT_EQ(info.tmu_date.tm_year, 1980u);
    unzClose(uf);
}

TEST_F(CreateZipTest, FailsWhenTheArchiveCannotBeCreated) {
    WriteFile(Work(L"a.txt"), "a");
    EXPECT_EQ(archive::CreateZip(Work(L"no\\such\\folder\\r.zip"), {Work(L"a.txt")}), -1);
    EXPECT_FALSE(Exists(Work(L"no")));
}

}  // namespace
}  // namespace archive_test
