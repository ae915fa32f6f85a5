// The download benchmark: a large package from velmo-service on loopback through the download
// manager (the owner's sink writing the file), against curl on the same URL in the same run,
// then against the manager with an unbounded receive buffer, and a sparse 4 GiB package to show
// that the bounded buffer keeps the resident memory small. Not a test: figures only.
//
//   download_bench [--size-mib N] [--big-gib N] [--service PATH]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "network/download_sink.h"
#include "platform/machine.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr platform::UINT kDone = platform::WM_APP + 1;
constexpr platform::UINT kFailed = platform::WM_APP + 2;

struct Owner : platform::MessageHandler {
    platform::HWND hwnd = platform::CreateWindowHandle(this);
    network::DownloadSink* sink = nullptr;
    int outcome = 0;  // 1 done, 2 failed
    platform::WPARAM status = 0;
    platform::LRESULT WindowProc(platform::HWND, platform::UINT message, platform::WPARAM wParam, platform::LPARAM,
                                 bool& handled) override {
        if (message == platform::WM_TIMER && wParam == network::kProgressTimerId && sink) sink->OnProgressTimer();
        else if (message == kDone) outcome = 1;
        else if (message == kFailed) {
            outcome = 2;
            status = wParam;
        } else handled = false;
        return 0;
    }
};

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Downloads through the manager; seconds, or a negative value on failure.
double ManagerDownload(const std::wstring& url, const fs::path& target, bool unbounded) {
    Owner owner;
    network::DownloadSink sink(owner.hwnd);
    owner.sink = &sink;
    if (unbounded) sink.SetReceiveBufferLimits(SIZE_MAX, SIZE_MAX);
    std::wstring local = platform::WindowsPathFromHost(target);
    network::HttpRequestTask task;
    task.url = url;
    task.context.downloadKind = network::kDownloadPackage;
    task.context.localFile = local;
    task.context.successMessage = kDone;
    task.context.failureMessage = kFailed;
    task.context.notify = true;
    task.context.fileHandle = network::DownloadFile::Open(local, false);
    auto start = std::chrono::steady_clock::now();
    sink.StartRequest(task);
    platform::MessageLoop::Current()->RunUntil([&] { return owner.outcome != 0; });
    double seconds = Seconds(std::chrono::steady_clock::now() - start);
    platform::DestroyWindow(owner.hwnd);
    if (owner.outcome != 1) {
        std::fprintf(stderr, "download failed, status %lu\n", static_cast<unsigned long>(owner.status));
        return -1;
    }
    return seconds;
}

double CurlDownloadSeconds(const std::string& url, const fs::path& target) {
    std::string command = "curl -s -f -o '" + target.string() + "' '" + url + "'";
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    double seconds = Seconds(std::chrono::steady_clock::now() - start);
    return rc == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    long sizeMiB = 1024, bigGiB = 4;
    std::string service = VELMO_SERVICE_BINARY, onlyUrl, outFolder;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--size-mib") sizeMiB = std::atol(argv[i + 1]);
        else if (a == "--only-url") onlyUrl = argv[i + 1];
        else if (a == "--out") outFolder = argv[i + 1];
        else if (a == "--big-gib") bigGiB = std::atol(argv[i + 1]);
        else if (a == "--service") service = argv[i + 1];
    }

    if (!onlyUrl.empty()) {
        // The child run: one download of the big package, its own peak.
        fs::path out = fs::path(outFolder);
        fs::create_directories(out / "machine");
        platform::UseMachine(out / "machine");
        platform::MessageLoop loop;
        double big = ManagerDownload(platform::WideFromUtf8(onlyUrl), out / "big.bin", false);
        fs::remove(out / "big.bin");
        double bigBytes = static_cast<double>(bigGiB) * 1073741824.0;
        if (big > 0)
            std::printf("sparse %ld GiB package: %.2f s, %.0f MiB/s, peak RSS %.1f MiB\n", bigGiB, big,
                        bigBytes / big / 1048576.0, PeakRssKiB() / 1024.0);
        return big > 0 ? 0 : 1;
    }

    fs::path root = fs::temp_directory_path() / ("velmo-download-bench-" + std::to_string(getpid()));
    fs::create_directories(root / "catalogue" / "packages");
    fs::create_directories(root / "machine");
    fs::create_directories(root / "out");
    platform::UseMachine(root / "machine");
    // Sparse packages: the disk holds nothing, the service reads zeros.
    { std::ofstream(root / "catalogue" / "packages" / "package.bin"); }
    fs::resize_file(root / "catalogue" / "packages" / "package.bin", static_cast<std::uintmax_t>(sizeMiB) << 20);
    { std::ofstream(root / "catalogue" / "packages" / "big.bin"); }
    fs::resize_file(root / "catalogue" / "packages" / "big.bin", static_cast<std::uintmax_t>(bigGiB) << 30);

    fs::path portFile = root / "port";
    pid_t pid = fork();
    if (pid == 0) {
        std::string catalogue = (root / "catalogue").string(), port = portFile.string();
        execl(service.c_str(), service.c_str(), "--catalogue", catalogue.c_str(), "--listen", "127.0.0.1:0",
              "--port-file", port.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string port;
    for (int i = 0; i < 200 && port.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(portFile);
        std::getline(in, port);
    }
    if (port.empty()) {
        std::fprintf(stderr, "velmo-service did not start (%s)\n", service.c_str());
        kill(pid, SIGTERM);
        return 1;
    }
    std::string base = "http://127.0.0.1:" + port + "/packages/";
    platform::MessageLoop loop;

    double bytes = static_cast<double>(sizeMiB) * 1048576.0;
    double ours = ManagerDownload(platform::WideFromUtf8(base + "package.bin"), root / "out" / "ours.bin", false);
    fs::remove(root / "out" / "ours.bin");
    long rssAfterOurs = PeakRssKiB();
    double curl = CurlDownloadSeconds(base + "package.bin", root / "out" / "curl.bin");
    fs::remove(root / "out" / "curl.bin");
    double unbounded = ManagerDownload(platform::WideFromUtf8(base + "package.bin"), root / "out" / "unb.bin", true);
    fs::remove(root / "out" / "unb.bin");

    std::printf("package: %ld MiB over http on loopback\n", sizeMiB);
    if (ours > 0) std::printf("  download manager (bounded buffer): %.2f s, %.0f MiB/s\n", ours, bytes / ours / 1048576.0);
    if (curl > 0) std::printf("  curl:                              %.2f s, %.0f MiB/s\n", curl, bytes / curl / 1048576.0);
    if (unbounded > 0)
        std::printf("  download manager (unbounded):      %.2f s, %.0f MiB/s\n", unbounded, bytes / unbounded / 1048576.0);
    if (ours > 0 && curl > 0) std::printf("  throughput ratio ours/curl: %.3f\n", curl / ours);
    if (ours > 0 && unbounded > 0) std::printf("  throughput ratio bounded/unbounded: %.3f\n", unbounded / ours);
    std::printf("  peak RSS after the bounded download: %.1f MiB\n", rssAfterOurs / 1024.0);
    std::printf("  peak RSS after the unbounded download: %.1f MiB\n", PeakRssKiB() / 1024.0);

    // The sparse big package runs in a fresh copy of this program, so its peak is its own.
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        std::string url = base + "big.bin", gib = std::to_string(bigGiB), out = (root / "out").string();
        execl(argv[0], argv[0], "--only-url", url.c_str(), "--big-gib", gib.c_str(), "--out", out.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int childStatus = 0;
    waitpid(child, &childStatus, 0);

    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::error_code ec;
    fs::remove_all(root, ec);
    return ours > 0 && curl > 0 && WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0 ? 0 : 1;
}
