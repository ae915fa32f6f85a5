// The web API client against velmo-service on loopback.
#include <gtest/gtest.h>

#include <cstdlib>

#include "local_servers.h"
#include "network/deployment.h"
#include "network/hub_interface.h"
#include "network/system_proxy.h"
#include "network/web_api_helper.h"
#include "network_harness.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "support/service.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"
#include "util/text_helpers.h"

namespace {

using network::WebAPIHelper;

class WebApiE2ETest : public velmo_test::MachineTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.Running()) << service_.Log();
        network::Deployment deployment;
        deployment.caBundle = platform::WindowsPathFromHost(service_.CaBundle());
        deployment.accountApi = platform::WideFromUtf8(service_.HttpsBase());
        network::SetCurrentDeployment(deployment);
        service_.WriteCatalogueFile("update.json", kUpdate);
        service_.WriteCatalogueFile("settings.json", R"({"download_retry_numbers":3,"download_retry_interval":5})");
    }
    void TearDown() override { network::SetCurrentDeployment(network::Deployment{}); }
    std::wstring Url(bool https, const std::string& path) const {
        return platform::WideFromUtf8(https ? service_.HttpsUrl(path) : service_.HttpUrl(path));
    }
    static constexpr const char* kUpdate =
        R"({"code":0,"result":[{"appid":"0","isForce":0,"minversion":"1.0","version":"2.0.1.50","url":"x"}]})";
    velmo_test::ServiceFixture service_;
    velmo_test::LogCapture log_;
};

TEST_F(WebApiE2ETest, GetsTheEndpointsAndAppendsToTheCallersBody) {
    for (bool https : {true, false}) {
        std::wstring headers = L"stale";
        std::string body = "prefix:";
        ASSERT_TRUE(WebAPIHelper::Request(Url(https, "/api/update/check"), "", headers, body, L"Get", L"")) << log_.Dump();
        EXPECT_EQ(body, std::string("prefix:") + kUpdate);
        EXPECT_EQ(WebAPIHelper::LastStatusCode(), 200u);
        EXPECT_EQ(WebAPIHelper::LastErrorCode(), 0u);
        EXPECT_EQ(headers.rfind(L"HTTP/1.1 200", 0), 0u) << platform::Utf8FromWide(headers);
        EXPECT_TRUE(util::EndsWithNoCase(headers, L"\r\n\r\n"));
    }
    std::wstring headers;
    std::string body;
    ASSERT_TRUE(WebAPIHelper::Request(network::GeneralSettingsUrl(), "", headers, body, L"Get", L""));
    EXPECT_NE(body.find("download_retry_numbers"), std::string::npos);
}

TEST_F(WebApiE2ETest, A404WithABodyIsTrueAndA503IsFalseWithItsStatusKept) {
    service_.WriteFaults({{{"path", "/api/setting/general"}, {"status", 503}}});
    std::wstring headers;
    std::string body;
    EXPECT_TRUE(WebAPIHelper::Request(Url(true, "/api/install/no-such-id"), "", headers, body, L"Get", L""));
    EXPECT_EQ(WebAPIHelper::LastStatusCode(), 404u);
    EXPECT_FALSE(body.empty()) << "the caller decides by the body";

    body.clear();
    EXPECT_FALSE(WebAPIHelper::Request(Url(true, "/api/setting/general"), "", headers, body, L"Get", L""));
    EXPECT_EQ(WebAPIHelper::LastStatusCode(), 503u);
    EXPECT_EQ(WebAPIHelper::LastErrorCode(), 0u);
    EXPECT_TRUE(log_.Contains(L"Server error responses, dwStatusCode:503")) << log_.Dump();
    EXPECT_TRUE(log_.Contains(L"WebAPIHelper::Request Error occurred, LastErrorCode:0, dwStatusCode:503"));
}

TEST_F(WebApiE2ETest, TransportFailuresGiveTheStepAndItsCode) {
    struct Case {
        std::wstring url;
        const wchar_t* line;
    } cases[] = {
        {util::Format(L"http://127.0.0.1:%d/api/update/check", velmo_test::FreeLoopbackPort()),
         L"in WinHttpSendRequest"},
    };
    for (const Case& c : cases) {
        std::wstring headers;
        std::string body = "kept";
        EXPECT_FALSE(WebAPIHelper::Request(c.url, "", headers, body, L"Get", L""));
        EXPECT_EQ(WebAPIHelper::LastErrorCode(), network::ERROR_INTERNET_CANNOT_CONNECT);
        EXPECT_EQ(WebAPIHelper::LastStatusCode(), 200u) << "no response: unchanged";
        EXPECT_EQ(body, "kept");
        EXPECT_TRUE(log_.Contains(util::Format(L"Error %d %s", static_cast<int>(network::ERROR_INTERNET_CANNOT_CONNECT), c.line)))
            << log_.Dump();
    }
    // A certificate the bundle does not know.
    network::SetCurrentDeployment(network::Deployment{});
    std::wstring headers;
    std::string body;
    EXPECT_FALSE(WebAPIHelper::Request(Url(true, "/api/update/check"), "", headers, body, L"Get", L""));
    EXPECT_EQ(WebAPIHelper::LastErrorCode(), network::ERROR_INTERNET_INVALID_CA);
    EXPECT_TRUE(log_.Contains(L"Transfer of " + Url(true, "/api/update/check") + L" failed: ")) << log_.Dump();
}

TEST_F(WebApiE2ETest, PostsTheBodyWithItsHeaders) {
    // The statistics endpoint answers whatever the event; what matters is that the body arrived whole.
    std::wstring headers;
    std::string body;
    std::string event = R"({"stat":")" + std::string(5000, 'A') + R"("})";
    EXPECT_TRUE(WebAPIHelper::Request(network::StatisticsUrl(), event, headers, body, L"POST", L""))
        << log_.Dump() << service_.Log();
    EXPECT_LT(WebAPIHelper::LastStatusCode(), 500u);
    EXPECT_TRUE(service_.WaitForLog("/api/stat")) << service_.Log();
}

TEST_F(WebApiE2ETest, HubSettingsOverrideTheUrls) {
    std::wstring path = network::hub::HubSettingsFilePath();
    util::PathParts parts;
    util::SplitPath(path, parts);
    ASSERT_TRUE(util::CreateDirectoryTree(parts.folder));
    // The default account API is made unreachable; only the overrides lead to the service.
    network::Deployment deployment;
    deployment.caBundle = platform::WindowsPathFromHost(service_.CaBundle());
    deployment.accountApi = util::Format(L"https://127.0.0.1:%d", velmo_test::FreeLoopbackPort());
    network::SetCurrentDeployment(deployment);
    std::string json = R"({"versionServer":")" + service_.HttpsUrl("/api/update/check") + R"(","accountServer":")" +
                       service_.HttpBase() + R"("})";
    ASSERT_TRUE(platform::WriteWholeFile(path, json));

    std::wstring headers;
    std::string body;
    ASSERT_TRUE(WebAPIHelper::Request(network::UpdateCheckUrl(), "", headers, body, L"Get", L"")) << log_.Dump();
    EXPECT_EQ(body, kUpdate);
    EXPECT_EQ(network::StatisticsUrl(), platform::WideFromUtf8(service_.HttpBase()) + L"/api/stat");
}

TEST_F(WebApiE2ETest, TheSystemProxyFromTheRegistryCarriesTheRequest) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                             "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    velmo_test::Tinyproxy proxy(service_.Root());
    ASSERT_TRUE(proxy.running());
    ASSERT_TRUE(network::WriteStaticProxy(util::Format(L"127.0.0.1:%d", proxy.port()), true));
    std::wstring headers;
    std::string body;
    ASSERT_TRUE(WebAPIHelper::Request(Url(false, "/api/update/check"), "", headers, body, L"Get", L"")) << log_.Dump();
    EXPECT_EQ(body, kUpdate);
    EXPECT_NE(proxy.Log().find("GET " + service_.HttpUrl("/api/update/check")), std::string::npos) << proxy.Log();
}

}  // namespace
