#include "platform/version_info.h"

#include <fstream>
#include <random>

#include "platform/paths.h"
#include "platform/text.h"
#include "support/temp_machine.h"

namespace {

namespace fs = std::filesystem;

platform::VersionBlockSpec SampleSpec() {
    platform::VersionBlockSpec spec;
    spec.fileVersion = {3, 14, 159, 2653};
    spec.productVersion = {3, 14, 0, 0};
    spec.strings = {{L"CompanyName", L"Velmo AG"},
                    {L"FileDescription", L"Hearthview Launcher \u00e9\U0001F600"},
                    {L"ProductVersion", L"3, 14"},
                    {L"Comments", L""}};
    spec.translations = {{0x0409, 0x04B0}, {0x0407, 0x04E4}};
    return spec;
}

std::wstring Company(const platform::VersionInfo& info) {
    std::wstring value;
    info.QueryString(L"040904b0", L"CompanyName", value);
    return value;
}

TEST(VersionBlockTest, BuiltBlockReadsBackCompletely) {
    platform::VersionInfo info;
    ASSERT_TRUE(platform::ParseVersionBlock(platform::BuildVersionInfoBlock(SampleSpec()), info));
    EXPECT_EQ(info.FileVersion(), (platform::VersionQuad{3, 14, 159, 2653}));
    EXPECT_EQ(info.ProductVersion(), (platform::VersionQuad{3, 14, 0, 0}));
    EXPECT_EQ(info.FileVersionText(), L"3.14.159.2653");
    EXPECT_EQ(info.fixed.signature, 0xFEEF04BDu);
    using Tr = std::pair<std::uint16_t, std::uint16_t>;
    EXPECT_EQ(info.translations, (std::vector<Tr>{{0x0409, 0x04B0}, {0x0407, 0x04E4}}));
    ASSERT_EQ(info.stringTables.size(), 1u);
    EXPECT_EQ(info.stringTables[0].key, L"040904B0");
    EXPECT_EQ(info.stringTables[0].values, SampleSpec().strings);  // order and text kept

    std::wstring value;
    EXPECT_TRUE(info.QueryValue(L"\\StringFileInfo\\040904b0\\companyname", value));
    EXPECT_EQ(value, L"Velmo AG");
    EXPECT_FALSE(info.QueryValue(L"\\StringFileInfo\\040704b0\\CompanyName", value));
    EXPECT_FALSE(info.QueryString(L"040904B0", L"LegalCopyright", value));
}

TEST(VersionBlockTest, StringValuesSitWhereARawScanExpectsThem) {
    // Callers find "Compan" in the raw bytes and read the value 26 bytes after it: that holds only
    // when every String is 32-bit aligned, as Windows lays them out.
    std::string block = platform::BuildVersionInfoBlock(SampleSpec());
    EXPECT_EQ(block.size() % 2, 0u);
    std::string key = platform::Utf16LeFromWide(L"Compan");
    std::size_t at = block.find(key);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(platform::WideFromUtf16Le(block.substr(at + 26, 16)), L"Velmo AG");
    // wLength of the root is the block's size.
    EXPECT_EQ(static_cast<unsigned char>(block[0]) | (static_cast<unsigned char>(block[1]) << 8), block.size());
}

class VersionFileTest : public velmo_test::MachineTest {
protected:
    std::wstring Put(const std::wstring& windowsPath, const std::string& bytes) {
        fs::path host = machine_.Host(windowsPath);
        fs::create_directories(host.parent_path());
        std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
        return windowsPath;
    }
};

TEST_F(VersionFileTest, ReadsPeImagesOfBothWidths) {
    for (bool pe32Plus : {false, true}) {
        platform::PeSpec pe;
        pe.pe32Plus = pe32Plus;
        pe.language = pe32Plus ? 0x0407 : 0x0409;
        std::string image = platform::BuildPeWithVersion(platform::BuildVersionInfoBlock(SampleSpec()), pe);
        EXPECT_EQ(image.substr(0, 2), "MZ");
        Put(L"C:\\Fixtures\\app.exe", image);
        platform::VersionInfo info;
        ASSERT_TRUE(platform::ReadVersionInfo(L"c:\\fixtures\\APP.EXE", info)) << pe32Plus;
        EXPECT_EQ(info.FileVersionText(), L"3.14.159.2653");
        EXPECT_EQ(Company(info), L"Velmo AG");
    }
}

TEST_F(VersionFileTest, FindsABlockEmbeddedAnywhereInAnyFile) {
    std::mt19937 random(7);
    std::string noise(4001, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    // A decoy: the key without the fixed part after it is not a block.
    std::string decoy = std::string(6, '\x10') + platform::Utf16LeFromWide(L"VS_VERSION_INFO") + std::string(2, '\0') +
                        std::string(64, '\x01');
    std::string block = platform::BuildVersionInfoBlock(SampleSpec());
    Put(L"C:\\Fixtures\\tool", noise + decoy + noise.substr(0, 333) + block + noise);
    platform::VersionInfo info;
    ASSERT_TRUE(platform::ReadVersionInfo(L"C:\\Fixtures\\tool", info));
    EXPECT_EQ(info.FileVersionText(), L"3.14.159.2653");
    EXPECT_EQ(Company(info), L"Velmo AG");
    EXPECT_EQ(info.block, block);
}

TEST_F(VersionFileTest, FilesWithoutABlockReportNoVersion) {
    platform::VersionInfo info;
    Put(L"C:\\Fixtures\\readme.txt", "no version here\n");
    EXPECT_FALSE(platform::ReadVersionInfo(L"C:\\Fixtures\\readme.txt", info));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_RESOURCE_TYPE_NOT_FOUND);
    Put(L"C:\\Fixtures\\empty.exe", "");
    EXPECT_FALSE(platform::ReadVersionInfo(L"C:\\Fixtures\\empty.exe", info));
    EXPECT_FALSE(platform::ReadVersionInfo(L"C:\\Fixtures\\missing.exe", info));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Parsing must stay inside the data whatever the file says (run under ASan to see it).
TEST(VersionParseTest, MalformedImagesNeverReadOutsideTheirBytes) {
    const std::string block = platform::BuildVersionInfoBlock(SampleSpec());
    const std::string image = platform::BuildPeWithVersion(block);
    auto probe = [](const std::string& bytes) {
        std::string_view found;
        platform::VersionInfo info;
        if (platform::FindVersionBlock(bytes, found)) platform::ParseVersionBlock(found, info);
        platform::ParseVersionBlock(bytes, info);
    };
    // Every truncation of the image and of the bare block.
    for (std::size_t n = 0; n <= image.size(); n += 3) probe(image.substr(0, n));
    for (std::size_t n = 0; n <= block.size(); ++n) probe(block.substr(0, n));

    // Hostile header and directory values: offsets and counts far outside the file, a directory
    // entry pointing at itself, a resource larger than the file.
    const std::uint32_t lfanew = 0x40, optional = lfanew + 24, section = optional + 224, rsrc = 0x200;
    const std::vector<std::pair<std::size_t, std::uint32_t>> patches = {
        {0x3C, 0xFFFFFFF0u},                 // e_lfanew
        {lfanew + 6, 0xFFFFu},               // section count (16 bits, with the next field)
        {lfanew + 20, 0xFFFFu},              // optional header size
        {optional + 92, 0xFFFFFFFFu},        // directory count
        {optional + 96 + 16, 0xFFFFFFF0u},   // resource RVA
        {section + 16, 0xFFFFFFF0u},         // raw size
        {section + 20, 0xFFFFFFF0u},         // raw pointer
        {section + 12, 0x7FFFFFFFu},         // virtual address
        {rsrc + 12, 0xFFFFFFFFu},            // named and id entry counts
        {rsrc + 20, 0x80000000u},            // type entry points at the root itself
        {rsrc + 0x18 + 20, 0x80000018u},     // name entry points at its own directory
        {rsrc + 0x48, 0xFFFFFFF0u},          // data RVA
        {rsrc + 0x4C, 0x7FFFFFFFu},          // data size
        {rsrc + 0x58, 0x0000FFFFu},          // block wLength far beyond the data
        {rsrc + 0x58 + 40, 0x12345678u},     // fixed-info signature
    };
    for (const auto& [at, value] : patches) {
        std::string bad = image;
        PutLe32(bad, at, value);
        probe(bad);
        probe(bad.substr(0, rsrc + 0x60));
    }

    // Random damage, reproducible.
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string bad = image;
        int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) bad[random() % bad.size()] = static_cast<char>(random());
        probe(bad);
    }

    // An intact image still reads after all that.
    std::string_view found;
    platform::VersionInfo info;
    ASSERT_TRUE(platform::FindVersionBlock(image, found));
    ASSERT_TRUE(platform::ParseVersionBlock(found, info));
    EXPECT_EQ(Company(info), L"Velmo AG");
}

TEST(InstallerVersionTest, BuiltInstallerCarriesItsVersionBlock) {
    platform::VersionInfo info;
    ASSERT_TRUE(platform::ReadVersionInfoFromHostFile(velmo_test::BinaryPath("VelmoInstaller"), info));
    EXPECT_EQ(info.FileVersionText(), L"2.0.1.50");
    EXPECT_EQ(info.ProductVersion(), (platform::VersionQuad{2, 0, 1, 50}));
    std::wstring value;
    EXPECT_TRUE(info.QueryString(L"040904b0", L"CompanyName", value));
    EXPECT_EQ(value, L"Velmo AG");
    EXPECT_TRUE(info.QueryString(L"040904b0", L"ProductVersion", value));
    EXPECT_EQ(value, L"2.0.1.50");
    EXPECT_TRUE(info.QueryString(L"040904b0", L"ProductName", value));
    EXPECT_EQ(value, L"Velmo Installer");
    using Tr = std::pair<std::uint16_t, std::uint16_t>;
    EXPECT_EQ(info.translations, (std::vector<Tr>{{0x0409, 0x04B0}}));
}

}  // namespace
