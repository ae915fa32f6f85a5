// Damaged archives through both zip readers. Every input is written as an archive into a
// machine prefix, extracted by ExtractZip and by the 7-Zip fallback into destinations of their
// own and listed by both; afterwards no file may exist outside those destinations.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "archive/archive_library.h"
#include "archive/zip_archive.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "util/file_helpers.h"
#include "util/log.h"

#include "fuzz_machine.h"

namespace {

namespace fs = std::filesystem;

const wchar_t* const kArchive = L"C:\\fuzz\\input.zip";
const wchar_t* const kZipDestination = L"C:\\fuzz\\zip\\dest";
const wchar_t* const kLibraryDestination = L"C:\\fuzz\\7z\\dest";

fs::path g_root;

bool Setup() {
    g_root = velmo_fuzz::UseTemporaryMachine("zip");
    util::SetDebuggerOutput([](std::wstring_view) {});
    return true;
}

fs::path HostOf(const std::wstring& windowsPath) {
    fs::path host;
    platform::ToHostPath(windowsPath, host);
    return host;
}

bool Inside(const fs::path& path, const fs::path& folder) {
    auto rel = path.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

// Anything under the prefix that is neither the input, the machine's own files, nor inside a
// destination was written by a reader that escaped its folder.
void CheckNothingOutside(const std::vector<fs::path>& before) {
    const fs::path input = HostOf(kArchive);
    const fs::path zipDest = HostOf(kZipDestination);
    const fs::path libDest = HostOf(kLibraryDestination);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(g_root, fs::directory_options::none, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        if (it->is_directory() || p == input || Inside(p, zipDest) || Inside(p, libDest)) continue;
        bool known = false;
        for (const auto& b : before) known = known || b == p;
        if (!known) {
            std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
            std::abort();
        }
    }
}

std::vector<fs::path> MachineFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(g_root, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (ec) break;
        if (!it->is_directory()) files.push_back(it->path());
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = Setup();
    if (!ready) return 0;
    util::CreateDirectoryTree(kZipDestination);
    util::CreateDirectoryTree(kLibraryDestination);
    const std::vector<fs::path> before = MachineFiles();
    if (!platform::WriteWholeFile(kArchive, std::string_view(reinterpret_cast<const char*>(data), size))) return 0;

    archive::ReadFirstZipEntry(data, size);
    std::vector<std::wstring> names;
    archive::ExtractZip(kArchive, L"", &names, L"*");
    names.clear();
    archive::ExtractZip(kArchive, L"", &names);
    archive::ExtractZip(kArchive, kZipDestination, nullptr, L"", L"Top");
    std::vector<std::wstring> top;
    archive::ExtractWithArchiveLibrary(kArchive, kLibraryDestination, top, true);
    archive::ExtractWithArchiveLibrary(kArchive, kLibraryDestination, top, false);

    CheckNothingOutside(before);
    util::DeleteTree(L"C:\\fuzz");
    return 0;
}
