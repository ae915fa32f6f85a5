#include "network/curl_fallback.h"

#include <curl/curl.h>

#include <mutex>

#include "network/curl_common.h"
#include "network/system_proxy.h"
#include "network/transfer_settings.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "util/log.h"

namespace network {

namespace {

// Redirects libcurl follows within one perform. Without a bound a redirect loop would only end
// at the whole-transfer time-out; with it, the loop ends in TOO_MANY_REDIRECTS and the status
// 302, and the rounds below ask again.
constexpr long kFallbackMaxRedirects = 10;
constexpr int kRedirectRounds = 10;

std::mutex g_proxyMutex;
std::string& ProxyTextStorage() {
    static std::string* text = new std::string;  // outlives threads still running at exit
    return *text;
}

struct TransferTarget {
    platform::File file;
    const FallbackProgress* progress = nullptr;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
    auto* target = static_cast<TransferTarget*>(user);
    // A write problem does not stop the transfer: the owner checks size and digest later.
    if (target->file.IsValid()) target->file.Write(data, size * count);
    return size * count;
}

int Progress(void* user, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t) {
    auto* target = static_cast<TransferTarget*>(user);
    if (!target->progress || !*target->progress) return 0;
    return (*target->progress)(static_cast<std::int64_t>(received), static_cast<std::int64_t>(expected));
}

// Verbose output goes to the log, one line per informational text of libcurl.
int VerboseToLog(CURL*, curl_infotype type, char* data, size_t size, void*) {
    if (type != CURLINFO_TEXT) return 0;
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) util::LogDebug(L"curl: %S\r\n", line);
    return 0;
}

bool StartsWithNoCaseAscii(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

}  // namespace

void LoadSystemProxy() {
    InternetProxyConfig config;
    std::lock_guard<std::mutex> lock(g_proxyMutex);
    if (ReadInternetProxyConfig(config) && config.proxyEnableSet && config.proxyEnabled)
        ProxyTextStorage() = platform::Utf8FromWide(config.proxyServer);
    if (!ProxyTextStorage().empty()) util::LogDebug(L"Proxy: %S", ProxyTextStorage());
}

std::string SystemProxyText() {
    std::lock_guard<std::mutex> lock(g_proxyMutex);
    return ProxyTextStorage();
}

void SetSystemProxyText(std::string text) {
    std::lock_guard<std::mutex> lock(g_proxyMutex);
    ProxyTextStorage() = std::move(text);
}

std::string FallbackProxyForUrl(std::string_view url, std::string_view proxyText) {
    std::string_view key;
    if (StartsWithNoCaseAscii(url, "http://"))
        key = "http=";
    else if (StartsWithNoCaseAscii(url, "https://"))
        key = "https=";
    if (!key.empty()) {
        // The key must start an entry: "https=" holds no "http=" match this way.
        std::size_t at = proxyText.find(key);
        while (at != std::string_view::npos && at != 0 && proxyText[at - 1] != ';' && proxyText[at - 1] != ' ')
            at = proxyText.find(key, at + 1);
        if (at != std::string_view::npos) {
            std::size_t start = at + key.size();
            std::size_t end = proxyText.find(';', start);
            return std::string(proxyText.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        }
    }
    if (proxyText.find('=') == std::string_view::npos) return std::string(proxyText);
    return {};
}

long CurlDownload(const std::string& url, const std::wstring& localFile, const FallbackProgress& progress,
                  const std::string& headerValue, int headerKind, bool post, const std::string& postData) {
    if (!curl::EnsureGlobalInit()) return 0;
    CURL* curl = curl_easy_init();
    if (!curl) {
        util::LogDebug(L"Failed on access: %S, status error:%d, error: %S, res: %d", url, 0,
                       curl_easy_strerror(CURLE_FAILED_INIT), static_cast<int>(CURLE_FAILED_INIT));
        return 0;
    }
    TransferSettings settings = CurrentTransferSettings();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl::ApplyTlsVerification(curl, settings);
    if (!postData.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postData.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData.size()));
    }
    curl_slist* headers = nullptr;
    if (!headerValue.empty()) {
        std::string line = (headerKind == kFallbackHeaderAuthorization ? "Authorization" : "Referer");
        line += ": " + headerValue;
        headers = curl_slist_append(headers, line.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }

    TransferTarget target;
    target.progress = &progress;
    target.file = platform::File::Open(localFile, platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                                       platform::CREATE_ALWAYS);
    if (target.file.IsValid()) GrantUsersModify(localFile);

    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kFallbackMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteToFile);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &target);
    // No proxy from the system text: libcurl takes the host's proxy variables, as the system's
    // settings do when the registry names none.
    std::string proxy = FallbackProxyForUrl(url, SystemProxyText());
    if (!proxy.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &VerboseToLog);
    if (post) curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 600L);
    // A stalled body ends the transfer well before the whole-transfer time-out.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max(1, settings.stallSeconds)));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024L);

    CURLcode res = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    for (int round = 1; round <= kRedirectRounds && code == 302; ++round) {
        char* effective = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective) break;
        std::string next = effective;
        curl_easy_setopt(curl, CURLOPT_URL, next.c_str());
        res = curl_easy_perform(curl);
        code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        util::LogDebug(L"RedirectTimes:%d, RedirectURL: %S, RedirectResponescode: %d", round, next,
                       static_cast<int>(code));
    }
    if (res != CURLE_OK)
        util::LogDebug(L"Failed on access: %S, status error:%d, error: %S, res: %d", url, static_cast<int>(code),
                       curl_easy_strerror(res), static_cast<int>(res));
    else
        util::LogDebug(L"Succeed on access: %S", url);

    target.file.Close();
    curl_easy_cleanup(curl);
    if (headers) curl_slist_free_all(headers);
    return code;
}

void GrantUsersModify(const std::wstring& path) {
    platform::StartOptions options;
    options.hidden = true;
    platform::ShellExecute(L"open", L"icacls.exe", L"\"" + path + L"\" /grant Users:M /T", options, nullptr);
}

}  // namespace network
