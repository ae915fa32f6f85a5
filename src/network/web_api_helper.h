// The web API client: one blocking request with a JSON (or empty) body to the maker's web API.
// Every call opens and closes its own session, connection and request; what survives a call is
// the pair of process-wide result values.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "network/transfer.h"

namespace network {

class WebAPIHelper {
public:
    static constexpr wchar_t kUserAgent[] = L"Velmo/1.0";
    static constexpr wchar_t kDefaultHeader[] = L"Content-Type: application/json";

    // Sends `body` with `verb` (passed through) and `extraHeaders` (or the JSON content type
    // when empty). The raw response headers replace `responseHeaders`; the body bytes are
    // appended to `responseBody`, even when reading fails part-way. True when a response that is
    // not a server error (5xx) was read completely; 4xx answers are true.
    static bool Request(std::wstring_view url, const std::string& body, std::wstring& responseHeaders,
                        std::string& responseBody, std::wstring_view verb, std::wstring_view extraHeaders);

    // Set to 200 at the start of every call, then to the response's status. Shared by all
    // callers: read it right after your own call.
    static std::uint32_t LastStatusCode() { return lastStatusCode_.load(std::memory_order_relaxed); }
    // Set to 0 at the start of every call; on failure the Windows code of the failed step.
    static std::uint32_t LastErrorCode() { return lastErrorCode_.load(std::memory_order_relaxed); }

    // The transport requests go through (tests put another in place); null restores libcurl's.
    static void SetTransport(std::shared_ptr<HttpTransport> transport);

private:
    static std::atomic<std::uint32_t> lastStatusCode_;
    static std::atomic<std::uint32_t> lastErrorCode_;
};

// The three endpoint URLs, with the hub settings file read afresh for each.
// "versionServer" replaces the whole update-check URL.
std::wstring UpdateCheckUrl();
std::wstring GeneralSettingsUrl();
// "accountServer" replaces the base; "/api/stat" is appended either way.
std::wstring StatisticsUrl();

}  // namespace network
