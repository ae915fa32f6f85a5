// The reference web API service, driven over loopback with libcurl as a black box.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <map>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/run_binary.h"
#include "support/service.h"
#include "support/temp_machine.h"

namespace {

using velmo_test::ReadFileText;
using velmo_test::ServiceFixture;
using nlohmann::json;

struct Answer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string error;
};

struct Call {
    std::string url;
    std::string method = "GET";
    std::vector<std::string> headers;
    std::string body;
    std::string caFile;  // empty: the system store only
    bool follow = false;
    long timeoutMs = 60000;  // the whole transfer
};

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<Answer*>(user)->body.append(data, size * count);
    return size * count;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    std::string line(data, size * count);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
        static_cast<Answer*>(user)->headers[name] = value;
    }
    return size * count;
}

// One request on a fresh connection, so that no fault lands on a reused one.
Answer Fetch(const Call& call) {
    Answer a;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    char error[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    for (const auto& h : call.headers) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &a);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &a);
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, call.timeoutMs);
    if (!call.caFile.empty()) curl_easy_setopt(curl.get(), CURLOPT_CAINFO, call.caFile.c_str());
    if (call.follow) {
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    }
    if (call.method == "POST") {
        curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, call.body.data());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size()));
    }
    a.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &a.status);
    a.error = error;
    curl_slist_free_all(headers);
    return a;
}

Answer Get(const std::string& url, std::vector<std::string> headers = {}) {
    Call c;
    c.url = url;
    c.headers = std::move(headers);
    return Fetch(c);
}

std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

class ServiceTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) std::cerr << "velmo-service log:\n" << service_.Log();
    }
    ServiceFixture service_;
};

TEST_F(ServiceTest, ServesTheCatalogueEndpoints) {
    service_.WriteInstallConfiguration("hearthview2024", "[Setup]\r\nname=Hearthview\r\n", "stat-42\n");
    service_.WriteInstallConfiguration("plain", "[Setup]\r\n");
    service_.WriteCatalogueFile("update.json", R"({"code":0,"result":[]})");
    service_.WriteCatalogueFile("settings.json", R"({"download_retry_numbers":3,"download_retry_interval":1})");
    service_.WritePackage("sub/app.zip", "zip bytes");

    struct Case {
        std::string path;
        long status;
        std::string body;  // empty: not checked
        std::string statisticId;
    } cases[] = {
        {"/api/install/hearthview2024?arch=x64&instver=2.0.1.50", 200, "[Setup]\r\nname=Hearthview\r\n", "stat-42"},
        {"/api/install/plain?instver=2.0.1.50&test=2", 200, "[Setup]\r\n", ""},
        {"/api/install/unknown?instver=2.0.1.50", 404, "", ""},
        {"/api/update/check", 200, R"({"code":0,"result":[]})", ""},
        {"/api/setting/general", 200, R"({"download_retry_numbers":3,"download_retry_interval":1})", ""},
        {"/packages/sub/app.zip", 200, "zip bytes", ""},
        {"/packages/missing.zip", 404, "", ""},
        {"/packages/../update.json", 404, "", ""},
        {"/nothing/here", 404, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Answer a = Get(service_.HttpUrl(c.path));
        EXPECT_EQ(a.code, CURLE_OK) << a.error;
        EXPECT_EQ(a.status, c.status);
        if (!c.body.empty()) {
            EXPECT_EQ(a.body, c.body);
        }
        if (c.statisticId.empty()) {
            EXPECT_EQ(a.headers.count("x-statistic-id"), 0u);
        } else {
            EXPECT_EQ(a.headers["x-statistic-id"], c.statisticId);
        }
    }

    // Every request is on record, query and headers included.
    auto requests = service_.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    EXPECT_EQ(requests[0]["target"], "/api/install/hearthview2024?arch=x64&instver=2.0.1.50");
    EXPECT_EQ(requests[0]["path"], "/api/install/hearthview2024");
    EXPECT_EQ(requests[0]["headers"]["Host"], "127.0.0.1:" + std::to_string(service_.HttpPort()));
}

TEST_F(ServiceTest, AnswersRangesWith206And416) {
    const std::string content = Bytes(1000);
    service_.WritePackage("p.bin", content);
    struct Case {
        std::string range;
        long status;
        std::size_t begin, length;
        std::string contentRange;
    } cases[] = {
        {"bytes=100-", 206, 100, 900, "bytes 100-999/1000"},
        {"bytes=0-9", 206, 0, 10, "bytes 0-9/1000"},
        {"bytes=990-5000", 206, 990, 10, "bytes 990-999/1000"},
        {"bytes=-24", 206, 976, 24, "bytes 976-999/1000"},
        {"bytes=999-", 206, 999, 1, "bytes 999-999/1000"},
        {"bytes=1000-", 416, 0, 0, "bytes */1000"},
        {"bytes=5000-", 416, 0, 0, "bytes */1000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        Answer a = Get(service_.HttpUrl("/packages/p.bin"), {"Range: " + c.range});
        ASSERT_EQ(a.code, CURLE_OK) << a.error;
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.headers["content-range"], c.contentRange);
        EXPECT_EQ(a.headers["content-length"], std::to_string(c.length));
        EXPECT_EQ(a.body, content.substr(c.begin, c.length));
    }
    Answer whole = Get(service_.HttpUrl("/packages/p.bin"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, content);
    EXPECT_EQ(whole.headers["accept-ranges"], "bytes");
}

TEST_F(ServiceTest, ServesRangesOfASparseMultiGigabytePackage) {
    const std::uint64_t size = 5ull * 1024 * 1024 * 1024;
    service_.WriteSparsePackage("big.bin", size);
    Answer a = Get(service_.HttpUrl("/packages/big.bin"), {"Range: bytes=" + std::to_string(size - 16) + "-"});
    ASSERT_EQ(a.code, CURLE_OK) << a.error;
    EXPECT_EQ(a.status, 206);
    EXPECT_EQ(a.headers["content-range"],
              "bytes " + std::to_string(size - 16) + "-" + std::to_string(size - 1) + "/" + std::to_string(size));
    EXPECT_EQ(a.body, std::string(16, '\0'));
}

TEST_F(ServiceTest, AppliesEveryFaultEffect) {
    const std::string content = Bytes(4000);
    service_.WritePackage("f.bin", content);
    const std::string url = service_.HttpUrl("/packages/f.bin?x=1");

    struct Case {
        const char* name;
        json rule;
        Call call;
        CURLcode code;
        long status;
        std::string body;
    } cases[] = {
        {"status with body", {{"path", "/packages/f.bin"}, {"status", 404}, {"body", "gone"}}, {}, CURLE_OK, 404, "gone"},
        {"status", {{"path", "/packages/f.bin"}, {"status", 503}}, {}, CURLE_OK, 503, "velmo-service fault: status 503\n"},
        {"delay, then the normal answer", {{"path", "/packages/f.bin"}, {"delayMs", 50}}, {}, CURLE_OK, 200, content},
        {"rate limit, then the whole body", {{"path", "/packages/f.bin"}, {"rateBytesPerSec", 40000}}, {}, CURLE_OK, 200, content},
        {"cut after 10 bytes", {{"path", "/packages/f.bin"}, {"cutAfterBytes", 10}}, {}, CURLE_PARTIAL_FILE, 200, content.substr(0, 10)},
        {"drop", {{"prefix", "/packages/"}, {"drop", true}}, {}, CURLE_GOT_NOTHING, 0, ""},
        {"redirect loop", {{"path", "/packages/f.bin"}, {"redirectLoop", true}}, {}, CURLE_TOO_MANY_REDIRECTS, 302, ""},
        {"stall after 5 bytes", {{"path", "/packages/f.bin"}, {"stallAfterBytes", 5}}, {}, CURLE_OPERATION_TIMEDOUT, 200, content.substr(0, 5)},
        {"a rule for another path", {{"path", "/packages/other.bin"}, {"status", 500}}, {}, CURLE_OK, 200, content},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        service_.WriteFaults(json::array({c.rule}));
        c.call.url = url;
        c.call.follow = c.code == CURLE_TOO_MANY_REDIRECTS;
        // A stalled body never ends by itself; the client's time-out ends it.
        if (c.code == CURLE_OPERATION_TIMEDOUT) c.call.timeoutMs = 3000;
        Answer a = Fetch(c.call);
        EXPECT_EQ(a.code, c.code) << a.error;
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.body.size(), c.body.size());
        EXPECT_EQ(a.body, c.body);
    }
}

TEST_F(ServiceTest, RedirectLoopPointsAtTheRequestItself) {
    service_.WriteFaults(json::array({{{"path", "/api/update/check"}, {"redirectLoop", true}}}));
    const std::string url = service_.HttpUrl("/api/update/check?a=1&b=2");
    Answer a = Get(url);
    EXPECT_EQ(a.status, 302);
    EXPECT_EQ(a.headers["location"], url);
}

TEST_F(ServiceTest, TimesLimitsARuleAndLaterRulesTakeOver) {
    service_.WritePackage("t.bin", "payload");
    service_.WriteFaults(json::array({
        {{"path", "/packages/t.bin"}, {"times", 2}, {"status", 500}},
        {{"prefix", "/packages/t"}, {"times", 1}, {"status", 404}},
    }));
    std::vector<long> statuses;
    for (int i = 0; i < 5; ++i) statuses.push_back(Get(service_.HttpUrl("/packages/t.bin")).status);
    EXPECT_EQ(statuses, (std::vector<long>{500, 500, 404, 200, 200}));

    // A changed file is read again and its counters start afresh.
    service_.WriteFaults(json::array({{{"path", "/packages/t.bin"}, {"times", 1}, {"status", 502}}}));
    EXPECT_EQ(Get(service_.HttpUrl("/packages/t.bin")).status, 502);
    EXPECT_EQ(Get(service_.HttpUrl("/packages/t.bin")).status, 200);
    service_.ClearFaults();
    EXPECT_EQ(Get(service_.HttpUrl("/packages/t.bin")).status, 200);
}

TEST_F(ServiceTest, RejectsAFaultFileWithAnUnknownMemberAndServesNormally) {
    service_.WritePackage("u.bin", "payload");
    service_.WriteFaults(json::array({{{"path", "/packages/u.bin"}, {"status", 500}, {"statuss", 1}}}));
    Answer a = Get(service_.HttpUrl("/packages/u.bin"));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(service_.Log().find("unknown member \"statuss\""), std::string::npos);
}

TEST_F(ServiceTest, StopsCleanlyOnSigtermWhileARequestHangs) {
    service_.WriteFaults(json::array({{{"path", "/api/update/check"}, {"delayMs", 600000}}}));
    std::thread client([this] {
        Answer a = Get(service_.HttpUrl("/api/update/check"));
        EXPECT_NE(a.code, CURLE_OK);
    });
    // The request is on record before its delay begins.
    for (int i = 0; i < 500 && service_.Requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int status = service_.Stop();
    client.join();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(service_.Log().find("stopped\n"), std::string::npos);
}

TEST(ServiceTlsTest, HttpsIsTrustedThroughTheTestCaAlone) {
    using velmo_test::ServerCertificate;
    struct Case {
        const char* name;
        ServerCertificate certificate;
        bool withCa;
        CURLcode code;
    } cases[] = {
        {"issued by the test CA, CA given", ServerCertificate::SignedByTestCa, true, CURLE_OK},
        {"issued by the test CA, system store only", ServerCertificate::SignedByTestCa, false, CURLE_PEER_FAILED_VERIFICATION},
        {"self-signed", ServerCertificate::SelfSigned, true, CURLE_PEER_FAILED_VERIFICATION},
        {"another host's name", ServerCertificate::WrongHost, true, CURLE_PEER_FAILED_VERIFICATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceFixture service({c.certificate});
        service.WriteCatalogueFile("settings.json", R"({"download_retry_numbers":1})");
        Call call;
        call.url = service.HttpsUrl("/api/setting/general");
        if (c.withCa) call.caFile = service.CaBundle().string();
        Answer a = Fetch(call);
        EXPECT_EQ(a.code, c.code) << a.error;
        if (c.code == CURLE_OK) {
            EXPECT_EQ(a.status, 200);
            EXPECT_EQ(a.body, R"({"download_retry_numbers":1})");
        }
    }
}

TEST_F(ServiceTest, HttpsAppliesFaultsAndRangesToo) {
    service_.WritePackage("s.bin", Bytes(300));
    service_.WriteFaults(json::array({{{"path", "/packages/s.bin"}, {"times", 1}, {"drop", true}}}));
    Call call;
    call.url = service_.HttpsUrl("/packages/s.bin");
    call.caFile = service_.CaBundle().string();
    EXPECT_NE(Fetch(call).code, CURLE_OK);
    call.headers = {"Range: bytes=200-"};
    Answer a = Fetch(call);
    ASSERT_EQ(a.code, CURLE_OK) << a.error;
    EXPECT_EQ(a.status, 206);
    EXPECT_EQ(a.body, Bytes(300).substr(200));
}

// The sending side's steps, written here from the description of the event, not from any
// installer code: key = MD5 hex text of the secret, vector = first 16 characters of the MD5 hex
// text of the key, zero bytes up to whole blocks, AES-256-CBC with PKCS#7, standard Base64.
std::string Md5HexOf(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char buffer[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", digest[i]);
        hex += buffer;
    }
    return hex;
}

std::string EncryptEvent(const std::string& event, const std::string& secret, bool zeroPad = true) {
    const std::string key = Md5HexOf(secret);
    const std::string iv = Md5HexOf(key).substr(0, 16);
    std::string plain = event;
    if (zeroPad && plain.size() % 16 != 0) plain.append(16 - plain.size() % 16, '\0');
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(iv.data()));
    std::string out(plain.size() + 16, '\0');
    int n = 0, tail = 0;
    EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                      reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &tail);
    out.resize(static_cast<std::size_t>(n + tail));
    std::string base64(4 * ((out.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()),
                                  reinterpret_cast<const unsigned char*>(out.data()), static_cast<int>(out.size()));
    base64.resize(static_cast<std::size_t>(written));
    return base64;
}

TEST_F(ServiceTest, DecryptsStatisticsEventsWithTheStatisticsSecret) {
    const std::string success =
        R"({"event":{"velmo.installer.hearthview2024.velmo.start":1,"velmo.installer.hearthview2024.velmo.success":1}})";
    // 48 bytes: whole blocks already, so no zero bytes are added.
    const std::string exact = R"({"event":{"a.start":1,"a.failed":1},"x":"12345"})";
    ASSERT_EQ(exact.size(), 48u);
    const std::string secret = ServiceFixture::kStatisticsSecret;

    struct Case {
        const char* name;
        std::string body;
        long status;
        std::string stored;  // empty: nothing stored
    } cases[] = {
        {"an install event", "{\"stat\":\"" + EncryptEvent(success, secret) + "\"}", 200, success},
        {"an event of whole blocks", "{\"stat\":\"" + EncryptEvent(exact, secret) + "\"}", 200, exact},
        {"another secret", "{\"stat\":\"" + EncryptEvent(success, "another-secret-of-36-characters-xxxx") + "\"}", 400, ""},
        {"no zero padding", "{\"stat\":\"" + EncryptEvent(success, secret, false) + "\"}", 400, ""},
        {"not Base64", R"({"stat":"%%%"})", 400, ""},
        {"no stat member", R"({"event":1})", 400, ""},
        {"not JSON", "stat=1", 400, ""},
    };
    std::vector<json> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Call call;
        call.url = service_.HttpsUrl("/api/stat");
        call.caFile = service_.CaBundle().string();
        call.method = "POST";
        call.body = c.body;
        call.headers = {"Content-Type: application/json"};
        Answer tls = Fetch(call);
        EXPECT_EQ(tls.code, CURLE_OK) << tls.error;
        EXPECT_EQ(tls.status, c.status);
        if (!c.stored.empty()) {
            EXPECT_EQ(json::parse(tls.body, nullptr, false).value("code", -1), 0);
            expected.push_back(json::parse(c.stored));
        }
    }
    EXPECT_EQ(service_.ReadJsonLines("stats.jsonl"), expected);
}

// The ticket body as the problem report builds it.
std::string TicketBody(const std::string& boundary, const std::vector<std::pair<std::string, std::string>>& fields,
                       const std::string& attachmentPath, const std::string& attachment) {
    std::string body;
    for (const auto& [name, value] : fields)
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    if (!attachmentPath.empty())
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"attachments[]\"; filename=\"" +
                attachmentPath + "\"\r\n\r\n" + attachment + "\r\n";
    body += "--" + boundary + "--\r\n";
    return body;
}

TEST_F(ServiceTest, StoresAMultipartTicketWithItsAttachment) {
    const std::string boundary = "------WebKitFormBoundaryTzEt4MkeuAmQznx1";
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"subject", "It failed"},      {"email", "a.b-c_d@velmo.com"}, {"description", "line&nbsp;one<br/>two"},
        {"name", "Ann"},               {"group_id", "2043000930744"},  {"status", "2"},
        {"priority", "1"},             {"type", "Problem"},            {"custom_fields[cf_version]", "Other"},
        {"custom_fields[cf_categroy]", "Install / Uninstall"},         {"tags[]", "Installation Failure"},
        {"tags[]", "hearthview2024"},  {"tags[]", "HttpCode-404"},
    };
    std::string zip = Bytes(5000);
    zip += "\r\n--not-the-boundary\r\n";  // the value may hold anything but the delimiter
    const std::string path = "C:\\Users\\u\\AppData\\Local\\Temp\\VelmoInstaller\\hearthview2024\\2024-01-02_03-04-05.zip";
    const std::string body = TicketBody(boundary, fields, path, zip);
    auto post = [&](const std::string& credential, const std::string& payload) {
        Call call;
        call.url = service_.HttpsUrl("/api/v2/tickets");
        call.caFile = service_.CaBundle().string();
        call.method = "POST";
        call.body = payload;
        call.headers = {"Accept: */*", "Authorization: Basic " + credential, "Connection: keep-alive",
                        "Content-Type: multipart/form-data; boundary=" + boundary};
        return Fetch(call);
    };

    Answer a = post(ServiceFixture::kHelpdeskCredential, body);
    ASSERT_EQ(a.code, CURLE_OK) << a.error;
    EXPECT_EQ(a.status, 201);
    auto tickets = service_.Tickets();
    ASSERT_EQ(tickets.size(), 1u);
    json stored = json::parse(ReadFileText(tickets[0] / "fields.json"), nullptr, false);
    json expected = json::array();
    for (const auto& [name, value] : fields) expected.push_back({{"name", name}, {"value", value}});
    EXPECT_EQ(stored, expected);
    json attachments = json::parse(ReadFileText(tickets[0] / "attachments.json"), nullptr, false);
    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(attachments[0]["filename"], path);
    EXPECT_EQ(attachments[0]["file"], "2024-01-02_03-04-05.zip");
    EXPECT_EQ(ReadFileText(tickets[0] / "2024-01-02_03-04-05.zip"), zip);
    json headers = json::parse(ReadFileText(tickets[0] / "headers.json"), nullptr, false);
    EXPECT_EQ(headers["Content-Type"], "multipart/form-data; boundary=" + boundary);

    struct Refused {
        const char* name;
        std::string credential, body;
        long status;
    } refused[] = {
        {"wrong credential", "d3Jvbmc=", body, 401},
        {"no closing line", ServiceFixture::kHelpdeskCredential, body.substr(0, body.size() - 4), 400},
        {"unquoted name", ServiceFixture::kHelpdeskCredential,
         "--" + boundary + "\r\nContent-Disposition: form-data; name=subject\r\n\r\nx\r\n--" + boundary + "--\r\n", 400},
        {"no empty line after the header", ServiceFixture::kHelpdeskCredential,
         "--" + boundary + "\r\nContent-Disposition: form-data; name=\"subject\"\r\nx\r\n--" + boundary + "--\r\n", 400},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        Answer answer = post(r.credential, r.body);
        EXPECT_EQ(answer.status, r.status);
    }
    EXPECT_EQ(service_.Tickets().size(), 1u);
}

TEST_F(ServiceTest, StoresAnalyticsHits) {
    const std::string hit = "v=1&tid=UA-TEST-1&an=Safekeep_StubInstaller&aid=com.velmo.safekeep.stubinstaller&t=screenview&cd=newInstall";
    Call post;
    post.url = service_.HttpUrl("/collect");
    post.method = "POST";
    post.body = hit;
    EXPECT_EQ(Fetch(post).status, 200);
    EXPECT_EQ(Get(service_.HttpUrl("/collect?v=1&t=event&ea=installNow")).status, 200);

    auto hits = service_.ReadJsonLines("analytics.jsonl");
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0]["payload"], hit);
    EXPECT_EQ(hits[0]["params"]["t"], "screenview");
    EXPECT_EQ(hits[0]["params"]["cd"], "newInstall");
    EXPECT_EQ(hits[1]["method"], "GET");
    EXPECT_EQ(hits[1]["params"]["ea"], "installNow");
}

TEST_F(ServiceTest, RedirectsTheInstallAndRedirectSitePages) {
    struct Case {
        std::string path;
        long status;
        std::string location;
    } cases[] = {
        {"/link.php?to=153998094", 302, "/landing/link?to=153998094"},
        {"/redir.php?id=7", 302, "/landing/redir?id=7"},
        {"/link.php", 400, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Answer a = Get(service_.HttpUrl(c.path));
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.headers["location"], c.location);
    }
    Call follow;
    follow.url = service_.HttpUrl("/link.php?to=153998094");
    follow.follow = true;
    Answer landed = Fetch(follow);
    EXPECT_EQ(landed.status, 200);
    EXPECT_NE(landed.body.find("to=153998094"), std::string::npos);
}

TEST(ServiceCommandLineTest, RefusesBadArgumentsWithExitCode2) {
    const auto binary = velmo_test::BinaryPath("velmo-service");
    const std::string missing = (std::filesystem::temp_directory_path() / "velmo-no-such-catalogue").string();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string mention;
    } cases[] = {
        {"no catalogue", {"--listen", "127.0.0.1:0"}, "--catalogue is required"},
        {"no listener", {"--catalogue", "."}, "--listen is required"},
        {"a bad address", {"--catalogue", ".", "--listen", "127.0.0.1"}, "bad --listen address"},
        {"a key without certificate", {"--catalogue", ".", "--listen", "127.0.0.1:0", "--tls-key", "k.pem"}, "go together"},
        {"an unknown option", {"--catalogue", ".", "--listen", "127.0.0.1:0", "--verbose"}, "--verbose"},
        {"a missing catalogue", {"--catalogue", missing, "--listen", "127.0.0.1:0"}, "does not exist"},
        {"an unreadable deployment", {"--catalogue", ".", "--listen", "127.0.0.1:0", "--deployment", missing}, "deployment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto run = velmo_test::RunBinary(binary, c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.output.find(c.mention), std::string::npos) << run.output;
    }
}

TEST_F(ServiceTest, StopsCleanlyOnSigterm) {
    int status = service_.Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(service_.Log().find("stopped"), std::string::npos);
}

}  // namespace
