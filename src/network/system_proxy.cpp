#include "network/system_proxy.h"

#include <cstdlib>

#include "platform/registry.h"
#include "platform/text.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace network {

namespace {

// Flags of DefaultConnectionSettings (the DWORD at offset 8 of the blob).
constexpr std::uint32_t PROXY_TYPE_AUTO_DETECT = 0x08;

std::string HostVariable(const char* lower, const char* upper) {
    // The host's proxy variables are a host setting (the desktop's proxy), read here on purpose.
    if (const char* v = std::getenv(lower); v && *v) return v;
    if (const char* v = std::getenv(upper); v && *v) return v;
    return {};
}

bool WildcardMatch(std::wstring_view pattern, std::wstring_view text) {
    // Iterative '*' matching, case-insensitive as host names are.
    std::size_t p = 0, t = 0, star = std::wstring_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] != L'*' && platform::UpperChar(pattern[p]) == platform::UpperChar(text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            mark = t;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

// "host" of "host:port" without "scheme://", and the port (80 when none).
void SplitHostPort(std::wstring_view entry, std::wstring& host, int& port) {
    if (auto scheme = entry.find(L"://"); scheme != std::wstring_view::npos) entry.remove_prefix(scheme + 3);
    if (!entry.empty() && entry.back() == L'/') entry.remove_suffix(1);
    port = 80;
    auto colon = entry.find(L':');
    if (colon == std::wstring_view::npos) {
        host.assign(entry);
        return;
    }
    host.assign(entry.substr(0, colon));
    port = util::TextToInt(entry.substr(colon + 1));
}

// The value after `key` in a per-protocol list, up to ";" or the end; none when absent.
bool ListValue(std::wstring_view list, std::wstring_view key, std::wstring& value) {
    std::wstring lowered = platform::LowerText(list);
    std::size_t at = lowered.find(key);
    while (at != std::wstring::npos && at != 0 && lowered[at - 1] != L';' && lowered[at - 1] != L' ')
        at = lowered.find(key, at + 1);
    if (at == std::wstring::npos) return false;
    std::size_t start = at + key.size();
    std::size_t end = list.find(L';', start);
    value.assign(list.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start));
    return true;
}

}  // namespace

bool ReadInternetProxyConfig(InternetProxyConfig& config) {
    config = InternetProxyConfig{};
    platform::RegKey key;
    if (platform::RegKey::Open(platform::Hive::CurrentUser, kInternetSettingsKey, platform::KEY_READ, key) !=
        static_cast<platform::LONG>(platform::ERROR_SUCCESS))
        return false;
    platform::DWORD enable = 0;
    if (key.QueryDword(L"ProxyEnable", enable) == static_cast<platform::LONG>(platform::ERROR_SUCCESS)) {
        config.proxyEnableSet = true;
        config.proxyEnabled = enable != 0;
    }
    key.QueryString(L"ProxyServer", config.proxyServer);
    if (config.proxyEnabled) config.proxy = config.proxyServer;
    key.QueryString(L"ProxyOverride", config.proxyBypass);
    key.QueryString(L"AutoConfigURL", config.autoConfigUrl);
    platform::RegKey connections;
    if (key.OpenSubKey(L"Connections", platform::KEY_READ, connections) ==
        static_cast<platform::LONG>(platform::ERROR_SUCCESS)) {
        platform::DWORD type = 0;
        std::string blob;
        if (connections.QueryValue(L"DefaultConnectionSettings", type, blob) ==
                static_cast<platform::LONG>(platform::ERROR_SUCCESS) &&
            blob.size() >= 12) {
            std::uint32_t flags = 0;
            for (int i = 3; i >= 0; --i) flags = (flags << 8) | static_cast<unsigned char>(blob[8 + i]);
            config.autoDetect = (flags & PROXY_TYPE_AUTO_DETECT) != 0;
        }
    }
    return true;
}

bool WriteStaticProxy(std::wstring_view server, bool enable) {
    platform::RegKey key;
    if (platform::RegKey::Create(platform::Hive::CurrentUser, kInternetSettingsKey, platform::KEY_ALL_ACCESS, key) !=
        static_cast<platform::LONG>(platform::ERROR_SUCCESS))
        return false;
    bool ok = key.SetDword(L"ProxyEnable", enable ? 1 : 0) == static_cast<platform::LONG>(platform::ERROR_SUCCESS);
    if (server.empty())
        key.DeleteValue(L"ProxyServer");
    else
        ok = key.SetString(L"ProxyServer", server) == static_cast<platform::LONG>(platform::ERROR_SUCCESS) && ok;
    return ok;
}

std::wstring ProxyEntryForScheme(std::wstring_view list, bool secure) {
    if (list.find(L'=') == std::wstring_view::npos) return std::wstring(list);
    std::wstring value;
    if (ListValue(list, secure ? L"https=" : L"http=", value)) return value;
    if (ListValue(list, L"socks=", value)) return L"socks=" + value;
    return {};
}

std::string CurlProxyText(std::wstring_view entry) {
    bool socks = false;
    if (util::StartsWithNoCase(entry, L"socks=")) {
        socks = true;
        entry.remove_prefix(6);
    }
    std::wstring host;
    int port = 80;
    SplitHostPort(entry, host, port);
    if (host.empty()) return {};
    if (port <= 0 || port > 65535) port = 80;
    std::string text = socks ? "socks4://" : "http://";
    text += platform::Utf8FromWide(host);
    text += ":" + std::to_string(port);
    return text;
}

bool BypassListMatches(std::wstring_view list, std::wstring_view host) {
    for (const std::wstring& item : util::SplitTokens(list, L";")) {
        if (platform::EqualsNoCase(item, L"<local>")) {
            if (host.find(L'.') == std::wstring_view::npos && host.find(L':') == std::wstring_view::npos) return true;
            continue;
        }
        if (WildcardMatch(item, host)) return true;
    }
    return false;
}

std::string SystemProxyForUrl(const UrlParts& url) {
    InternetProxyConfig config;
    bool haveConfig = ReadInternetProxyConfig(config);
    bool registryDecides = haveConfig && (!config.autoConfigUrl.empty() || config.autoDetect || !config.proxy.empty());
    if (registryDecides) {
        if (!config.autoConfigUrl.empty()) {
            util::LogDebug(L"Proxy auto-config script %s is not evaluated; connecting directly to %s\r\n",
                           config.autoConfigUrl, url.host);
            return {};
        }
        // Auto-detection finds no WPAD answer here; the static proxy (if any) decides.
        if (config.proxy.empty()) return {};
        if (BypassListMatches(config.proxyBypass, url.host)) return {};
        return CurlProxyText(ProxyEntryForScheme(config.proxy, url.secure()));
    }
    std::string proxy = url.secure() ? HostVariable("https_proxy", "HTTPS_PROXY") : HostVariable("http_proxy", "HTTP_PROXY");
    if (proxy.empty()) return {};
    std::string noProxy = HostVariable("no_proxy", "NO_PROXY");
    if (!noProxy.empty()) {
        std::wstring host = url.host;
        for (const std::wstring& item : util::SplitTokens(platform::WideFromUtf8(noProxy), L",")) {
            std::wstring_view pattern = item;
            if (pattern == L"*") return {};
            if (!pattern.empty() && pattern.front() == L'.') pattern.remove_prefix(1);
            if (platform::EqualsNoCase(host, pattern) ||
                (host.size() > pattern.size() && host[host.size() - pattern.size() - 1] == L'.' &&
                 util::EndsWithNoCase(host, pattern)))
                return {};
        }
    }
    if (proxy.find("://") == std::string::npos) proxy = "http://" + proxy;
    return proxy;
}

std::string ProxyForRequest(const SessionOptions& options, const UrlParts& url) {
    switch (options.access) {
        case ProxyAccess::Direct:
            return {};
        case ProxyAccess::Named:
            return CurlProxyText(ProxyEntryForScheme(options.proxy, url.secure()));
        case ProxyAccess::Preconfig:
            break;
    }
    return SystemProxyForUrl(url);
}

DownloadProxy ChooseDownloadProxy(std::wstring_view trackerProxyHost, int trackerProxyPort) {
    DownloadProxy result;
    if (!trackerProxyHost.empty() && trackerProxyPort != 0) {
        result.host.assign(trackerProxyHost);
        result.port = trackerProxyPort;
        return result;
    }
    InternetProxyConfig config;
    bool haveConfig = ReadInternetProxyConfig(config);
    bool lookupRuns = !haveConfig || !config.autoConfigUrl.empty() || config.autoDetect;
    if (lookupRuns && !config.autoConfigUrl.empty()) {
        // The script answers "no proxy": it is not evaluated.
        util::LogDebug(L"Proxy auto-config script %s is not evaluated; no proxy\r\n", config.autoConfigUrl);
        return result;
    }
    // Auto-detection (or an unreadable configuration) fails to find a proxy: the static one decides.
    std::wstring text = platform::CutToUtf16Units(config.proxy, 255);
    if (text.empty()) return result;
    std::wstring entry = text;
    if (text.find(L'=') != std::wstring::npos) {
        std::wstring value;
        if (ListValue(text, L"https=", value) || ListValue(text, L"http=", value))
            entry = value;
        else if (ListValue(text, L"socks=", value))
            return result;  // a SOCKS proxy is not of type HTTP: not used
    }
    SplitHostPort(entry, result.host, result.port);
    return result;
}

}  // namespace network
