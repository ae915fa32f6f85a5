#include "network/transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "network/curl_common.h"
#include "network/system_proxy.h"
#include "network/transfer_settings.h"
#include "platform/text.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace network {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes held between the network and Read; above this libcurl's delivery is paused, so a
// reader that does not read costs no memory.
constexpr std::size_t kPendingLimit = 8 * 1024 * 1024;
// libcurl's receive buffer: big enough that a fast link costs few callbacks (libcurl's 16 KiB
// default makes the transfer CPU-bound on loopback).
constexpr long kReceiveBufferBytes = 256 * 1024;
// Longest sleep of a wait, so a closed session (which cannot wake the wait) is noticed soon.
constexpr std::chrono::milliseconds kPollSlice{200};
// Redirects followed for one request before it fails with ERROR_HTTP_REDIRECT_FAILED.
constexpr long kMaxRedirects = 10;

bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

class CurlRequest final : public TransferRequest {
public:
    CurlRequest(std::shared_ptr<TransferConnection> connection, std::wstring_view verb, std::wstring_view object,
                DWORD flags)
        : connection_(std::move(connection)), verb_(UpperAscii(platform::Utf8FromWide(verb))), flags_(flags),
          settings_(CurrentTransferSettings()) {
        // Methods are case-sensitive on the wire; "Get" of the callers is the standard GET.
        std::wstring host = connection_->host();
        if (host.find(L':') != std::wstring::npos) host = L"[" + host + L"]";
        std::wstring url = (connection_->secure() ? L"https://" : L"http://") + host + L":" +
                           std::to_wstring(connection_->port());
        if (object.empty() || object.front() != L'/') url += L"/";
        url += object;
        url_ = platform::Utf8FromWide(url);
        easy_ = curl_easy_init();
        multi_ = curl_multi_init();
    }

    ~CurlRequest() override {
        if (added_) curl_multi_remove_handle(multi_, easy_);
        if (easy_) curl_easy_cleanup(easy_);
        if (multi_) curl_multi_cleanup(multi_);
        if (headerList_) curl_slist_free_all(headerList_);
    }

    bool usable() const { return easy_ && multi_; }

    DWORD SecurityFlags() const override { return securityFlags_.load(); }
    void SetSecurityFlags(DWORD flags) override { securityFlags_.store(flags); }

    bool Send(std::wstring_view headers, std::string_view body) override {
        if (!Usable()) return false;
        if (added_) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        Configure(headers, body);
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
        added_ = true;
        if (!Drive([this] { return sent_ || HeadersComplete(); })) return false;
        if (done_ && result_ != CURLE_OK && !HeadersComplete()) return FailTransfer(result_);
        return true;
    }

    bool ReceiveResponse() override {
        if (!Usable()) return false;
        if (!added_) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        if (!Drive([this] { return HeadersComplete(); })) return false;
        if (HeadersComplete()) return true;
        if (result_ != CURLE_OK) return FailTransfer(result_);
        return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }

    DWORD StatusCode() const override {
        std::lock_guard<std::mutex> lock(headerMutex_);
        return static_cast<DWORD>(status_);
    }

    std::wstring RawHeaders() const override {
        std::lock_guard<std::mutex> lock(headerMutex_);
        std::string block;
        for (const std::string& line : headerLines_) block += line;
        return platform::WideFromUtf8(block);
    }

    bool QueryHeader(std::wstring_view name, std::wstring& value) const override {
        std::string wanted = UpperAscii(platform::Utf8FromWide(name));
        std::lock_guard<std::mutex> lock(headerMutex_);
        for (const std::string& line : headerLines_) {
            auto colon = line.find(':');
            if (colon == std::string::npos || UpperAscii(line.substr(0, colon)) != wanted) continue;
            std::size_t start = line.find_first_not_of(" \t", colon + 1);
            std::size_t end = line.find_last_not_of("\r\n \t");
            value = start == std::string::npos || end < start ? std::wstring()
                                                               : platform::WideFromUtf8(line.substr(start, end - start + 1));
            return true;
        }
        return false;
    }

    bool QueryDataAvailable(std::size_t& available) override {
        available = 0;
        if (!Usable()) return false;
        if (!added_) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        if (PendingSize() == 0 && !done_) {
            if (paused_) {
                paused_ = false;
                curl_easy_pause(easy_, CURLPAUSE_CONT);
            }
            if (!Drive([this] { return PendingSize() != 0; })) return false;
        }
        available = PendingSize();
        if (available == 0 && done_ && result_ != CURLE_OK) return FailTransfer(result_);
        return true;
    }

    bool Read(void* buffer, std::size_t size, std::size_t& read) override {
        read = 0;
        std::size_t available = 0;
        if (!QueryDataAvailable(available)) return false;
        read = std::min(size, available);
        std::memcpy(buffer, pending_.data() + pendingOffset_, read);
        pendingOffset_ += read;
        if (pendingOffset_ == pending_.size()) {
            pending_.clear();
            pendingOffset_ = 0;
        }
        return true;
    }

    void Close() override {
        if (closed_.exchange(true)) return;
        if (multi_) curl_multi_wakeup(multi_);
    }

private:
    bool Closed() const { return closed_.load() || connection_->closed(); }

    bool Usable() {
        if (Closed()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        if (failure_ != 0) return Fail(failure_);
        return true;
    }

    bool Fail(DWORD code) {
        platform::SetLastError(code);
        return false;
    }

    // A failure of the transfer itself: logged with libcurl's reason, and sticky.
    bool FailTransfer(CURLcode code) {
        failure_ = curl::WindowsErrorFromCurl(code);
        util::LogError(L"Transfer of %S failed: %S (libcurl %d), error %d\r\n", url_,
                       errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code), static_cast<int>(code), failure_);
        return Fail(failure_);
    }

    std::size_t PendingSize() const { return pending_.size() - pendingOffset_; }

    bool HeadersComplete() const {
        std::lock_guard<std::mutex> lock(headerMutex_);
        return headersComplete_;
    }

    void Configure(std::wstring_view headers, std::string_view body) {
        body_.assign(body);
        bool hasContentType = false;
        for (const std::wstring& line : util::SplitTokens(headers, L"\n")) {
            std::string text = platform::Utf8FromWide(util::TrimToken(line, L"\r"));
            if (text.empty()) continue;
            if (util::StartsWithNoCase(line, L"Content-Type:")) hasContentType = true;
            headerList_ = curl_slist_append(headerList_, text.c_str());
        }
        // libcurl would add headers that WinInet never sends.
        headerList_ = curl_slist_append(headerList_, "Expect:");
        if (!hasContentType) headerList_ = curl_slist_append(headerList_, "Content-Type:");

        curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
        if (verb_ == "GET" && body_.empty()) {
            curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        } else if (verb_ == "HEAD") {
            curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        } else {
            if (verb_ == "POST")
                curl_easy_setopt(easy_, CURLOPT_POST, 1L);
            else
                curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
            if (!body_.empty() || verb_ == "POST") {
                curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.data());
                curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
            }
        }
        const SessionOptions& session = connection_->session()->options();
        if (!session.userAgent.empty()) {
            userAgent_ = platform::Utf8FromWide(session.userAgent);
            curl_easy_setopt(easy_, CURLOPT_USERAGENT, userAgent_.c_str());
        }
        UrlParts parts;
        parts.scheme = connection_->secure() ? UrlParts::Scheme::Https : UrlParts::Scheme::Http;
        parts.host = connection_->host();
        parts.port = connection_->port();
        proxy_ = ProxyForRequest(session, parts);
        curl::ApplyProxy(easy_, proxy_);
        if (!proxy_.empty()) {
            proxyUser_ = platform::Utf8FromWide(session.proxyUserName);
            proxyPassword_ = platform::Utf8FromWide(session.proxyPassword);
            if (!proxyUser_.empty()) curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
            if (!proxyPassword_.empty()) curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
            // Only the origin's headers belong in the raw header block.
            curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        }
        curl::ApplyTlsVerification(easy_, settings_);
        follow_ = (flags_ & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, follow_ ? 1L : 0L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlRequest::OnPrereq);
        curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
        curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlRequest::OnProgress);
        curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    }

    // Runs the transfer until `ready` holds or it ends; false (last error set) when it was
    // closed, stalled or libcurl itself failed.
    template <class Ready>
    bool Drive(Ready ready) {
        const auto stall = std::chrono::seconds(std::max(1, settings_.stallSeconds));
        auto deadline = Clock::now() + stall;
        std::uint64_t seen = bytesSeen_;
        while (true) {
            if (Closed()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
            if (ready() || done_) return true;
            int running = 0;
            if (curl_multi_perform(multi_, &running) != CURLM_OK) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                done_ = true;
                result_ = message->data.result;
                std::lock_guard<std::mutex> lock(headerMutex_);
                // A finished transfer has its final headers, whatever its last block looked like.
                if (result_ == CURLE_OK && status_ != 0) headersComplete_ = true;
            }
            if (Closed()) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
            if (ready() || done_) return true;
            auto now = Clock::now();
            if (bytesSeen_ != seen) {
                seen = bytesSeen_;
                deadline = now + stall;
            } else if (now >= deadline) {
                failure_ = ERROR_INTERNET_TIMEOUT;
                util::LogError(L"Transfer of %S stalled: no byte for %d seconds\r\n", url_,
                               static_cast<int>(stall.count()));
                return Fail(failure_);
            }
            auto wait = std::min<Clock::duration>(deadline - now, kPollSlice);
            curl_multi_poll(multi_, nullptr, 0,
                            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1,
                            nullptr);
        }
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* request = static_cast<CurlRequest*>(self);
        std::string line(data, size * count);
        request->bytesSeen_ += line.size();
        std::lock_guard<std::mutex> lock(request->headerMutex_);
        if (line.rfind("HTTP/", 0) == 0) {
            request->headerLines_.clear();
            request->headersComplete_ = false;
            request->locationSeen_ = false;
            auto blank = line.find(' ');
            request->status_ = blank == std::string::npos ? 0 : std::strtol(line.c_str() + blank + 1, nullptr, 10);
        } else if (line == "\r\n" || line == "\n") {
            long status = request->status_;
            bool followed = request->follow_ && IsRedirectStatus(status) && request->locationSeen_;
            if (status >= 200 && !followed) request->headersComplete_ = true;
        } else if (util::StartsWithNoCase(platform::WideFromUtf8(line.substr(0, 9)), L"location:")) {
            request->locationSeen_ = true;
        }
        request->headerLines_.push_back(std::move(line));
        return size * count;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* request = static_cast<CurlRequest*>(self);
        std::size_t bytes = size * count;
        if (request->closed_.load()) return 0;
        if (request->PendingSize() != 0 && request->PendingSize() + bytes > kPendingLimit) {
            request->paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        {
            std::lock_guard<std::mutex> lock(request->headerMutex_);
            request->headersComplete_ = true;
        }
        request->bytesSeen_ += bytes;
        if (request->pendingOffset_ != 0) {
            request->pending_.erase(0, request->pendingOffset_);
            request->pendingOffset_ = 0;
        }
        request->pending_.append(data, bytes);
        return bytes;
    }

    static int OnPrereq(void* self, char*, char*, int, int) {
        static_cast<CurlRequest*>(self)->sent_ = true;
        return CURL_PREREQFUNC_OK;
    }

    // The abort flag reaches libcurl here too, for the parts of a transfer between two waits.
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<CurlRequest*>(self)->Closed() ? 1 : 0;
    }

    std::shared_ptr<TransferConnection> connection_;
    std::string verb_;
    DWORD flags_;
    TransferSettings settings_;
    std::string url_;
    std::string userAgent_, proxy_, proxyUser_, proxyPassword_;
    std::string body_;
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    curl_slist* headerList_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    std::atomic<DWORD> securityFlags_{0};
    std::atomic<bool> closed_{false};

    // The thread that sends and reads.
    bool added_ = false;
    bool sent_ = false;
    bool done_ = false;
    bool paused_ = false;
    bool follow_ = true;
    CURLcode result_ = CURLE_OK;
    DWORD failure_ = 0;
    std::uint64_t bytesSeen_ = 0;
    std::string pending_;
    std::size_t pendingOffset_ = 0;

    // Written by the sending thread, read by anyone.
    mutable std::mutex headerMutex_;
    std::vector<std::string> headerLines_;
    long status_ = 0;
    bool headersComplete_ = false;
    bool locationSeen_ = false;
};

class CurlTransportImpl final : public HttpTransport {
public:
    std::shared_ptr<TransferRequest> OpenRequest(const std::shared_ptr<TransferConnection>& connection,
                                                 std::wstring_view verb, std::wstring_view object,
                                                 DWORD flags) override {
        if (!connection || connection->closed()) {
            platform::SetLastError(platform::ERROR_INVALID_HANDLE);
            return nullptr;
        }
        if (!curl::EnsureGlobalInit()) {
            platform::SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
            return nullptr;
        }
        auto request = std::make_shared<CurlRequest>(connection, verb, object, flags);
        if (!request->usable()) {
            platform::SetLastError(platform::ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        return request;
    }
};

}  // namespace

bool CrackUrl(std::wstring_view url, UrlParts& parts) {
    parts = UrlParts{};
    auto fail = [] {
        platform::SetLastError(ERROR_INTERNET_INVALID_URL);
        return false;
    };
    auto sep = url.find(L"://");
    if (sep == std::wstring_view::npos || sep == 0) return fail();
    parts.schemeText = platform::LowerText(url.substr(0, sep));
    for (wchar_t c : parts.schemeText)
        if (!((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.')) return fail();
    if (parts.schemeText == L"http") {
        parts.scheme = UrlParts::Scheme::Http;
        parts.port = INTERNET_DEFAULT_HTTP_PORT;
    } else if (parts.schemeText == L"https") {
        parts.scheme = UrlParts::Scheme::Https;
        parts.port = INTERNET_DEFAULT_HTTPS_PORT;
    }
    std::wstring_view rest = url.substr(sep + 3);
    std::size_t end = rest.find_first_of(L"/?#");
    std::wstring_view authority = rest.substr(0, end);
    parts.object = end == std::wstring_view::npos ? L"/" : std::wstring(rest.substr(end));
    if (!parts.object.empty() && parts.object.front() != L'/') parts.object.insert(0, L"/");
    if (auto at = authority.rfind(L'@'); at != std::wstring_view::npos) authority.remove_prefix(at + 1);
    std::wstring_view portText;
    if (!authority.empty() && authority.front() == L'[') {
        auto close = authority.find(L']');
        if (close == std::wstring_view::npos) return fail();
        parts.host.assign(authority.substr(1, close - 1));
        std::wstring_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != L':') return fail();
            portText = after.substr(1);
            parts.explicitPort = true;
        }
    } else {
        auto colon = authority.rfind(L':');
        if (colon != std::wstring_view::npos) {
            portText = authority.substr(colon + 1);
            parts.explicitPort = true;
            authority = authority.substr(0, colon);
        }
        parts.host.assign(authority);
    }
    if (parts.host.empty()) return fail();
    for (wchar_t c : parts.host)
        if (c <= L' ' || c == L'/' || c == L'\\') return fail();
    if (parts.explicitPort) {
        if (portText.empty() || portText.size() > 5) return fail();
        unsigned value = 0;
        for (wchar_t c : portText) {
            if (c < L'0' || c > L'9') return fail();
            value = value * 10 + static_cast<unsigned>(c - L'0');
        }
        if (value == 0 || value > 65535) return fail();
        parts.port = static_cast<std::uint16_t>(value);
    }
    return true;
}

void TransferSession::SetProxy(ProxyAccess access, std::wstring proxy) {
    options_.access = access;
    options_.proxy = std::move(proxy);
}

std::shared_ptr<TransferSession> OpenTransferSession(SessionOptions options) {
    return std::make_shared<TransferSession>(std::move(options));
}

std::shared_ptr<TransferConnection> ConnectTransfer(const std::shared_ptr<TransferSession>& session,
                                                    std::wstring_view host, std::uint16_t port, bool secure) {
    if (!session || session->closed()) {
        platform::SetLastError(platform::ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (host.empty()) {
        platform::SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return nullptr;
    }
    if (port == 0) port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    return std::make_shared<TransferConnection>(session, std::wstring(host), port, secure);
}

std::shared_ptr<HttpTransport> CurlTransport() {
    static const std::shared_ptr<HttpTransport> transport = std::make_shared<CurlTransportImpl>();
    return transport;
}

}  // namespace network
