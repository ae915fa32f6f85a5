#include "network/web_api_helper.h"

#include <mutex>

#include "network/hub_interface.h"
#include "network/system_proxy.h"
#include "network/transfer_settings.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "util/log.h"

namespace network {

std::atomic<std::uint32_t> WebAPIHelper::lastStatusCode_{200};
std::atomic<std::uint32_t> WebAPIHelper::lastErrorCode_{0};

namespace {

// WinHTTP's security flags of the client: unknown CA, wrong usage, invalid name, invalid date.
// Certificates are verified all the same.
constexpr DWORD kWebApiIgnoreCertificateFlags = 0x00003300;

std::mutex g_transportMutex;
std::shared_ptr<HttpTransport>& TransportSlot() {
    static auto* slot = new std::shared_ptr<HttpTransport>();
    return *slot;
}

std::shared_ptr<HttpTransport> Transport() {
    std::lock_guard<std::mutex> lock(g_transportMutex);
    return TransportSlot() ? TransportSlot() : CurlTransport();
}

bool AtLeastWindows(std::uint32_t major, std::uint32_t minor) {
    const platform::MachineProfile& profile = platform::CurrentProfile();
    return profile.majorVersion > major || (profile.majorVersion == major && profile.minorVersion >= minor);
}

// The proxy of a no-proxy session: the static proxy, replaced by the script's answer, replaced
// by auto-detection's. Neither automatic answer exists here (see system_proxy.h).
void ApplyPerUrlProxy(TransferSession& session, const UrlParts& url) {
    InternetProxyConfig config;
    if (!ReadInternetProxyConfig(config)) return;
    std::wstring candidate = config.proxy;
    if (!config.autoConfigUrl.empty()) {
        util::LogDebug(L"Proxy auto-config script %s is not evaluated; no proxy\r\n", config.autoConfigUrl);
        candidate.clear();
    }
    if (candidate.empty() || BypassListMatches(config.proxyBypass, url.host)) return;
    session.SetProxy(ProxyAccess::Named, candidate);
}

}  // namespace

void WebAPIHelper::SetTransport(std::shared_ptr<HttpTransport> transport) {
    std::lock_guard<std::mutex> lock(g_transportMutex);
    TransportSlot() = std::move(transport);
}

bool WebAPIHelper::Request(std::wstring_view url, const std::string& body, std::wstring& responseHeaders,
                           std::string& responseBody, std::wstring_view verb, std::wstring_view extraHeaders) {
    lastErrorCode_.store(0, std::memory_order_relaxed);
    lastStatusCode_.store(200, std::memory_order_relaxed);

    UrlParts parts;
    if (!CrackUrl(url, parts) || parts.scheme == UrlParts::Scheme::Unknown) {
        util::LogDebug(L"Invalid url: %s", url);
        return false;
    }

    std::shared_ptr<TransferSession> session;
    std::shared_ptr<TransferConnection> connection;
    std::shared_ptr<TransferRequest> request;
    auto failurePath = [&](platform::DWORD error) {
        lastErrorCode_.store(error, std::memory_order_relaxed);
        if (request) {
            platform::DWORD status = request->StatusCode();
            if (status != 0) lastStatusCode_.store(status, std::memory_order_relaxed);
        }
        util::LogDebug(L"WebAPIHelper::Request Error occurred, LastErrorCode:%u, dwStatusCode:%u", LastErrorCode(),
                       LastStatusCode());
        if (request) request->Close();
        if (connection) connection->Close();
        if (session) session->Close();
        return false;
    };

    SessionOptions options;
    options.userAgent = kUserAgent;
    bool automaticProxy = AtLeastWindows(6, 3);
    options.access = automaticProxy ? ProxyAccess::Preconfig : ProxyAccess::Direct;
    session = OpenTransferSession(options);
    if (!automaticProxy) ApplyPerUrlProxy(*session, parts);
    // Windows 7 and 8 enable TLS 1.1 and 1.2 here; the transfer layer never offers less than TLS 1.2.

    // The URL's port when it names one; TLS exactly for https.
    connection = ConnectTransfer(session, parts.host, parts.port, parts.secure());
    if (!connection) {
        platform::DWORD error = platform::GetLastError();
        util::LogDebug(L"Error %u in WinHttpConnect", error);
        return failurePath(error);
    }
    request = Transport()->OpenRequest(connection, verb, parts.object, parts.secure() ? INTERNET_FLAG_SECURE : 0);
    if (!request) {
        platform::DWORD error = platform::GetLastError();
        util::LogDebug(L"Error %u in WinHttpOpenRequest", error);
        return failurePath(error);
    }
    if (parts.secure()) request->SetSecurityFlags(kWebApiIgnoreCertificateFlags);

    std::wstring headers(extraHeaders.empty() ? std::wstring_view(kDefaultHeader) : extraHeaders);
    if (headers.size() < 2 || headers.compare(headers.size() - 2, 2, L"\r\n") != 0) headers += L"\r\n";
    if (!request->Send(headers, body)) {
        platform::DWORD error = platform::GetLastError();
        util::LogDebug(L"Error %u in WinHttpSendRequest", error);
        return failurePath(error);
    }
    if (!request->ReceiveResponse()) {
        platform::DWORD error = platform::GetLastError();
        util::LogDebug(L"Error %u in WinHttpReceiveResponse", error);
        return failurePath(error);
    }
    platform::DWORD status = request->StatusCode();
    lastStatusCode_.store(status, std::memory_order_relaxed);
    if (status >= 500 && status <= 599) {
        util::LogDebug(L"Server error responses, dwStatusCode:%u", status);
        return failurePath(0);
    }
    responseHeaders = request->RawHeaders();

    std::string accumulator;
    bool complete = false;
    platform::DWORD error = 0;
    while (true) {
        std::size_t available = 0;
        if (!request->QueryDataAvailable(available)) {
            error = platform::GetLastError();
            util::LogDebug(L"Error %u in WinHttpQueryDataAvailable", error);
            break;
        }
        if (available == 0) {
            complete = true;
            break;
        }
        std::string chunk(available + 1, '\0');
        std::size_t read = 0;
        if (!request->Read(chunk.data(), available, read)) {
            error = platform::GetLastError();
            util::LogDebug(L"Error %u in WinHttpReadData", error);
            break;
        }
        accumulator.append(chunk.data(), read);
    }
    responseBody += accumulator;
    if (!complete) return failurePath(error);
    request->Close();
    connection->Close();
    session->Close();
    return true;
}

std::wstring UpdateCheckUrl() {
    std::wstring url;
    if (hub::ReadHubSetting(hub::kVersionServerKey, url)) return url;
    return AccountApiBase() + L"/api/update/check";
}

std::wstring GeneralSettingsUrl() { return AccountApiBase() + L"/api/setting/general"; }

std::wstring StatisticsUrl() {
    std::wstring base;
    if (!hub::ReadHubSetting(hub::kAccountServerKey, base)) base = AccountApiBase();
    return base + L"/api/stat";
}

}  // namespace network
