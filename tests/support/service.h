// A reference web API service (velmo-service) per test, on loopback, with a fresh catalogue.
//
// The fixture makes a test certificate authority and a server certificate for 127.0.0.1 and
// localhost at construction, starts velmo-service with one http and one https listener on
// port 0, waits until both accept connections, and stops it (SIGTERM, then wait) when it is
// destroyed. It also writes a deployment file that points every deployment value at this
// service and trusts the test CA, with the same statistics secret and helpdesk credential the
// service checks; give its path to the installer side through VELMO_DEPLOYMENT.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmo_test {

// Which certificate the https listener shows.
enum class ServerCertificate {
    SignedByTestCa,  // valid for 127.0.0.1 and localhost, issued by the fixture's CA
    SelfSigned,      // valid names, but issued by nobody the CA bundle knows
    WrongHost,       // issued by the test CA for "other.velmo.example" only
};

struct ServiceOptions {
    ServerCertificate certificate = ServerCertificate::SignedByTestCa;
    bool start = true;  // false: prepare the catalogue first, then call Start()
};

class ServiceFixture {
public:
    explicit ServiceFixture(ServiceOptions options = {});
    ~ServiceFixture();
    ServiceFixture(const ServiceFixture&) = delete;
    ServiceFixture& operator=(const ServiceFixture&) = delete;

    // Starts the service (once); false when it did not come up (its log says why).
    bool Start();
    // SIGTERM and wait; the exit status as waitpid reports it, or -1 when it had to be killed.
    int Stop();
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // "http://127.0.0.1:<port>" and "https://127.0.0.1:<port>", no trailing "/".
    std::string HttpBase() const;
    std::string HttpsBase() const;
    std::string HttpUrl(const std::string& pathAndQuery) const { return HttpBase() + pathAndQuery; }
    std::string HttpsUrl(const std::string& pathAndQuery) const { return HttpsBase() + pathAndQuery; }
    int HttpPort() const { return httpPort_; }
    int HttpsPort() const { return httpsPort_; }

    const std::filesystem::path& Root() const { return root_; }
    const std::filesystem::path& Catalogue() const { return catalogue_; }
    // The test CA's certificate (PEM): the deployment's extra CA bundle.
    const std::filesystem::path& CaBundle() const { return caFile_; }
    // The deployment file the service was started with (see the class comment).
    const std::filesystem::path& DeploymentFile() const { return deploymentFile_; }
    nlohmann::json DeploymentJson() const;
    // Writes another deployment file (for the installer side only) and returns its path.
    std::filesystem::path WriteDeployment(const nlohmann::json& deployment, const std::string& name) const;

    // The values the service checks (the same as in the deployment file).
    static constexpr const char* kStatisticsSecret = "TEST-statistics-secret-0123456789abc";
    static constexpr const char* kHelpdeskCredential = "dGVzdC1oZWxwZGVzazpY";

    // Catalogue writers (paths relative to the catalogue folder; folders are created).
    void WriteCatalogueFile(const std::string& relative, const std::string& bytes) const;
    void WriteInstallConfiguration(const std::string& requestId, const std::string& ini,
                                   const std::optional<std::string>& statisticId = std::nullopt) const;
    void WritePackage(const std::string& relative, const std::string& bytes) const;
    // A sparse package of the given size (zeros), for multi-gigabyte cases.
    void WriteSparsePackage(const std::string& relative, std::uint64_t size) const;
    // Replaces faults.json in one rename, so the service never reads half of it.
    void WriteFaults(const nlohmann::json& rules) const;
    void ClearFaults() const;

    // received/ readers.
    std::filesystem::path Received(const std::string& relative) const { return catalogue_ / "received" / relative; }
    std::vector<nlohmann::json> ReadJsonLines(const std::string& relative) const;  // e.g. "stats.jsonl"
    std::vector<nlohmann::json> Requests() const { return ReadJsonLines("requests.jsonl"); }
    // received/tickets/<n> folders, in number order.
    std::vector<std::filesystem::path> Tickets() const;
    // What the service wrote on stderr so far (one line per request).
    std::string Log() const;
    // Whether the log comes to hold `text` within `limit`: the service logs a request after its
    // answer, so a client that has its answer may look before the line is there.
    bool WaitForLog(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(10)) const;

private:
    bool WaitForPorts();

    ServiceOptions options_;
    std::filesystem::path root_, catalogue_, caFile_, certFile_, keyFile_, portFile_, logFile_, deploymentFile_;
    pid_t pid_ = -1;
    int httpPort_ = 0, httpsPort_ = 0;
    bool started_ = false;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);

}  // namespace velmo_test
