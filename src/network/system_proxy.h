// The machine's proxy settings and the proxy choice of a transfer.
//
// Where the system's settings come from: the current user's Internet Explorer settings in the
// machine's registry (HKCU "Software\Microsoft\Windows\CurrentVersion\Internet Settings":
// ProxyEnable, ProxyServer, ProxyOverride, AutoConfigURL, and the auto-detect flag in
// "Connections\DefaultConnectionSettings"). When the registry names none of them (no enabled
// proxy, no script, no auto-detection), the host's http_proxy / https_proxy / no_proxy variables
// are the system's settings, as a desktop's own proxy configuration would be.
//
// Automatic configuration is not evaluated: a configuration script (AutoConfigURL) gives "no
// proxy" with a log line naming the script, and auto-detection finds no WPAD answer (as on a
// network that offers none), so the static proxy is used when one is set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "network/transfer.h"

namespace network {

inline constexpr wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// What WinHttpGetIEProxyConfigForCurrentUser reports.
struct InternetProxyConfig {
    bool autoDetect = false;
    std::wstring autoConfigUrl;  // empty: none
    std::wstring proxy;          // empty: none (ProxyServer, only when ProxyEnable is not 0)
    std::wstring proxyBypass;    // ProxyOverride
    bool proxyEnableSet = false; // a ProxyEnable value exists
    bool proxyEnabled = false;   // ProxyEnable is not 0
    std::wstring proxyServer;    // ProxyServer as stored, whatever ProxyEnable says
};
// False when the key cannot be opened (no settings at all).
bool ReadInternetProxyConfig(InternetProxyConfig& config);

// Writers for tests, tools and demos: set the static proxy the way the Internet Options dialog
// does (ProxyEnable and ProxyServer), or clear it.
bool WriteStaticProxy(std::wstring_view server, bool enable);

// The entry of a proxy list for a scheme: "host:port" lists are used whole; in a per-protocol
// list ("http=a:1;https=b:2;socks=c:3") the entry of the scheme, else none. Empty when none.
std::wstring ProxyEntryForScheme(std::wstring_view list, bool secure);

// libcurl's proxy text for a transfer: "" for a direct transfer, else "http://host:port" (or
// "socks4://host:port" for a SOCKS entry).
std::string CurlProxyText(std::wstring_view entry);

// The proxy a session of `options` uses for `url`, as libcurl's proxy text.
std::string ProxyForRequest(const SessionOptions& options, const UrlParts& url);

// The system's proxy for a URL (ProxyAccess::Preconfig).
std::string SystemProxyForUrl(const UrlParts& url);

// True when a host matches a ProxyOverride list ("<local>", "*.example.com", "10.*").
bool BypassListMatches(std::wstring_view list, std::wstring_view host);

// The proxy chosen for a download task before it starts: the analytics tracker's proxy when it
// has one, else the automatic lookup, else the configuration's static proxy (its https entry,
// else http, else socks). Only an HTTP proxy is used; `host` empty means none.
struct DownloadProxy {
    std::wstring host;
    int port = 80;
};
DownloadProxy ChooseDownloadProxy(std::wstring_view trackerProxyHost, int trackerProxyPort);

}  // namespace network
