// The download manager and its owner's sink against velmo-service on loopback (http, and https
// with the test CA): what the owner is told, what lands in the file, what the log says.
#include <gtest/gtest.h>

#include <cstdlib>

#include "local_servers.h"
#include "network/deployment.h"
#include "network/download_sink.h"
#include "network/system_proxy.h"
#include "network_harness.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "support/service.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"

namespace {

using velmo_test::kFailureMessage;
using velmo_test::kSuccessMessage;

std::string PackageBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

class DownloadE2ETest : public velmo_test::MachineTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.Running()) << service_.Log();
        ASSERT_TRUE(util::CreateDirectoryTree(kFolder));
        UseDeployment(60, true);
        package_ = PackageBytes(3 * 1024 * 1024 + 17);
        service_.WritePackage("pkg.bin", package_);
    }
    void TearDown() override { network::SetCurrentDeployment(network::Deployment{}); }

    void UseDeployment(std::uint32_t stallSeconds, bool trustTestCa) {
        network::Deployment deployment;
        if (trustTestCa) deployment.caBundle = platform::WindowsPathFromHost(service_.CaBundle());
        deployment.stallSeconds = stallSeconds;
        network::SetCurrentDeployment(deployment);
    }
    std::wstring Url(bool https, const std::string& path) const {
        return platform::WideFromUtf8(https ? service_.HttpsUrl(path) : service_.HttpUrl(path));
    }
    std::wstring File(const wchar_t* name) const { return std::wstring(kFolder) + L"\\" + name; }
    static std::string Contents(const std::wstring& path) {
        std::string bytes;
        platform::ReadWholeFile(path, bytes);
        return bytes;
    }
    // Runs one download to its success or failure message.
    const platform::MSG* Download(velmo_test::RecordingSink& sink, velmo_test::OwnerWindow& owner,
                                  const network::HttpRequestTask& task) {
        sink.StartRequest(task);
        EXPECT_TRUE(velmo_test::RunUntil([&] { return owner.Outcome() != nullptr; })) << log_.Dump();
        return owner.Outcome();
    }

    static constexpr const wchar_t* kFolder = L"C:\\Users\\Public\\Temp\\VelmoInstaller\\e2e";
    velmo_test::ServiceFixture service_;
    platform::MessageLoop loop_;
    velmo_test::LogCapture log_;
    std::string package_;
};

TEST_F(DownloadE2ETest, FullDownloadOverHttpAndHttps) {
    for (bool https : {false, true}) {
        velmo_test::OwnerWindow owner;
        velmo_test::RecordingSink sink(owner);
        std::wstring file = File(https ? L"full-https.bin" : L"full-http.bin");
        const platform::MSG* outcome =
            Download(sink, owner, velmo_test::DownloadTask(Url(https, "/packages/pkg.bin"), network::kDownloadPackage, file));
        ASSERT_NE(outcome, nullptr);
        EXPECT_EQ(outcome->message, kSuccessMessage) << "https=" << https << "\n" << log_.Dump();
        EXPECT_EQ(outcome->wParam, 0u);
        EXPECT_TRUE(Contents(file) == package_) << "https=" << https;
        for (auto [kind, value] : sink.progress) {
            EXPECT_EQ(kind, network::kDownloadPackage);
            EXPECT_GE(value, 0);
            EXPECT_LT(value, 50) << "kind 2 shows half scale";
        }
        EXPECT_TRUE(sink.ReportTags().empty());
    }
    EXPECT_TRUE(log_.Contains(util::Format(L"File content length: %d, Http response Code 200:\r\n",
                                           static_cast<int>(package_.size()))))
        << log_.Dump();
}

TEST_F(DownloadE2ETest, ResumeSendsRangeAndCountsTheStartOffset) {
    const std::size_t have = 1024 * 1024 + 5;
    std::wstring file = File(L"resume.bin");
    ASSERT_TRUE(platform::WriteWholeFile(file, package_.substr(0, have)));
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner);
    auto task = velmo_test::DownloadTask(Url(true, "/packages/pkg.bin"), network::kDownloadPackage, file,
                                         static_cast<std::int64_t>(have));
    const platform::MSG* outcome = Download(sink, owner, task);
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->message, kSuccessMessage) << log_.Dump();
    EXPECT_TRUE(Contents(file) == package_) << "the file continues where it stopped";
    // The 206 announces only the rest; the owner adds the start offset on both sides.
    EXPECT_TRUE(log_.Contains(util::Format(L"File content length: %d, Http response Code 206:\r\n",
                                           static_cast<int>(package_.size() - have))))
        << log_.Dump();
    const std::int64_t rest = static_cast<std::int64_t>(package_.size() - have);
    for (auto [kind, value] : sink.progress) {
        // Whatever was received at the tick, the share shown is at least the part already there.
        EXPECT_GE(value, network::DownloadSink::ProgressPercent(kind, have, 0, rest));
    }
}

TEST_F(DownloadE2ETest, HeaderStageFailuresTagAndReportTheStatus) {
    service_.WriteFaults({{{"path", "/packages/broken.bin"}, {"status", 500}}});
    service_.WritePackage("broken.bin", "x");
    struct Case {
        const char* path;
        std::int64_t start;
        unsigned status;
    } cases[] = {
        {"/packages/missing.bin", 0, 404},
        {"/packages/broken.bin", 0, 500},
        {"/packages/pkg.bin", 10 * 1024 * 1024, 416},  // a start beyond the end
    };
    for (const Case& c : cases) {
        std::wstring file = File(L"partial.bin");
        ASSERT_TRUE(platform::WriteWholeFile(file, "partial"));
        velmo_test::OwnerWindow owner;
        velmo_test::RecordingSink sink(owner);
        const platform::MSG* outcome =
            Download(sink, owner, velmo_test::DownloadTask(Url(false, c.path), network::kDownloadPackage, file, c.start));
        ASSERT_NE(outcome, nullptr) << c.path;
        EXPECT_EQ(outcome->message, kFailureMessage) << c.path;
        EXPECT_EQ(outcome->wParam, c.status) << c.path;
        EXPECT_EQ(sink.ReportTags(), std::vector<std::wstring>{util::Format(L"HttpCode-%d", c.status)});
        EXPECT_TRUE(sink.finished.empty()) << "the header stage cancels the transfer";
        EXPECT_TRUE(log_.Contains(util::Format(L"HTTP Response Code: %d.\r\n", c.status)));
        EXPECT_TRUE(log_.Contains(util::Format(L"Ticket send status:%d.", c.status)));
        EXPECT_EQ(util::FileExists(file), c.status != 416) << "416 deletes the partial file";
        platform::DeleteFile(file);
    }
    EXPECT_TRUE(log_.Contains(L"Delete the temp file: " + File(L"partial.bin") + L", ret : 1\r\n")) << log_.Dump();
    EXPECT_TRUE(log_.Contains(L"Header url: " + Url(false, "/packages/missing.bin") + L"\r\n"));
}

TEST_F(DownloadE2ETest, ABodyCutShortFailsAlthoughTheStatusWas200) {
    service_.WriteFaults({{{"path", "/packages/pkg.bin"}, {"cutAfterBytes", 100000}}});
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner);
    std::wstring file = File(L"cut.bin");
    const platform::MSG* outcome =
        Download(sink, owner, velmo_test::DownloadTask(Url(true, "/packages/pkg.bin"), network::kDownloadPackage, file));
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->message, kFailureMessage);
    EXPECT_EQ(outcome->wParam, 200u);
    EXPECT_LT(Contents(file).size(), package_.size());
    EXPECT_EQ(sink.finished.size(), 1u);
    EXPECT_TRUE(log_.Contains(L"File " + file + L", Http response Code 200:\r\n"));
}

TEST_F(DownloadE2ETest, ASendFailureOnThePrimaryPathIsFinishedByTheFallback) {
    velmo_test::ScriptedTransport::Script script;
    script.sendFails = true;
    script.sendError = network::ERROR_INTERNET_CANNOT_CONNECT;
    auto primary = std::make_shared<velmo_test::ScriptedTransport>(script);
    for (bool https : {false, true}) {
        velmo_test::OwnerWindow owner;
        velmo_test::RecordingSink sink(owner, primary);
        std::wstring file = File(L"fallback.bin");
        // The primary attempt was a resume; the fallback writes the file from its first byte.
        ASSERT_TRUE(platform::WriteWholeFile(file, package_.substr(0, 1000)));
        const platform::MSG* outcome = Download(
            sink, owner, velmo_test::DownloadTask(Url(https, "/packages/pkg.bin"), network::kDownloadPackage, file, 1000));
        ASSERT_NE(outcome, nullptr);
        EXPECT_EQ(outcome->message, kSuccessMessage) << "https=" << https << "\n" << log_.Dump();
        EXPECT_TRUE(Contents(file) == package_);
        EXPECT_TRUE(sink.responses.empty());
        // Progress arrives through WM_HTTP_PROGRESS at half scale (how many depends on libcurl's pace).
        for (int value : sink.fallbackProgress) {
            EXPECT_GT(value, -1);
            EXPECT_LT(value, 50);
        }
    }
    EXPECT_EQ(log_.Count(L"Curl retry result:200"), 2) << log_.Dump();
    EXPECT_TRUE(log_.Contains(L"Succeed on access: " + Url(true, "/packages/pkg.bin")));

    // A fallback that meets an error status reports it as the failure.
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner, primary);
    const platform::MSG* outcome = Download(
        sink, owner,
        velmo_test::DownloadTask(Url(false, "/packages/missing.bin"), network::kDownloadPackage, File(L"none.bin")));
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->message, kFailureMessage);
    EXPECT_EQ(outcome->wParam, 404u);
}

TEST_F(DownloadE2ETest, ARedirectLoopIsAskedTenMoreTimesAndEndsAs302) {
    service_.WriteFaults({{{"path", "/packages/loop.bin"}, {"redirectLoop", true}}});
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner);
    const platform::MSG* outcome = Download(
        sink, owner, velmo_test::DownloadTask(Url(false, "/packages/loop.bin"), network::kDownloadPackage, File(L"loop.bin")));
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->message, kFailureMessage);
    EXPECT_EQ(outcome->wParam, 302u);
    // The primary transport gives up on the loop; the fallback takes it and asks again 10 times.
    EXPECT_TRUE(log_.Contains(util::Format(L"---------------------HttpSendRequest-----------------------  error:%d\n",
                                           static_cast<int>(network::ERROR_HTTP_REDIRECT_FAILED))))
        << log_.Dump();
    EXPECT_EQ(log_.Count(L"RedirectTimes:"), 10);
    EXPECT_TRUE(log_.Contains(L"RedirectTimes:10, RedirectURL: " + Url(false, "/packages/loop.bin") +
                              L", RedirectResponescode: 302"));
    EXPECT_TRUE(log_.Contains(L"Curl retry result:302"));
}

TEST_F(DownloadE2ETest, TimeOutAndCancelNeverFinishTheRequest) {
    service_.WriteFaults({{{"prefix", "/packages/slow"}, {"delayMs", 30000}}});
    service_.WritePackage("slow.bin", "slow");
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner);
    auto timed = velmo_test::DownloadTask(Url(true, "/packages/slow.bin"), network::kDownloadPackage, File(L"t.bin"));
    timed.timeoutMs = 300;
    int timedOut = sink.StartRequest(timed);
    int cancelled = sink.StartRequest(
        velmo_test::DownloadTask(Url(false, "/packages/slow.bin"), network::kDownloadPackage, File(L"c.bin")));
    ASSERT_TRUE(velmo_test::RunUntil([&] { return !sink.timeouts.empty(); }));
    EXPECT_EQ(sink.timeouts, std::vector<int>{timedOut});
    sink.CancelRequest(cancelled);
    ASSERT_TRUE(velmo_test::RunUntil([&] { return sink.LiveRequestCount() == 0; })) << "both reaped";
    EXPECT_TRUE(sink.finished.empty());
    EXPECT_EQ(owner.Outcome(), nullptr);
    EXPECT_FALSE(log_.Contains(L"Use curl retry!")) << "a cancelled send is not retried";
}

TEST_F(DownloadE2ETest, ShutdownEndsAHangingTransferThroughTheAbortFlag) {
    service_.WriteFaults({{{"path", "/packages/pkg.bin"}, {"delayMs", 60000}}});
    for (bool https : {false, true}) {
        velmo_test::OwnerWindow owner;
        auto sink = std::make_unique<velmo_test::RecordingSink>(owner);
        sink->StartRequest(
            velmo_test::DownloadTask(Url(https, "/packages/pkg.bin"), network::kDownloadPackage, File(L"hang.bin")));
        velmo_test::RunUntil([] { return false; }, std::chrono::seconds(1));
        sink.reset();
        EXPECT_TRUE(owner.messages.empty());
    }
    EXPECT_FALSE(log_.Contains(L"still running")) << "the abort flag ended both transfers within the wait";
}

TEST_F(DownloadE2ETest, AStalledBodyEndsAsAFailedRead) {
    UseDeployment(1, true);
    velmo_test::StallingServer server("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
    velmo_test::OwnerWindow owner;
    velmo_test::RecordingSink sink(owner);
    std::wstring file = File(L"stall.bin");
    const platform::MSG* outcome = Download(
        sink, owner,
        velmo_test::DownloadTask(util::Format(L"http://127.0.0.1:%d/stall.bin", server.port()), network::kDownloadPackage,
                                 file));
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->message, kFailureMessage);
    EXPECT_EQ(outcome->wParam, 200u);
    EXPECT_EQ(Contents(file), "0123456789");
    EXPECT_TRUE(log_.Contains(L"stalled: no byte for 1 seconds")) << log_.Dump();
}

TEST_F(DownloadE2ETest, ACertificateNotInTheBundleFailsTheTransferAndIsLogged) {
    for (auto certificate : {velmo_test::ServerCertificate::SelfSigned, velmo_test::ServerCertificate::WrongHost}) {
        velmo_test::ServiceOptions options;
        options.certificate = certificate;
        velmo_test::ServiceFixture other(options);
        ASSERT_TRUE(other.Running()) << other.Log();
        other.WritePackage("pkg.bin", package_);
        network::Deployment deployment;
        deployment.caBundle = platform::WindowsPathFromHost(other.CaBundle());
        network::SetCurrentDeployment(deployment);

        velmo_test::OwnerWindow owner;
        velmo_test::RecordingSink sink(owner);
        std::wstring url = platform::WideFromUtf8(other.HttpsUrl("/packages/pkg.bin"));
        const platform::MSG* outcome =
            Download(sink, owner, velmo_test::DownloadTask(url, network::kDownloadPackage, File(L"cert.bin")));
        ASSERT_NE(outcome, nullptr);
        EXPECT_EQ(outcome->message, kFailureMessage);
        EXPECT_EQ(outcome->wParam, 0u) << "neither the primary path nor the fallback accepts it";
        EXPECT_TRUE(log_.Contains(L"Transfer of " + url + L" failed: ")) << log_.Dump();
        EXPECT_TRUE(log_.Contains(L"Failed on access: " + url + L", status error:0, error: "));
    }
}

// A real proxy, configured the way Windows users configure one: in the Internet settings.
TEST_F(DownloadE2ETest, ADownloadGoesThroughTheRegistryProxy) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                             "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    velmo_test::Tinyproxy proxy(service_.Root());
    ASSERT_TRUE(proxy.running()) << proxy.Log();
    ASSERT_TRUE(network::WriteStaticProxy(util::Format(L"127.0.0.1:%d", proxy.port()), true));

    for (bool https : {false, true}) {
        // The owner builds the task with the proxy choice, as the workflow does.
        network::DownloadProxy chosen = network::ChooseDownloadProxy(L"", 0);
        ASSERT_EQ(chosen.host, L"127.0.0.1");
        ASSERT_EQ(chosen.port, proxy.port());
        velmo_test::OwnerWindow owner;
        velmo_test::RecordingSink sink(owner);
        std::wstring file = File(https ? L"proxy-https.bin" : L"proxy-http.bin");
        auto task = velmo_test::DownloadTask(Url(https, "/packages/pkg.bin"), network::kDownloadPackage, file);
        task.proxyHost = chosen.host;
        task.proxyPort = chosen.port;
        const platform::MSG* outcome = Download(sink, owner, task);
        ASSERT_NE(outcome, nullptr);
        EXPECT_EQ(outcome->message, kSuccessMessage) << log_.Dump() << proxy.Log();
        EXPECT_TRUE(Contents(file) == package_);
    }
    std::string seen = proxy.Log();
    EXPECT_NE(seen.find("GET " + service_.HttpUrl("/packages/pkg.bin")), std::string::npos) << seen;
    EXPECT_NE(seen.find("CONNECT 127.0.0.1:" + std::to_string(service_.HttpsPort())), std::string::npos) << seen;
}

}  // namespace
