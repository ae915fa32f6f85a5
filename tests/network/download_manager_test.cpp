// The download manager and the download sink over a scripted transport: ids, headers, the
// header-stage and body-stage outcomes, cancel, time-out and shutdown.
#include <gtest/gtest.h>

#include "network/download_sink.h"
#include "network_harness.h"
#include "platform/file.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"

namespace {

using velmo_test::kFailureMessage;
using velmo_test::kSuccessMessage;
using velmo_test::ScriptedTransport;

class DownloadManagerTest : public velmo_test::MachineTest {
protected:
    void SetUp() override { ASSERT_TRUE(util::CreateDirectoryTree(kFolder)); }
    std::wstring File(const wchar_t* name) const { return std::wstring(kFolder) + L"\\" + name; }
    static std::string Contents(const std::wstring& path) {
        std::string bytes;
        platform::ReadWholeFile(path, bytes);
        return bytes;
    }
    static constexpr const wchar_t* kFolder = L"C:\\Users\\Public\\Temp\\VelmoInstaller\\test";
    platform::MessageLoop loop_;
    velmo_test::LogCapture log_;
};

TEST_F(DownloadManagerTest, IdsStartAt100AndTheRangeHeaderFollowsTheCustomHeaders) {
    auto transport = std::make_shared<ScriptedTransport>(ScriptedTransport::Script{});
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner, transport);
    auto first = velmo_test::DownloadTask(L"http://127.0.0.1:9/a", network::kDownloadUriRequest, L"");
    first.customHeaders = L"X-A: 1\r\n";
    first.startPosition = 1000;
    auto second = velmo_test::DownloadTask(L"http://127.0.0.1:9/b", network::kDownloadUriRequest, L"");
    EXPECT_EQ(sink.StartRequest(first), 100);
    EXPECT_EQ(sink.StartRequest(second), 101);
    ASSERT_TRUE(velmo_test::RunUntil([&] { return sink.finished.size() == 2; }));
    std::vector<std::wstring> sent;
    transport->Holds([&](const auto& s) {
        sent = s.sentHeaders;
        return true;
    });
    ASSERT_EQ(sent.size(), 2u);
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent[0], L"");
    EXPECT_EQ(sent[1], L"X-A: 1\r\nRange: bytes=1000-\r\n");
}

TEST_F(DownloadManagerTest, ProgressArithmeticIsSixtyFourBitAndCountsTheStartOffset) {
    struct Case {
        int kind;
        std::int64_t start, received, length;
        int percent;
    } cases[] = {
        {network::kDownloadSelfUpdate, 0, 50, 200, 25},
        {network::kDownloadPackage, 0, 50, 200, 12},
        {network::kDownloadSelfUpdate, 1000, 1000, 2000, 66},  // (1000+1000)*100/(2000+1000)
        {network::kDownloadSelfUpdate, 0, 200, 200, 0},       // 100 % shows as 0
        // Above 21 MB and above 4 GiB: no 32-bit overflow anywhere.
        {network::kDownloadSelfUpdate, 0, 30'000'000, 40'000'000, 75},
        {network::kDownloadPackage, 3'000'000'000, 1'000'000'000, 2'000'000'000, 40},
        {network::kDownloadSelfUpdate, 0, 4'000'000'000, 5'000'000'000, 80},
        {network::kDownloadSelfUpdate, 0, 10, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(network::DownloadSink::ProgressPercent(c.kind, c.start, c.received, c.length), c.percent)
            << c.start << " " << c.received << " " << c.length;
}

TEST_F(DownloadManagerTest, BodyOutcomeDecidesSuccessAndFailure) {
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        const wchar_t* length;
        bool bodyFails;
        bool success;
    } cases[] = {
        {"complete", {"hello ", "world"}, L"11", false, true},
        {"cut short by a read error", {"hello "}, L"11", true, false},
        {"fewer bytes than announced", {"hello "}, L"11", false, false},
    };
    for (const Case& c : cases) {
        ScriptedTransport::Script script;
        script.chunks = c.chunks;
        script.headers = std::wstring(L"Content-Length: ") + c.length + L"\r\n";
        script.bodyFails = c.bodyFails;
        auto transport = std::make_shared<ScriptedTransport>(script);
        velmo_test::OwnerWindow owner;
        velmo_test::RecordingSink sink(owner, transport);
        std::wstring file = File(L"body.bin");
        sink.StartRequest(velmo_test::DownloadTask(L"http://127.0.0.1:9/f", network::kDownloadSingleFile, file));
        ASSERT_TRUE(velmo_test::RunUntil([&] { return owner.Outcome() != nullptr; })) << c.name;
        const platform::MSG* outcome = owner.Outcome();
        EXPECT_EQ(outcome->message, c.success ? kSuccessMessage : kFailureMessage) << c.name;
        EXPECT_EQ(outcome->wParam, c.success ? 0u : 200u) << c.name;
        std::string all;
        for (const auto& chunk : c.chunks) all += chunk;
        EXPECT_EQ(Contents(file), all) << c.name;
    }
    EXPECT_TRUE(log_.Contains(L"File content length: 11, Http response Code 200:\r\n")) << log_.Dump();
}

TEST_F(DownloadManagerTest, ASendFailureHandsTheTransferToTheFallback) {
    ScriptedTransport::Script script;
    script.sendFails = true;
    script.sendError = network::ERROR_INTERNET_CANNOT_CONNECT;
    auto transport = std::make_shared<ScriptedTransport>(script);
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner, transport);
    // Nothing listens on port 9 of loopback: the fallback fails too, with status 0.
    sink.StartRequest(velmo_test::DownloadTask(L"http://127.0.0.1:9/pkg.zip", network::kDownloadPackage,
                                               File(L"pkg.zip")));
    ASSERT_TRUE(velmo_test::RunUntil([&] { return owner.Outcome() != nullptr; }));
    EXPECT_EQ(owner.Outcome()->message, kFailureMessage);
    EXPECT_EQ(owner.Outcome()->wParam, 0u);
    EXPECT_TRUE(sink.responses.empty()) << "no header stage on the fallback path";
    EXPECT_TRUE(log_.Contains(L"---------------------HttpSendRequest-----------------------  error:12029\n"));
    EXPECT_TRUE(log_.Contains(L"Use curl retry! status error:0"));
    EXPECT_TRUE(log_.Contains(L"Curl retry result:0"));
    EXPECT_TRUE(log_.Contains(L"Failed on access: http://127.0.0.1:9/pkg.zip, status error:0, error: "))
        << log_.Dump();
}

TEST_F(DownloadManagerTest, CancelAndTimeOutNeverReachOnRequestFinished) {
    ScriptedTransport::Script script;
    script.chunks = {"part"};
    script.bodyWaitsForClose = true;
    auto transport = std::make_shared<ScriptedTransport>(script);
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner, transport);

    int cancelled = sink.StartRequest(velmo_test::DownloadTask(L"http://127.0.0.1:9/a", network::kDownloadUriRequest, L""));
    ASSERT_TRUE(velmo_test::RunUntil([&] { return !sink.responses.empty(); }));
    sink.CancelRequest(cancelled);
    EXPECT_EQ(sink.FindRequest(cancelled), nullptr);

    auto timed = velmo_test::DownloadTask(L"http://127.0.0.1:9/b", network::kDownloadUriRequest, L"");
    timed.timeoutMs = 200;
    int timedOut = sink.StartRequest(timed);
    ASSERT_TRUE(velmo_test::RunUntil([&] { return !sink.timeouts.empty(); }));
    EXPECT_EQ(sink.timeouts, std::vector<int>{timedOut});
    // Both requests are reaped once their threads end; neither finished.
    ASSERT_TRUE(velmo_test::RunUntil([&] { return sink.LiveRequestCount() == 0; }));
    EXPECT_TRUE(sink.finished.empty());
    EXPECT_EQ(owner.Outcome(), nullptr);
    EXPECT_TRUE(transport->WaitFor([](const auto& s) { return s.liveRequests == 0; }));
}

TEST_F(DownloadManagerTest, ShutdownGivesUpOnAThreadThatDoesNotReturnAndKeepsItsStateAlive) {
    ScriptedTransport::Script script;
    script.sendBlocksUntilReleased = true;  // ignores Close: a thread that does not return
    auto transport = std::make_shared<ScriptedTransport>(script);
    {
        velmo_test::OwnerWindow owner;
        auto sink = std::make_unique<velmo_test::RecordingSink>(owner, transport);
        sink->StartRequest(velmo_test::DownloadTask(L"http://127.0.0.1:9/hang", network::kDownloadPackage,
                                                    File(L"hang.zip")));
        ASSERT_TRUE(velmo_test::RunUntil([&] { return transport->Holds([](const auto& s) { return s.sendsEntered == 1; }); }));
        sink.reset();  // returns although the send is still blocked
        EXPECT_TRUE(transport->Holds([](const auto& s) { return s.liveRequests == 1; }))
            << "the hung thread still holds its request";
        EXPECT_TRUE(log_.Contains(L"Download manager shut down with 1 transfer thread(s) still running"));
    }
    // Released, the thread finishes on the state it kept (the fallback is skipped: it was aborted).
    transport->Release();
    EXPECT_TRUE(transport->WaitFor([](const auto& s) { return s.liveRequests == 0; }));
    EXPECT_FALSE(log_.Contains(L"Use curl retry!"));
}

}  // namespace
