#include "support/service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_machine.h"

extern char** environ;

namespace velmo_test {

namespace fs = std::filesystem;

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

KeyPtr NewKey() {
    return KeyPtr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("X509V3_EXT_conf_nid failed");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `subjectKey`, signed by `issuerKey` (issuerCert null: self-signed).
CertPtr MakeCertificate(EVP_PKEY* subjectKey, const char* commonName, EVP_PKEY* issuerKey, X509* issuerCert,
                        bool ca, const char* subjectAltNames, long serial) {
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_set_pubkey(cert.get(), subjectKey);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Velmo tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* issuer = issuerCert ? issuerCert : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer));
    if (ca) {
        AddExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        AddExtension(cert.get(), issuer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert.get(), issuer, NID_subject_alt_name, subjectAltNames);
    }
    AddExtension(cert.get(), issuer, NID_subject_key_identifier, "hash");
    if (X509_sign(cert.get(), issuerKey, EVP_sha256()) <= 0) throw std::runtime_error("X509_sign failed");
    return cert;
}

void WritePem(const fs::path& path, X509* cert, EVP_PKEY* key) {
    std::unique_ptr<FILE, decltype(&std::fclose)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) throw std::runtime_error("cannot write " + path.string());
    if (cert && PEM_write_X509(f.get(), cert) != 1) throw std::runtime_error("PEM_write_X509 failed");
    if (key && PEM_write_PrivateKey(f.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("PEM_write_PrivateKey failed");
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string ReadFileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ServiceFixture::ServiceFixture(ServiceOptions options) : options_(options) {
    std::string tmpl = (fs::temp_directory_path() / "velmo-service-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    catalogue_ = root_ / "catalogue";
    fs::create_directories(catalogue_ / "install");
    fs::create_directories(catalogue_ / "packages");
    caFile_ = root_ / "test-ca.pem";
    certFile_ = root_ / "server-cert.pem";
    keyFile_ = root_ / "server-key.pem";
    portFile_ = root_ / "ports";
    logFile_ = root_ / "service.log";
    deploymentFile_ = root_ / "deployment.json";

    KeyPtr caKey = NewKey(), serverKey = NewKey();
    if (!caKey || !serverKey) throw std::runtime_error("EVP_EC_gen failed");
    CertPtr ca = MakeCertificate(caKey.get(), "Velmo test CA", caKey.get(), nullptr, true, nullptr, 1);
    WritePem(caFile_, ca.get(), nullptr);
    const char* names = "DNS:localhost,IP:127.0.0.1";
    CertPtr server(nullptr, X509_free);
    switch (options_.certificate) {
        case ServerCertificate::SignedByTestCa:
            server = MakeCertificate(serverKey.get(), "127.0.0.1", caKey.get(), ca.get(), false, names, 2);
            break;
        case ServerCertificate::SelfSigned:
            server = MakeCertificate(serverKey.get(), "127.0.0.1", serverKey.get(), nullptr, false, names, 3);
            break;
        case ServerCertificate::WrongHost:
            server = MakeCertificate(serverKey.get(), "other.velmo.example", caKey.get(), ca.get(), false,
                                     "DNS:other.velmo.example", 4);
            break;
    }
    WritePem(certFile_, server.get(), nullptr);
    WritePem(keyFile_, nullptr, serverKey.get());

    // The ports are not known yet: the file is written again once the service is up.
    WriteBytes(deploymentFile_, DeploymentJson().dump(2));
    if (options_.start && !Start()) {
        std::string log = Log();
        throw std::runtime_error("velmo-service did not start:\n" + log);
    }
}

ServiceFixture::~ServiceFixture() {
    // A service that crashed, or that a sanitizer stopped, fails the test that ran it.
    if (Running()) {
        const int status = Stop();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ADD_FAILURE() << "velmo-service did not stop cleanly (wait status " << status << "); its log:\n" << Log();
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

bool ServiceFixture::Start() {
    if (started_) return pid_ > 0;
    started_ = true;
    const std::string binary = BinaryPath("velmo-service").string();
    std::vector<std::string> args = {binary,         "--catalogue",  catalogue_.string(), "--listen",
                                     "127.0.0.1:0",  "--tls-listen", "127.0.0.1:0",       "--tls-cert",
                                     certFile_.string(), "--tls-key", keyFile_.string(),   "--port-file",
                                     portFile_.string(), "--deployment", deploymentFile_.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The child must not inherit a blocked SIGTERM from a test that blocks signals.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    int rc = ::posix_spawn(&pid_, binary.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    if (!WaitForPorts()) {
        Stop();
        return false;
    }
    // Now that the ports are known, the deployment file names them.
    WriteBytes(deploymentFile_, DeploymentJson().dump(2));
    return true;
}

bool ServiceFixture::WaitForPorts() {
    // The service writes the port file after every listener is bound and listening.
    for (int i = 0; i < 3000; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::istringstream ports(ReadFileText(portFile_));
        int http = 0, https = 0;
        if (ports >> http >> https) {
            httpPort_ = http;
            httpsPort_ = https;
            return Accepts(httpPort_) && Accepts(httpsPort_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int ServiceFixture::Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 1500; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

std::string ServiceFixture::HttpBase() const {
    return "http://127.0.0.1:" + std::to_string(httpPort_);
}

std::string ServiceFixture::HttpsBase() const {
    return "https://127.0.0.1:" + std::to_string(httpsPort_);
}

nlohmann::json ServiceFixture::DeploymentJson() const {
    const std::string base = HttpsBase();
    return {
        {"accountApi", base},
        {"installSite", base},
        {"redirectSite", base},
        {"supportSite", base},
        {"knowledgeBaseSite", base},
        {"privacySite", base},
        {"helpdeskApi", base},
        {"helpdeskCredential", kHelpdeskCredential},
        {"analyticsEndpoint", base + "/collect"},
        {"analyticsTrackingId", "UA-TEST-1"},
        {"statisticsSecret", kStatisticsSecret},
        {"caBundle", caFile_.string()},
    };
}

fs::path ServiceFixture::WriteDeployment(const nlohmann::json& deployment, const std::string& name) const {
    fs::path path = root_ / name;
    WriteBytes(path, deployment.dump(2));
    return path;
}

void ServiceFixture::WriteCatalogueFile(const std::string& relative, const std::string& bytes) const {
    WriteBytes(catalogue_ / relative, bytes);
}

void ServiceFixture::WriteInstallConfiguration(const std::string& requestId, const std::string& ini,
                                               const std::optional<std::string>& statisticId) const {
    WriteCatalogueFile("install/" + requestId + ".ini", ini);
    if (statisticId) WriteCatalogueFile("install/" + requestId + ".statistic-id", *statisticId);
}

void ServiceFixture::WritePackage(const std::string& relative, const std::string& bytes) const {
    WriteCatalogueFile("packages/" + relative, bytes);
}

void ServiceFixture::WriteSparsePackage(const std::string& relative, std::uint64_t size) const {
    fs::path path = catalogue_ / "packages" / relative;
    fs::create_directories(path.parent_path());
    { std::ofstream touch(path, std::ios::binary | std::ios::trunc); }
    fs::resize_file(path, size);
}

void ServiceFixture::WriteFaults(const nlohmann::json& rules) const {
    fs::path temp = root_ / "faults.json.new";
    WriteBytes(temp, rules.dump(2));
    fs::rename(temp, catalogue_ / "faults.json");
}

void ServiceFixture::ClearFaults() const {
    std::error_code ec;
    fs::remove(catalogue_ / "faults.json", ec);
}

std::vector<nlohmann::json> ServiceFixture::ReadJsonLines(const std::string& relative) const {
    std::vector<nlohmann::json> lines;
    std::istringstream in(ReadFileText(Received(relative)));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return lines;
}

std::vector<fs::path> ServiceFixture::Tickets() const {
    std::vector<fs::path> tickets;
    for (int n = 1;; ++n) {
        fs::path folder = Received("tickets/" + std::to_string(n));
        if (!fs::is_directory(folder)) break;
        tickets.push_back(folder);
    }
    return tickets;
}

std::string ServiceFixture::Log() const {
    return ReadFileText(logFile_);
}

bool ServiceFixture::WaitForLog(const std::string& text, std::chrono::seconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace velmo_test
