#include "support/temp_machine.h"

#include <stdlib.h>

#include "platform/machine.h"
#include "platform/paths.h"

namespace velmo_test {

TempMachine::TempMachine() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velmo-test-XXXXXX").string();
    char* dir = ::mkdtemp(tmpl.data());
    if (!dir) throw std::runtime_error("mkdtemp failed");
    root_ = dir;
    platform::UseMachine(root_);
}

TempMachine::~TempMachine() {
    std::error_code ec;
    // Read-only attributes are the platform's own; the host removes the folder regardless.
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
}

std::filesystem::path TempMachine::Host(const std::wstring& windowsPath) const {
    std::filesystem::path host;
    platform::ToHostPath(windowsPath, host);
    return host;
}

std::filesystem::path BinaryPath(const std::string& name) {
    for (const char* sub : {"", "tools", "bin"}) {
        auto p = std::filesystem::path(VELMO_BINARY_DIR) / sub / name;
        if (std::filesystem::exists(p)) return p;
    }
    return std::filesystem::path(VELMO_BINARY_DIR) / name;
}

}  // namespace velmo_test
