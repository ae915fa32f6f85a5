#include <gtest/gtest.h>

#include <cstdlib>

#include "network/curl_fallback.h"
#include "network/system_proxy.h"
#include "network/transfer.h"
#include "network_harness.h"
#include "platform/registry.h"
#include "support/temp_machine.h"

namespace {

using network::UrlParts;

TEST(CrackUrlTest, SplitsSchemeHostPortAndObject) {
    struct Case {
        const wchar_t* url;
        UrlParts::Scheme scheme;
        const wchar_t* host;
        int port;
        bool explicitPort;
        const wchar_t* object;
    } cases[] = {
        {L"https://api.velmo.example/api/install/x?arch=x64&instver=2.0.1.50", UrlParts::Scheme::Https,
         L"api.velmo.example", 443, false, L"/api/install/x?arch=x64&instver=2.0.1.50"},
        {L"http://127.0.0.1:8080/packages/a.zip", UrlParts::Scheme::Http, L"127.0.0.1", 8080, true, L"/packages/a.zip"},
        {L"HTTPS://Host.Example:8443", UrlParts::Scheme::Https, L"Host.Example", 8443, true, L"/"},
        {L"http://host?q=1", UrlParts::Scheme::Http, L"host", 80, false, L"/?q=1"},
        {L"http://user:pw@host:81/p", UrlParts::Scheme::Http, L"host", 81, true, L"/p"},
        {L"https://[::1]:9443/x", UrlParts::Scheme::Https, L"::1", 9443, true, L"/x"},
        {L"ftp://host/file", UrlParts::Scheme::Unknown, L"host", 0, false, L"/file"},
    };
    for (const Case& c : cases) {
        UrlParts parts;
        ASSERT_TRUE(network::CrackUrl(c.url, parts)) << platform::Utf8FromWide(c.url);
        EXPECT_EQ(parts.scheme, c.scheme) << platform::Utf8FromWide(c.url);
        EXPECT_EQ(parts.host, c.host) << platform::Utf8FromWide(c.url);
        EXPECT_EQ(parts.port, c.port) << platform::Utf8FromWide(c.url);
        EXPECT_EQ(parts.explicitPort, c.explicitPort) << platform::Utf8FromWide(c.url);
        EXPECT_EQ(parts.object, c.object) << platform::Utf8FromWide(c.url);
    }
}

TEST(CrackUrlTest, RejectsTextThatIsNoUrl) {
    for (const wchar_t* url : {L"", L"not a url", L"://host/x", L"http://", L"http:///path", L"http://host:0/",
                               L"http://host:65536/", L"http://host:12ab/", L"http://ho st/", L"https://[::1/x"}) {
        UrlParts parts;
        EXPECT_FALSE(network::CrackUrl(url, parts)) << platform::Utf8FromWide(url);
        EXPECT_EQ(platform::GetLastError(), network::ERROR_INTERNET_INVALID_URL);
    }
}

TEST(FallbackProxyTest, PicksTheEntryOfTheUrlsScheme) {
    struct Case {
        const char* url;
        const char* text;
        const char* proxy;
    } cases[] = {
        {"http://a/x", "proxy.lan:3128", "proxy.lan:3128"},
        {"https://a/x", "proxy.lan:3128", "proxy.lan:3128"},
        {"http://a/x", "http=p1:80;https=p2:443", "p1:80"},
        {"https://a/x", "http=p1:80;https=p2:443", "p2:443"},
        {"HTTPS://a/x", "https=p2:443;http=p1:80", "p2:443"},
        {"https://a/x", "ftp=p3:21", ""},
        {"http://a/x", "ftp=p3:21", ""},
        {"ftp://a/x", "proxy.lan:3128", "proxy.lan:3128"},
        {"ftp://a/x", "http=p1:80", ""},
        {"http://a/x", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(network::FallbackProxyForUrl(c.url, c.text), c.proxy) << c.url << " / " << c.text;
}

TEST(ProxyListTest, EntryForSchemeAndLibcurlText) {
    struct Case {
        const wchar_t* list;
        bool secure;
        const char* curl;
    } cases[] = {
        {L"127.0.0.1:3128", false, "http://127.0.0.1:3128"},
        {L"127.0.0.1:3128", true, "http://127.0.0.1:3128"},
        {L"proxy.lan", true, "http://proxy.lan:80"},
        {L"http=a:1;https=b:2", true, "http://b:2"},
        {L"http=a:1;https=b:2", false, "http://a:1"},
        {L"socks=s:1080", true, "socks4://s:1080"},
        {L"ftp=f:21", false, ""},
        {L"", false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(network::CurlProxyText(network::ProxyEntryForScheme(c.list, c.secure)), c.curl)
            << platform::Utf8FromWide(c.list);
}

TEST(ProxyListTest, BypassList) {
    EXPECT_TRUE(network::BypassListMatches(L"<local>", L"intranet"));
    EXPECT_FALSE(network::BypassListMatches(L"<local>", L"api.velmo.example"));
    EXPECT_TRUE(network::BypassListMatches(L"*.velmo.example;10.*", L"API.velmo.example"));
    EXPECT_TRUE(network::BypassListMatches(L"*.velmo.example; 10.*", L"10.1.2.3"));
    EXPECT_FALSE(network::BypassListMatches(L"*.velmo.example", L"velmo.example.org"));
}

// The machine's Internet settings and the host's proxy variables, restored afterwards.
class SystemProxyTest : public velmo_test::MachineTest {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            ::unsetenv(name);
        }
        network::SetSystemProxyText("");
    }
    void TearDown() override {
        for (auto& [name, value] : saved_)
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        network::SetSystemProxyText("");
    }
    static platform::RegKey Settings() {
        platform::RegKey key;
        platform::RegKey::Create(platform::Hive::CurrentUser, network::kInternetSettingsKey, platform::KEY_ALL_ACCESS, key);
        return key;
    }
    static UrlParts Url(const wchar_t* url) {
        UrlParts parts;
        network::CrackUrl(url, parts);
        return parts;
    }
    static constexpr const char* kVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                                 "no_proxy", "NO_PROXY"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST_F(SystemProxyTest, RegistryProxyWinsOverTheHostVariables) {
    ::setenv("http_proxy", "http://envproxy:1111", 1);
    ::setenv("https_proxy", "http://envproxy:2222", 1);
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://a.example/")), "http://envproxy:1111");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"https://a.example/")), "http://envproxy:2222");

    ASSERT_TRUE(network::WriteStaticProxy(L"http=reg:81;https=reg:444", true));
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://a.example/")), "http://reg:81");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"https://a.example/")), "http://reg:444");

    Settings().SetString(L"ProxyOverride", L"*.lan;<local>");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"https://box.lan/")), "");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"https://box/")), "");

    // A disabled registry proxy names none: the host's settings apply again.
    ASSERT_TRUE(network::WriteStaticProxy(L"reg:81", false));
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://a.example/")), "http://envproxy:1111");
}

TEST_F(SystemProxyTest, HostNoProxyAndScriptsGoDirect) {
    ::setenv("http_proxy", "envproxy:1111", 1);
    ::setenv("no_proxy", "localhost,.internal", 1);
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://a.example/")), "http://envproxy:1111");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://localhost:8080/")), "");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://db.internal/")), "");

    velmo_test::LogCapture log;
    Settings().SetString(L"AutoConfigURL", L"http://wpad.lan/proxy.pac");
    EXPECT_EQ(network::SystemProxyForUrl(Url(L"http://a.example/")), "");
    EXPECT_TRUE(log.Contains(L"http://wpad.lan/proxy.pac")) << log.Dump();
}

TEST_F(SystemProxyTest, DownloadProxyChoice) {
    // The tracker's proxy comes first.
    auto chosen = network::ChooseDownloadProxy(L"tracker", 8888);
    EXPECT_EQ(chosen.host, L"tracker");
    EXPECT_EQ(chosen.port, 8888);

    struct Case {
        const wchar_t* server;
        const wchar_t* host;
        int port;
    } cases[] = {
        {L"proxy.lan:3128", L"proxy.lan", 3128},
        {L"proxy.lan", L"proxy.lan", 80},
        {L"http=h:1;https=s:2", L"s", 2},
        {L"http=h:1", L"h", 1},
        {L"socks=k:1080", L"", 80},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(network::WriteStaticProxy(c.server, true));
        chosen = network::ChooseDownloadProxy(L"", 0);
        EXPECT_EQ(chosen.host, c.host) << platform::Utf8FromWide(c.server);
        EXPECT_EQ(chosen.port, c.port) << platform::Utf8FromWide(c.server);
    }
    // A configuration script answers "no proxy", whatever the static proxy says.
    Settings().SetString(L"AutoConfigURL", L"http://wpad.lan/proxy.pac");
    EXPECT_EQ(network::ChooseDownloadProxy(L"", 0).host, L"");
}

TEST_F(SystemProxyTest, DisabledProxyKeepsTheFallbacksPreviousProxy) {
    velmo_test::LogCapture log;
    ASSERT_TRUE(network::WriteStaticProxy(L"first:3128", true));
    network::LoadSystemProxy();
    EXPECT_EQ(network::SystemProxyText(), "first:3128");
    EXPECT_TRUE(log.Contains(L"Proxy: first:3128"));

    ASSERT_TRUE(network::WriteStaticProxy(L"second:3128", false));
    network::LoadSystemProxy();
    EXPECT_EQ(network::SystemProxyText(), "first:3128");
}

}  // namespace
