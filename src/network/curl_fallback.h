// The fallback transfer over libcurl: when the primary transport cannot even send a request,
// the read thread of that request downloads the URL again with libcurl into the same local file
// and reports the HTTP status of the last response (0 when none arrived).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace network {

// Called with (bytes received, bytes expected) during the transfer; a result other than 0 ends
// the transfer (the download manager's abort flag reaches libcurl this way).
using FallbackProgress = std::function<int(std::int64_t received, std::int64_t expected)>;

// Refreshes the process-wide system proxy text from the machine's Internet settings: the proxy
// server text replaces it only when ProxyEnable reads and is not 0, so a disabled proxy keeps the
// previous fallback's proxy. Logs "Proxy: %s" when the text is not empty.
void LoadSystemProxy();
std::string SystemProxyText();
// For tests and tools: sets the text as LoadSystemProxy would.
void SetSystemProxyText(std::string text);

// The proxy of the system proxy text for a URL: the "http=" or "https=" entry of a per-protocol
// list, the whole text when it has no "=", else none (empty).
std::string FallbackProxyForUrl(std::string_view url, std::string_view proxyText);

// Header kind 1 names the header "Authorization", any other "Referer".
inline constexpr int kFallbackHeaderAuthorization = 1;

// Downloads `url` (UTF-8) into `localFile`, which is truncated first. A 302 answer that libcurl
// did not follow further is asked again at most 10 times. Returns the last response code.
long CurlDownload(const std::string& url, const std::wstring& localFile, const FallbackProgress& progress,
                  const std::string& headerValue = {}, int headerKind = 0, bool post = false,
                  const std::string& postData = {});

// Starts "icacls.exe "<path>" /grant Users:M /T" hidden through the shell, without waiting;
// a failure to start is not reported.
void GrantUsersModify(const std::wstring& path);

}  // namespace network
