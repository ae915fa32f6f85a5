// A fresh machine prefix for one fuzzing process, removed when the process exits.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/machine.h"

namespace velmo_fuzz {

inline std::filesystem::path& MachineRootSlot() {
    static std::filesystem::path root;
    return root;
}

// Creates "<tmp>/velmo-<name>-fuzz-XXXXXX" and points the platform at it; aborts when the
// folder cannot be made, since no input could be run then.
inline const std::filesystem::path& UseTemporaryMachine(const char* name) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (std::string("velmo-") + name + "-fuzz-XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    MachineRootSlot() = tmpl;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(MachineRootSlot(), ec);
    });
    platform::UseMachine(MachineRootSlot());
    return MachineRootSlot();
}

}  // namespace velmo_fuzz
