#include "util/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"
#include "util/text_helpers.h"

namespace {

class LogTest : public velmo_test::MachineTest {
protected:
    void SetUp() override {
        util::SetDebuggerOutput([this](std::wstring_view l) {
            std::lock_guard lock(mutex_);
            debugger_.emplace_back(l);
        });
        ASSERT_TRUE(util::CreateDirectoryTree(folder_));
    }
    void TearDown() override {
        util::CloseLogFile();
        util::SetDebuggerOutput(nullptr);
    }
    std::wstring ReadLog() {
        std::string bytes;
        EXPECT_TRUE(platform::ReadWholeFile(util::LogPath(), bytes));
        return platform::WideFromUtf16Le(bytes);
    }
    std::string ReadLogBytes() {
        std::string bytes;
        EXPECT_TRUE(platform::ReadWholeFile(util::LogPath(), bytes));
        return bytes;
    }

    const std::wstring folder_ = L"C:\\Users\\Public\\Temp\\VelmoInstaller\\hearthview2024";
    std::mutex mutex_;
    std::vector<std::wstring> debugger_;
};

TEST_F(LogTest, LineFormatIsExactAndTheFileIsUtf16WithoutByteOrderMark) {
    ASSERT_TRUE(util::OpenLogFile(folder_));
    util::LogInfo(L"Installer version:%s, filePath:%s", L"2.0.1.50", L"C:\\x.exe");
    util::LogError(L"download failed\r\n");
    util::CloseLogFile();

    std::string bytes = ReadLogBytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_NE(bytes.substr(0, 2), std::string("\xFF\xFE", 2)) << "no byte-order mark";
    std::wstring text = platform::WideFromUtf16Le(bytes);
    EXPECT_EQ(platform::Utf16LeFromWide(text), bytes) << "UTF-16LE throughout";

    auto lines = util::SplitKeep(text, L"\n");
    // Command line, info, the error with its own "\r\n" before the line's "\n", nothing after.
    ASSERT_EQ(lines.size(), 5u) << platform::Utf8FromWide(text);
    const std::wstring tid = std::to_wstring(platform::GetCurrentThreadId());
    std::wregex head(L"^Stub Installer \\[" + tid + L"\\] \\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] ");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::regex_search(lines[i], head)) << platform::Utf8FromWide(lines[i]);
    EXPECT_TRUE(lines[0].ends_with(L"] Debug " + platform::GetCommandLine()));
    EXPECT_TRUE(lines[1].ends_with(L"] Info Installer version:2.0.1.50, filePath:C:\\x.exe"));
    EXPECT_TRUE(lines[2].ends_with(L"] Error download failed\r"));  // the message's own line end stays
    EXPECT_EQ(lines[3], L"");
    EXPECT_EQ(lines[4], L"");
    EXPECT_TRUE(text.ends_with(L"download failed\r\n\n"));
}

TEST_F(LogTest, PercentSignsInArgumentsAreWrittenUnchanged) {
    ASSERT_TRUE(util::OpenLogFile(folder_));
    util::LogDebug(L"%s", L"50% of %d and %s");
    util::LogDebug(nullptr);  // a null format writes nothing
    util::CloseLogFile();
    std::wstring text = ReadLog();
    EXPECT_NE(text.find(L"Debug 50% of %d and %s\n"), std::wstring::npos);
    EXPECT_EQ(util::SplitKeep(text, L"\n").size(), 3u);
}

TEST_F(LogTest, SecondLogOfTheSameMinuteGetsANumberedName) {
    ASSERT_TRUE(util::OpenLogFile(folder_));
    std::wstring first = util::LogPath();
    util::CloseLogFile();
    ASSERT_TRUE(util::OpenLogFile(folder_));
    std::wstring second = util::LogPath();
    util::CloseLogFile();
    ASSERT_TRUE(util::OpenLogFile(folder_));
    std::wstring third = util::LogPath();

    util::PathParts a, b, c;
    util::SplitPath(first, a);
    util::SplitPath(second, b);
    util::SplitPath(third, c);
    EXPECT_TRUE(a.name.ends_with(L".Log"));
    const std::wstring base = a.name.substr(0, a.name.size() - 4);
    if (b.name.starts_with(base)) {  // not across a minute boundary
        EXPECT_EQ(b.name, base + L"-1.Log");
        EXPECT_EQ(c.name, base + L"-2.Log");
    }
    EXPECT_EQ(a.folder, folder_);
    EXPECT_TRUE(util::MsiLogPath().ends_with(L"_ISM.Log"));
    EXPECT_FALSE(util::FileExists(util::MsiLogPath())) << "no file is created for the MSI log";
}

TEST_F(LogTest, AfterClosingLinesReachOnlyTheDebuggerOutput) {
    ASSERT_TRUE(util::OpenLogFile(folder_));
    util::LogInfo(L"before");
    util::CloseLogFile();
    util::LogInfo(L"after");
    std::wstring text = ReadLog();
    EXPECT_NE(text.find(L"Info before\n"), std::wstring::npos);
    EXPECT_EQ(text.find(L"after"), std::wstring::npos);
    ASSERT_FALSE(debugger_.empty());
    EXPECT_TRUE(debugger_.back().ends_with(L"Info after")) << "no line feed is added without a file";
    EXPECT_TRUE(debugger_[debugger_.size() - 2].ends_with(L"Info before\n"));
}

TEST_F(LogTest, ALogThatCannotBeCreatedLeavesTheDebuggerOutput) {
    EXPECT_FALSE(util::OpenLogFile(L"C:\\no\\such\\folder"));
    util::LogInfo(L"still seen");
    EXPECT_TRUE(debugger_.back().ends_with(L"Info still seen"));
}

TEST_F(LogTest, LinesOfManyThreadsNeverInterleaveAndCloseWhileWritingIsSafe) {
    ASSERT_TRUE(util::OpenLogFile(folder_));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) util::LogDebug(L"thread %d line %d %s", t, i, std::wstring(50, L'x'));
        });
    std::thread closer([] {
        std::this_thread::yield();
        util::CloseLogFile();
    });
    for (auto& th : threads) th.join();
    closer.join();
    std::wstring text = ReadLog();
    std::wregex whole(L"^Stub Installer \\[\\d+\\] \\[[^\\]]+\\] Debug (thread \\d line \\d+ x{50}|.*)$");
    for (auto& line : util::SplitKeep(text, L"\n")) {
        if (line.empty()) continue;
        EXPECT_TRUE(std::regex_match(line, whole)) << platform::Utf8FromWide(line);
    }
}

}  // namespace
