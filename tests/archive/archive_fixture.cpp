#include "archive_fixture.h"

#include <cstdlib>
#include <cstring>

#include <zip.h>

#include "archive/zip_file_functions.h"
#include "platform/file.h"
#include "util/file_helpers.h"
#include "util/log.h"

namespace archive_test {

void ArchiveTest::SetUp() {
    util::SetDebuggerOutput([this](std::wstring_view line) {
        std::lock_guard lock(logMutex_);
        log_.emplace_back(line);
    });
    // Callers create the destination before they extract into it.
    ASSERT_TRUE(util::CreateDirectoryTree(Work(L"out")));
}

void ArchiveTest::TearDown() { util::SetDebuggerOutput(nullptr); }

std::wstring ArchiveTest::Work(const std::wstring& relative) {
    return relative.empty() ? L"C:\\work" : L"C:\\work\\" + relative;
}

void ArchiveTest::WriteFile(const std::wstring& windowsPath, const std::string& bytes) {
    util::PathParts parts;
    ASSERT_TRUE(util::SplitPath(windowsPath, parts));
    ASSERT_TRUE(util::CreateDirectoryTree(parts.folder));
    ASSERT_TRUE(platform::WriteWholeFile(windowsPath, bytes));
}

std::string ArchiveTest::ReadFile(const std::wstring& windowsPath) {
    std::string bytes;
    EXPECT_TRUE(platform::ReadWholeFile(windowsPath, bytes)) << "cannot read " << Host(windowsPath);
    return bytes;
}

bool ArchiveTest::Exists(const std::wstring& windowsPath) {
    return platform::GetFileAttributes(windowsPath) != platform::INVALID_FILE_ATTRIBUTES;
}

void ArchiveTest::WriteRawZip(const std::wstring& windowsPath, const std::vector<RawEntry>& entries) {
    zlib_filefunc64_def functions = archive::PlatformFileFunctions();
    zipFile zip = zipOpen2_64(windowsPath.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
    ASSERT_NE(zip, nullptr);
    for (const RawEntry& e : entries) {
        zip_fileinfo info{};
        info.external_fa = e.externalAttributes;
        info.dosDate = (41u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u;  // 2021-03-04 05:06:08 local
        ASSERT_EQ(zipOpenNewFileInZip(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                      e.deflate ? Z_DEFLATED : 0, e.deflate ? Z_DEFAULT_COMPRESSION : 0),
                  ZIP_OK);
        if (!e.data.empty()) {
            ASSERT_EQ(zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())), ZIP_OK);
        }
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

void ArchiveTest::RunZip(const std::wstring& folder, const std::string& args) {
    std::string command = "cd '" + Host(folder).string() + "' && zip -q -X " + args + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

bool ArchiveTest::LogHas(const std::wstring& text) { return LogText().find(text) != std::wstring::npos; }

std::wstring ArchiveTest::LogText() {
    std::lock_guard lock(logMutex_);
    std::wstring all;
    for (const auto& line : log_) all += line + L"\n";
    return all;
}

void ArchiveTest::ClearLog() {
    std::lock_guard lock(logMutex_);
    log_.clear();
}

std::vector<std::filesystem::path> ArchiveTest::FilesOnDriveC() const {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(machine_.Host(L"C:\\")))
        if (e.is_regular_file()) files.push_back(e.path());
    return files;
}

namespace {
std::uint16_t U16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8));
}
std::uint32_t U32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(U16(s, at)) | (static_cast<std::uint32_t>(U16(s, at + 2)) << 16);
}
}  // namespace

std::size_t CentralHeaderOffset(const std::string& zip, const std::string& name) {
    for (std::size_t at = zip.find("PK\x01\x02"); at != std::string::npos; at = zip.find("PK\x01\x02", at + 4)) {
        std::uint16_t nameLength = U16(zip, at + 28);
        if (zip.compare(at + 46, nameLength, name) == 0) return at;
    }
    ADD_FAILURE() << "no central header for " << name;
    return 0;
}

std::size_t EntryDataOffset(const std::string& zip, const std::string& name) {
    std::size_t central = CentralHeaderOffset(zip, name);
    std::size_t local = U32(zip, central + 42);
    return local + 30 + U16(zip, local + 26) + U16(zip, local + 28);
}

}  // namespace archive_test
