// Fixture of the archive tests: a fresh machine, the log captured, and archive builders.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "support/temp_machine.h"

namespace archive_test {

// One entry of a hand-made archive: any name, stored or deflated, optionally with a mode.
struct RawEntry {
    std::string name;  // UTF-8, "/" separated, as written into the archive
    std::string data;
    bool deflate = true;
    std::uint32_t externalAttributes = 0;  // Windows attributes (the archive says "made by MS-DOS")
};

class ArchiveTest : public velmo_test::MachineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Windows path under the test's work folder C:\work.
    static std::wstring Work(const std::wstring& relative);
    std::filesystem::path Host(const std::wstring& windowsPath) const { return machine_.Host(windowsPath); }

    void WriteFile(const std::wstring& windowsPath, const std::string& bytes);
    std::string ReadFile(const std::wstring& windowsPath);
    bool Exists(const std::wstring& windowsPath);

    // An archive written by minizip with exactly the given entries (names unchecked).
    void WriteRawZip(const std::wstring& windowsPath, const std::vector<RawEntry>& entries);
    // Runs Debian's zip inside the host folder of `folder`: `zip <args>`; fails the test on error.
    void RunZip(const std::wstring& folder, const std::string& args);

    bool LogHas(const std::wstring& text);
    std::wstring LogText();
    void ClearLog();

    // Every regular file under the machine's drive C: with its host path.
    std::vector<std::filesystem::path> FilesOnDriveC() const;

private:
    std::mutex logMutex_;
    std::vector<std::wstring> log_;
};

// Byte offsets of the named entry's central-directory header in a zip file's bytes.
std::size_t CentralHeaderOffset(const std::string& zip, const std::string& name);
// Byte offset of the named entry's data in a zip file's bytes (stored or compressed).
std::size_t EntryDataOffset(const std::string& zip, const std::string& name);

}  // namespace archive_test
