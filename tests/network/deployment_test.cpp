// The deployment configuration: parsing, the lookup order of the file and the process's value.
#include "network/deployment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "support/service.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"

namespace {

namespace fs = std::filesystem;
using network::Deployment;

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Sets or clears VELMO_DEPLOYMENT for one test and puts the old value back.
class ScopedDeploymentVariable {
public:
    explicit ScopedDeploymentVariable(const std::optional<std::string>& value) {
        if (const char* old = ::getenv("VELMO_DEPLOYMENT")) old_ = old;
        if (value)
            ::setenv("VELMO_DEPLOYMENT", value->c_str(), 1);
        else
            ::unsetenv("VELMO_DEPLOYMENT");
    }
    ~ScopedDeploymentVariable() {
        if (old_)
            ::setenv("VELMO_DEPLOYMENT", old_->c_str(), 1);
        else
            ::unsetenv("VELMO_DEPLOYMENT");
    }

private:
    std::optional<std::string> old_;
};

class DeploymentTest : public velmo_test::MachineTest {};

TEST_F(DeploymentTest, DefaultsUseDevelopmentHostsAndMarkedSecrets) {
    Deployment d;
    for (const std::wstring* url : {&d.accountApi, &d.installSite, &d.redirectSite, &d.supportSite,
                                    &d.knowledgeBaseSite, &d.privacySite, &d.helpdeskApi, &d.analyticsEndpoint}) {
        SCOPED_TRACE(platform::Utf8FromWide(*url));
        EXPECT_EQ(url->rfind(L"https://", 0), 0u);
        const std::wstring host = url->substr(8, url->find(L'/', 8) - 8);
        EXPECT_TRUE(host.ends_with(L".velmo.example"));
    }
    EXPECT_NE(d.statisticsSecret.find(L"DEVELOPMENT"), std::wstring::npos);
    EXPECT_EQ(d.statisticsSecret.size(), 36u);
    EXPECT_EQ(d.scriptKeyGuid.size(), 38u);
    EXPECT_EQ(d.scriptIvGuid.size(), 38u);
    EXPECT_TRUE(d.caBundle.empty());
    EXPECT_EQ(d.stallSeconds, 60u);
}

TEST_F(DeploymentTest, AFileOverridesEveryMember) {
    const std::string text = R"({
        "accountApi": "https://127.0.0.1:8443/",
        "installSite": "http://install.test",
        "redirectSite": "http://redirect.test",
        "supportSite": "http://support.test",
        "knowledgeBaseSite": "http://kb.test",
        "privacySite": "http://privacy.test",
        "helpdeskApi": "https://helpdesk.test:9443",
        "helpdeskCredential": "dGVzdDpY",
        "analyticsEndpoint": "https://analytics.test/collect",
        "analyticsTrackingId": "UA-1-2",
        "statisticsSecret": "s3cret with blanks and ~!",
        "scriptKeyGuid": "{0123ABCD-4567-89ab-cdef-0123456789AB}",
        "scriptIvGuid": "{FFFFFFFF-0000-0000-0000-000000000000}",
        "caBundle": "certs/ca.pem",
        "stallSeconds": 5
    })";
    Deployment d;
    std::wstring error;
    ASSERT_TRUE(network::ParseDeployment(text, L"C:\\deploy", d, error)) << platform::Utf8FromWide(error);
    EXPECT_EQ(d.accountApi, L"https://127.0.0.1:8443");  // the trailing "/" is dropped from a base
    EXPECT_EQ(d.installSite, L"http://install.test");
    EXPECT_EQ(d.redirectSite, L"http://redirect.test");
    EXPECT_EQ(d.supportSite, L"http://support.test");
    EXPECT_EQ(d.knowledgeBaseSite, L"http://kb.test");
    EXPECT_EQ(d.privacySite, L"http://privacy.test");
    EXPECT_EQ(d.helpdeskApi, L"https://helpdesk.test:9443");
    EXPECT_EQ(d.helpdeskCredential, L"dGVzdDpY");
    EXPECT_EQ(d.analyticsEndpoint, L"https://analytics.test/collect");
    EXPECT_EQ(d.analyticsTrackingId, L"UA-1-2");
    EXPECT_EQ(d.statisticsSecret, L"s3cret with blanks and ~!");
    EXPECT_EQ(d.scriptKeyGuid, L"{0123ABCD-4567-89ab-cdef-0123456789AB}");
    EXPECT_EQ(d.scriptIvGuid, L"{FFFFFFFF-0000-0000-0000-000000000000}");
    EXPECT_EQ(d.caBundle, L"C:\\deploy\\certs\\ca.pem");
    EXPECT_EQ(d.stallSeconds, 5u);
}

TEST_F(DeploymentTest, CaBundlePathsResolveToWindowsPaths) {
    struct Case {
        std::string value;
        std::wstring expected;
    } cases[] = {
        {"/etc/velmo/ca.pem", L"Z:\\etc\\velmo\\ca.pem"},
        {"D:\\certs\\ca.pem", L"D:\\certs\\ca.pem"},
        {"ca.pem", L"Z:\\srv\\velmo\\ca.pem"},
        {"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Deployment d;
        std::wstring error;
        ASSERT_TRUE(network::ParseDeployment("{\"caBundle\":" + nlohmann::json(c.value).dump() + "}",
                                             L"Z:\\srv\\velmo", d, error));
        EXPECT_EQ(d.caBundle, c.expected);
    }
}

TEST_F(DeploymentTest, RejectsBadFilesNamingTheMember) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::wstring> mentions;
    } cases[] = {
        {"unknown members", R"({"accountApi":"https://a.test","acountApi":"x","proxy":1})", {L"\"acountApi\"", L"\"proxy\""}},
        {"a number for a text", R"({"accountApi":5})", {L"\"accountApi\"", L"string"}},
        {"a text for a number", R"({"stallSeconds":"60"})", {L"\"stallSeconds\"", L"number"}},
        {"a null", R"({"caBundle":null})", {L"\"caBundle\""}},
        {"a scheme that is not http", R"({"helpdeskApi":"ftp://helpdesk.test"})", {L"\"helpdeskApi\""}},
        {"a URL without host", R"({"analyticsEndpoint":"https:///collect"})", {L"\"analyticsEndpoint\""}},
        {"a GUID without braces", R"({"scriptKeyGuid":"0123ABCD-4567-89ab-cdef-0123456789AB"})", {L"\"scriptKeyGuid\""}},
        {"a GUID with a bad digit", R"({"scriptIvGuid":"{0123ABCD-4567-89ab-cdef-0123456789AG}"})", {L"\"scriptIvGuid\""}},
        {"a secret with a line end", R"({"statisticsSecret":"abc\ndef"})", {L"\"statisticsSecret\""}},
        {"an empty credential", R"({"helpdeskCredential":""})", {L"\"helpdeskCredential\""}},
        {"a zero stall time", R"({"stallSeconds":0})", {L"\"stallSeconds\""}},
        {"a fractional stall time", R"({"stallSeconds":1.5})", {L"\"stallSeconds\""}},
        {"an array", R"([{"accountApi":"https://a.test"}])", {L"not a JSON object"}},
        {"not JSON", R"({"accountApi": "https://a.test",})", {L"not valid JSON"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Deployment d;
        d.accountApi = L"https://kept.test";
        std::wstring error;
        EXPECT_FALSE(network::ParseDeployment(c.text, L"C:\\", d, error));
        for (const auto& m : c.mentions) EXPECT_NE(error.find(m), std::wstring::npos) << platform::Utf8FromWide(error);
        EXPECT_EQ(d.accountApi, L"https://kept.test");  // nothing of a bad file is used
    }
}

TEST_F(DeploymentTest, LooksForTheFileInOrder) {
    const fs::path named = machine_.root() / "named" / "deployment.json";
    const fs::path inPrefix = platform::MachineFile("deployment.json");
    fs::path besideExe;
    ASSERT_TRUE(platform::ToHostPath(util::JoinPath(util::ExecutableFolder(), L"deployment.json"), besideExe));
    ASSERT_FALSE(fs::exists(besideExe)) << "a stray file beside the test binary: " << besideExe;
    struct RemoveAfter {
        fs::path path;
        ~RemoveAfter() { fs::remove(path); }
    } cleanup{besideExe};

    WriteText(named, R"({"accountApi":"https://named.test"})");
    WriteText(inPrefix, R"({"accountApi":"https://prefix.test"})");
    WriteText(besideExe, R"({"accountApi":"https://exe.test"})");

    auto load = [](const std::optional<std::string>& variable, std::wstring& source) {
        ScopedDeploymentVariable scoped(variable);
        Deployment d;
        std::wstring error;
        EXPECT_TRUE(network::LoadDeployment(d, error)) << platform::Utf8FromWide(error);
        source = d.source;
        return d.accountApi;
    };
    std::wstring source;
    EXPECT_EQ(load(named.string(), source), L"https://named.test");
    EXPECT_EQ(source, platform::WindowsPathFromHost(named));
    EXPECT_EQ(load(std::nullopt, source), L"https://prefix.test");
    fs::remove(inPrefix);
    EXPECT_EQ(load(std::nullopt, source), L"https://exe.test");
    fs::remove(besideExe);
    EXPECT_EQ(load(std::nullopt, source), Deployment{}.accountApi);
    EXPECT_TRUE(source.empty());
}

TEST_F(DeploymentTest, AMissingOrBadFileGivesTheDefaultsAndAnError) {
    const fs::path bad = machine_.root() / "bad.json";
    WriteText(bad, R"({"accountApi":"https://a.test","colour":"blue"})");
    struct Case {
        const char* name;
        std::optional<std::string> variable;
        std::wstring mention;
    } cases[] = {
        {"named file missing", (machine_.root() / "missing.json").string(), L"VELMO_DEPLOYMENT"},
        {"named file bad", bad.string(), L"\"colour\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedDeploymentVariable scoped(c.variable);
        Deployment d;
        d.accountApi = L"https://stale.test";
        std::wstring error;
        EXPECT_FALSE(network::LoadDeployment(d, error));
        EXPECT_NE(error.find(c.mention), std::wstring::npos) << platform::Utf8FromWide(error);
        EXPECT_EQ(d.accountApi, Deployment{}.accountApi);
    }
}

TEST_F(DeploymentTest, TheServiceFixturesFileIsAValidDeployment) {
    velmo_test::ServiceFixture service;
    ScopedDeploymentVariable scoped(service.DeploymentFile().string());
    Deployment d;
    std::wstring error;
    ASSERT_TRUE(network::LoadDeployment(d, error)) << platform::Utf8FromWide(error);
    EXPECT_EQ(platform::Utf8FromWide(d.accountApi), service.HttpsBase());
    EXPECT_EQ(platform::Utf8FromWide(d.statisticsSecret), velmo_test::ServiceFixture::kStatisticsSecret);
    EXPECT_EQ(d.caBundle, platform::WindowsPathFromHost(service.CaBundle()));
}

TEST_F(DeploymentTest, TheCurrentDeploymentIsReplacedOnlyOnRequest) {
    Deployment mine;
    mine.accountApi = L"https://current.test";
    network::SetCurrentDeployment(mine);
    const fs::path file = machine_.root() / "later.json";
    WriteText(file, R"({"accountApi":"https://later.test"})");
    ScopedDeploymentVariable scoped(file.string());
    EXPECT_EQ(network::CurrentDeployment().accountApi, L"https://current.test");
    network::SetCurrentDeployment(Deployment{});
}

}  // namespace
