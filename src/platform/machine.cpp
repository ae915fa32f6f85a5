#include "platform/machine.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

struct MachineState {
    std::mutex mutex;
    fs::path root;
    bool ready = false;
    std::vector<std::function<void()>> callbacks;
};

MachineState& State() {
    static MachineState* state = new MachineState;  // never destroyed: used by late static destructors
    return *state;
}

fs::path DefaultRoot() {
    if (const char* env = std::getenv("VELMO_MACHINE"); env && *env) return fs::path(env);
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "velmo" / "machine";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "velmo" / "machine";
}

}  // namespace

fs::path MachineRoot() {
    MachineState& s = State();
    {
        std::lock_guard lock(s.mutex);
        if (s.ready) return s.root;
        s.root = fs::absolute(DefaultRoot()).lexically_normal();
        std::error_code ec;
        fs::create_directories(s.root, ec);
        s.ready = true;
    }
    EnsureMachineSkeleton();
    std::lock_guard lock(s.mutex);
    return s.root;
}

void UseMachine(const fs::path& root) {
    MachineState& s = State();
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(s.mutex);
        s.root = fs::absolute(root).lexically_normal();
        ::setenv("VELMO_MACHINE", s.root.c_str(), 1);
        std::error_code ec;
        fs::create_directories(s.root, ec);
        s.ready = true;
        callbacks = s.callbacks;
    }
    for (auto& cb : callbacks) cb();
    EnsureMachineSkeleton();
}

void OnMachineChanged(std::function<void()> callback) {
    MachineState& s = State();
    std::lock_guard lock(s.mutex);
    s.callbacks.push_back(std::move(callback));
}

fs::path MachineFile(const fs::path& relative) { return MachineRoot() / relative; }

}  // namespace platform
