// The transfer layer: blocking HTTP calls in the shape the download manager and the web API
// client use WinInet and WinHTTP (open a session, connect, open a request, send, receive the
// headers, query them, read the body in chunks, close), built on libcurl.
//
// Handles. A session holds the user agent and the proxy choice; a connection names the host, the
// port and whether the transfer is secure; a request is one exchange on a connection. Opening a
// session or a connection touches no network; the request does everything in Send and Read.
// Closing any handle from any thread ends a Send, ReceiveResponse, QueryDataAvailable or Read
// that is blocked on it (they fail with ERROR_INTERNET_OPERATION_CANCELLED); the handle object
// itself lives as long as someone holds it, so closing never pulls memory from under a thread.
//
// Failures set the calling thread's last error (platform::GetLastError) to the WinInet/WinHTTP
// code a Windows transfer would have given, and log the transfer's own reason (libcurl's text).
//
// What differs from the Windows calls, on purpose:
// - TLS certificates are always verified, against the system store plus the deployment's extra
//   CA bundle. Security flags that ask to ignore certificate errors are kept and reported back
//   but change nothing, and a deployment cannot switch verification off.
// - An explicit port in a URL is used; only a URL without a port uses 443 or 80.
// - A wait for bytes that sees none for the deployment's stall time (60 s by default) fails
//   with ERROR_INTERNET_TIMEOUT, so a hung server ends as a failed send or a failed read.
// - Sizes are 64-bit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace network {

using platform::DWORD;

// Codes of WinInet and WinHTTP (both use the same numbers for these).
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr DWORD ERROR_INTERNET_SECURE_FAILURE = 12175;  // WinHTTP's ERROR_WINHTTP_SECURE_FAILURE

// WinInet request flags the system passes.
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;

inline constexpr std::uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr std::uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;

// A URL split as the URL crackers do. `object` runs from the path to the end of the URL (query
// and fragment included; "/" when the URL has no path).
struct UrlParts {
    enum class Scheme { Unknown, Http, Https };
    Scheme scheme = Scheme::Unknown;
    std::wstring schemeText;  // as written, lower case
    std::wstring host;        // without brackets for an IPv6 literal
    std::uint16_t port = 0;   // the URL's port, else the scheme's default (0 for unknown schemes)
    bool explicitPort = false;
    std::wstring object;
    bool secure() const { return scheme == Scheme::Https; }
};
// False (last error ERROR_INTERNET_INVALID_URL) when the text has no "scheme://", no host, or a
// port that is not a number from 1 to 65535. An unknown scheme cracks; callers decide.
bool CrackUrl(std::wstring_view url, UrlParts& parts);

// How a session finds its proxy.
enum class ProxyAccess {
    Preconfig,  // the system's settings (registry, else the host's proxy variables)
    Named,      // the session's proxy text ("host:port" or a per-protocol list)
    Direct,     // no proxy
};

struct SessionOptions {
    std::wstring userAgent;
    ProxyAccess access = ProxyAccess::Preconfig;
    std::wstring proxy;  // for Named
    std::wstring proxyUserName;
    std::wstring proxyPassword;
};

// InternetOpen / WinHttpOpen. Closing it closes every connection and request opened on it.
class TransferSession {
public:
    explicit TransferSession(SessionOptions options) : options_(std::move(options)) {}
    const SessionOptions& options() const { return options_; }
    // The proxy option of a WinHTTP session (WINHTTP_OPTION_PROXY): replaces the access choice.
    void SetProxy(ProxyAccess access, std::wstring proxy);
    void Close() { closed_.store(true); }
    bool closed() const { return closed_.load(); }

private:
    SessionOptions options_;
    std::atomic<bool> closed_{false};
};

// InternetConnect / WinHttpConnect: names the server; no network traffic yet.
class TransferConnection {
public:
    TransferConnection(std::shared_ptr<TransferSession> session, std::wstring host, std::uint16_t port, bool secure)
        : session_(std::move(session)), host_(std::move(host)), port_(port), secure_(secure) {}
    const std::shared_ptr<TransferSession>& session() const { return session_; }
    const std::wstring& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    bool secure() const { return secure_; }
    void Close() { closed_.store(true); }
    bool closed() const { return closed_.load() || session_->closed(); }

private:
    std::shared_ptr<TransferSession> session_;
    std::wstring host_;
    std::uint16_t port_;
    bool secure_;
    std::atomic<bool> closed_{false};
};

std::shared_ptr<TransferSession> OpenTransferSession(SessionOptions options);
// Null (last error set) when the session is closed or the host is empty.
std::shared_ptr<TransferConnection> ConnectTransfer(const std::shared_ptr<TransferSession>& session,
                                                    std::wstring_view host, std::uint16_t port, bool secure);

// One request. Send/ReceiveResponse/QueryDataAvailable/Read are called by one thread at a time;
// the queries of status and headers and Close may come from any thread.
class TransferRequest {
public:
    virtual ~TransferRequest() = default;

    // INTERNET_OPTION_SECURITY_FLAGS / WINHTTP_OPTION_SECURITY_FLAGS. Kept and reported back;
    // certificate errors are never ignored.
    virtual DWORD SecurityFlags() const = 0;
    virtual void SetSecurityFlags(DWORD flags) = 0;

    // Connects (TLS included) and sends the request with the CR LF header block and the body.
    virtual bool Send(std::wstring_view headers, std::string_view body) = 0;
    // Waits for the final response's headers (redirects are followed unless the request was
    // opened with INTERNET_FLAG_NO_AUTO_REDIRECT).
    virtual bool ReceiveResponse() = 0;
    // HttpSendRequest of WinInet: both of the above.
    bool SendRequest(std::wstring_view headers, std::string_view body) {
        return Send(headers, body) && ReceiveResponse();
    }

    // After ReceiveResponse: the status code; the raw header block (status line and headers,
    // each line ended by CR LF, then an empty line); one header's value (first occurrence,
    // name without regard to case), false when absent.
    virtual DWORD StatusCode() const = 0;
    virtual std::wstring RawHeaders() const = 0;
    virtual bool QueryHeader(std::wstring_view name, std::wstring& value) const = 0;

    // Blocks until body bytes are ready or the body is complete: `available` 0 means complete.
    virtual bool QueryDataAvailable(std::size_t& available) = 0;
    // Reads up to `size` bytes; `read` 0 with true means the body is complete. False when the
    // transfer failed (connection cut, body shorter than announced, stall, close).
    virtual bool Read(void* buffer, std::size_t size, std::size_t& read) = 0;

    // Any thread: ends the request; a blocked call returns with ERROR_INTERNET_OPERATION_CANCELLED.
    virtual void Close() = 0;
};

// The primary transport: how requests are opened. The system uses the libcurl one; a test can
// put another in its place (a transport whose send fails, a transport that hangs).
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    // HttpOpenRequest / WinHttpOpenRequest. `verb` is passed unchanged ("GET", "Get", "POST").
    // Null (last error set) when the connection is closed or null.
    virtual std::shared_ptr<TransferRequest> OpenRequest(const std::shared_ptr<TransferConnection>& connection,
                                                         std::wstring_view verb, std::wstring_view object,
                                                         DWORD flags) = 0;
};

// The libcurl transport, shared by everyone.
std::shared_ptr<HttpTransport> CurlTransport();

}  // namespace network
