// Extraction benchmark: one package of many generated, mildly compressible files, extracted by
// ExtractZip and by Debian's unzip in the same run. Prints both wall times and their ratio.
//
//   extract_bench [--mib N] [--files N]     (defaults: 1024 MiB in 2048 files)
//
// Everything lives in a temporary folder under /tmp that is removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "archive/zip_archive.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "util/file_helpers.h"
#include "util/log.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Words of a small vocabulary between runs of noise: deflate gets it to roughly half.
void FillBlock(std::vector<char>& block, std::uint64_t& state) {
    static const char* const words[] = {"install ", "package ", "velmo ",  "hub ",    "runtime ", "folder ",
                                        "version ", "update ",  "script ", "config ", "shortcut ", "registry "};
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::size_t i = 0;
    while (i < block.size()) {
        std::uint64_t r = next();
        if (r & 1) {
            const char* w = words[(r >> 8) % 12];
            for (std::size_t k = 0; w[k] && i < block.size(); ++k) block[i++] = w[k];
        } else {
            for (int k = 0; k < 6 && i < block.size(); ++k) block[i++] = static_cast<char>(next() & 0xFF);
        }
    }
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::uint64_t HostTreeSize(const fs::path& folder) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) total += it->file_size();
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t mib = 1024;
    std::uint64_t files = 2048;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--files") == 0) files = std::strtoull(argv[i + 1], nullptr, 10);
    }
    if (mib == 0 || files == 0) return 2;

    std::string tmpl = "/tmp/velmo-extract-bench-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return 1;
    const fs::path root = tmpl;
    platform::UseMachine(root / "machine");
    util::SetDebuggerOutput([](std::wstring_view line) { std::fprintf(stderr, "%ls\n", std::wstring(line).c_str()); });

    const std::wstring work = L"C:\\bench";
    fs::path hostWork;
    util::CreateDirectoryTree(work + L"\\src");
    platform::ToHostPath(work, hostWork);

    // Package: files spread over 32 folders, written through the platform.
    std::printf("generating %llu MiB in %llu files...\n", static_cast<unsigned long long>(mib),
                static_cast<unsigned long long>(files));
    const std::uint64_t fileSize = mib * 1024 * 1024 / files;
    std::vector<char> block(64 * 1024);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t f = 0; f < files; ++f) {
        std::wstring folder = work + L"\\src\\app\\part" + std::to_wstring(f % 32);
        util::CreateDirectoryTree(folder);
        platform::File out = platform::File::Open(folder + L"\\file" + std::to_wstring(f) + L".bin",
                                                  platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS);
        for (std::uint64_t left = fileSize; left > 0;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            FillBlock(block, state);
            if (!out.Write(block.data(), n)) return 1;
            left -= n;
        }
    }
    auto t = Clock::now();
    if (!Run("cd '" + (hostWork / "src").string() + "' && zip -q -r ../package.zip app")) return 1;
    std::printf("packed with zip in %.1f s: %.0f MiB archive\n", Seconds(t),
                static_cast<double>(fs::file_size(hostWork / "package.zip")) / (1024 * 1024));
    fs::remove_all(hostWork / "src");
    // Both readers start from a warm page cache.
    Run("cat '" + (hostWork / "package.zip").string() + "' > /dev/null");

    util::CreateDirectoryTree(work + L"\\ours");
    t = Clock::now();
    int result = archive::ExtractZip(work + L"\\package.zip", work + L"\\ours");
    const double ours = Seconds(t);
    const std::uint64_t oursBytes = HostTreeSize(hostWork / "ours");
    fs::remove_all(hostWork / "ours");

    t = Clock::now();
    bool unzipOk = Run("unzip -q -o '" + (hostWork / "package.zip").string() + "' -d '" +
                       (hostWork / "unzip").string() + "'");
    const double theirs = Seconds(t);
    const std::uint64_t theirBytes = HostTreeSize(hostWork / "unzip");

    std::error_code ec;
    fs::remove_all(root, ec);
    if (result != 0 || !unzipOk || oursBytes != theirBytes) {
        std::printf("extraction failed: ExtractZip %d (%llu bytes), unzip %s (%llu bytes)\n", result,
                    static_cast<unsigned long long>(oursBytes), unzipOk ? "ok" : "failed",
                    static_cast<unsigned long long>(theirBytes));
        return 1;
    }
    std::printf("ExtractZip: %.2f s (%.0f MiB/s)\n", ours, static_cast<double>(oursBytes) / (1024 * 1024) / ours);
    std::printf("unzip:      %.2f s (%.0f MiB/s)\n", theirs, static_cast<double>(theirBytes) / (1024 * 1024) / theirs);
    std::printf("ratio ExtractZip / unzip: %.2f\n", ours / theirs);
    return 0;
}
