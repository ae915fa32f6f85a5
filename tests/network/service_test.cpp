// The reference web API service, driven over loopback with libcurl as a black box.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/service.h"

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
    long lowSpeedSeconds = 0;  // end the transfer when less than 1 byte/s arrives for this long
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
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 60L);
    if (!call.caFile.empty()) curl_easy_setopt(curl.get(), CURLOPT_CAINFO, call.caFile.c_str());
    if (call.follow) {
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    }
    if (call.lowSpeedSeconds > 0) {
        curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, call.lowSpeedSeconds);
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

TEST_F(ServiceTest, StopsCleanlyOnSigterm) {
    int status = service_.Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(service_.Log().find("stopped"), std::string::npos);
}

}  // namespace
