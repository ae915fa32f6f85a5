#include "util/system_info.h"

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "support/temp_machine.h"
#include "util/log.h"
#include "platform/text.h"
#include <algorithm>

namespace {

class SystemInfo : public velmo_test::MachineTest {
protected:
    void SetUp() override {
        util::SetDebuggerOutput([this](std::wstring_view l) {
            // Keep the message only: everything after the level word.
            auto pos = l.find(L"] Debug ");
            lines_.emplace_back(pos == std::wstring_view::npos ? l : l.substr(pos + 8));
        });
    }
    void TearDown() override { util::SetDebuggerOutput(nullptr); }
    bool Has(const std::wstring& line) const { return std::find(lines_.begin(), lines_.end(), line) != lines_.end(); }
    std::vector<std::wstring> lines_;
};

TEST_F(SystemInfo, BlockFollowsTheMachineProfile) {
    platform::MachineProfile p = platform::CurrentProfile();
    p.majorVersion = 6, p.minorVersion = 1, p.buildNumber = 7601, p.is64Bit = false;
    p.memoryMB = 4096;
    p.userName = L"anna";
    p.domain = L"corp.example";
    p.cpuBrand = L"Test CPU @ 3.00GHz";
    p.windowsUpdateBusy = true;
    p.gpus = {{L"Test Adapter", 5912, 2048}, {L"Second", 1, 1}};
    p.freeSpaceBytes[L'C'] = 2ULL << 30;
    ASSERT_TRUE(platform::SaveMachineProfile(p));

    util::LogInstallPathInformation(L"C:\\Program Files (x86)\\Velmo");
    util::LogSystemDetails();

    EXPECT_EQ(lines_.front(), L"Install path :C:\\Program Files (x86)\\Velmo Partition size:2 GB\n");
    for (const wchar_t* want : {L"OS Version:6.1 BuildNumber:7601 64bitOS:0", L"Memory Size:4096 M",
                                L"Current User: anna", L"Current Domin: corp.example",
                                L"bool isRunning = IsWindowsUpdateRunning();", L"IsWindowsUpdateRunning:1",
                                L"OS CPU Info:Test CPU @ 3.00GHz",
                                L"OS GPU Info:adapter num:2\nDescription:Test Adapter\nDevice ID:5912\nMemory:2048 M\n\n\n"})
        EXPECT_TRUE(Has(want)) << platform::Utf8FromWide(want);

    const std::wstring open = std::wstring(52, L'=') + L"Process List" + std::wstring(52, L'=');
    const std::wstring close = std::wstring(52, L'=') + L"Process List End" + std::wstring(48, L'=') + L"\n";
    auto first = std::find(lines_.begin(), lines_.end(), open);
    auto last = std::find(lines_.begin(), lines_.end(), close);
    ASSERT_NE(first, lines_.end());
    ASSERT_NE(last, lines_.end());
    ASSERT_LT(first, last);
    EXPECT_GT(last - first, 1) << "this test process at least is listed";
    EXPECT_TRUE((first + 1)->starts_with(L"Thread-Name:"));
    EXPECT_NE((first + 1)->find(L"  Thread-ID:"), std::wstring::npos);
}

TEST_F(SystemInfo, MachineWithoutAdaptersOrDomainLogsOnlyTheCount) {
    platform::MachineProfile p = platform::CurrentProfile();
    p.gpus.clear();
    p.domain.reset();
    ASSERT_TRUE(platform::SaveMachineProfile(p));
    util::LogSystemDetails();
    EXPECT_TRUE(Has(L"OS GPU Info:adapter num:0\n"));
    for (const auto& l : lines_) EXPECT_FALSE(l.starts_with(L"Current Domin")) << platform::Utf8FromWide(l);
}

}  // namespace
