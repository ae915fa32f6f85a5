#include "network/curl_common.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <map>
#include <memory>
#include <mutex>

#include "network/transfer.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "util/log.h"

namespace network::curl {

namespace {

struct ExtraCa {
    std::string pem;
};

// Adds every certificate of the extra bundle to the context's store, after libcurl has loaded
// the system store into it.
CURLcode AddExtraCa(CURL*, void* sslCtx, void* userData) {
    auto* extra = static_cast<const ExtraCa*>(userData);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslCtx));
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(extra->pem.data(), static_cast<int>(extra->pem.size())),
                                                  &BIO_free);
    if (!bio || !store) return CURLE_OK;
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(store, cert);
        X509_free(cert);
    }
    ERR_clear_error();  // the end of the PEM text leaves a "no start line" error behind
    return CURLE_OK;
}

// The extra bundles by path, read once: transfers come often, the bundle changes with a deployment.
std::mutex g_caMutex;

std::shared_ptr<const ExtraCa> LoadExtraCa(const std::wstring& path) {
    static std::map<std::wstring, std::shared_ptr<const ExtraCa>>* cache = new std::map<std::wstring, std::shared_ptr<const ExtraCa>>;
    std::lock_guard<std::mutex> lock(g_caMutex);
    auto it = cache->find(path);
    if (it != cache->end()) return it->second;
    auto extra = std::make_shared<ExtraCa>();
    if (!platform::ReadWholeFile(platform::FromExternalPath(path), extra->pem)) {
        util::LogError(L"The extra CA bundle %s cannot be read (error %d); only the system store is trusted\r\n", path,
                       platform::GetLastError());
        return nullptr;
    }
    (*cache)[path] = extra;
    return extra;
}

}  // namespace

bool EnsureGlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

void ApplyTlsVerification(CURL* easy, const TransferSettings& settings) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (settings.caBundle.empty()) return;
    std::shared_ptr<const ExtraCa> extra = LoadExtraCa(settings.caBundle);
    if (!extra) return;
    // The cache entry lives for the process, so the pointer outlives every handle.
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &AddExtraCa);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, const_cast<ExtraCa*>(extra.get()));
    // A cached store would skip the context callback's additions on later handles.
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
}

void ApplyProxy(CURL* easy, const std::string& proxy) {
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    if (!proxy.empty()) curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
}

platform::DWORD WindowsErrorFromCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return 0;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        case CURLE_URL_MALFORMAT:
            return ERROR_INTERNET_INVALID_URL;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_ABORTED_BY_CALLBACK:
            return ERROR_INTERNET_OPERATION_CANCELLED;
        case CURLE_TOO_MANY_REDIRECTS:
            return ERROR_HTTP_REDIRECT_FAILED;
        case CURLE_PEER_FAILED_VERIFICATION:
            return ERROR_INTERNET_INVALID_CA;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return ERROR_INTERNET_SECURE_FAILURE;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return ERROR_INTERNET_CONNECTION_RESET;
        case CURLE_PARTIAL_FILE:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_OUT_OF_MEMORY:
            return platform::ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

}  // namespace network::curl
