#include "platform/machine.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/file.h"
#include "platform/known_folders.h"
#include "platform/paths.h"

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

// Called by MachineRoot() after the root is known (so the nested MachineRoot() calls of the
// profile and the path mapping return at once) and again after every profile change. Creates
// only what is missing and never removes anything, so a profile that turns 32-bit keeps an old
// SysWOW64 folder.
bool EnsureMachineSkeleton() {
    const fs::path root = MachineRoot();
    std::error_code ec;
    bool ok = true;
    fs::create_directories(root / "run", ec);
    if (ec) ok = false;

    std::vector<std::wstring> folders;
    for (KnownFolder f : {KnownFolder::ProgramFiles, KnownFolder::ProgramFilesX86, KnownFolder::ProgramFilesNative,
                          KnownFolder::CommonProgramFiles, KnownFolder::CommonProgramFilesX86,
                          KnownFolder::CommonProgramFilesNative, KnownFolder::CommonAppData,
                          KnownFolder::RoamingAppData, KnownFolder::LocalAppData, KnownFolder::Temp,
                          KnownFolder::CommonDesktop, KnownFolder::CommonPrograms, KnownFolder::UserDesktop,
                          KnownFolder::UserPrograms, KnownFolder::Windows, KnownFolder::System,
                          KnownFolder::SystemX86})
        folders.push_back(GetKnownFolderPath(f));
    folders.push_back(L"C:\\Windows\\Temp");
    folders.push_back(L"C:\\Users\\Public");

    // The skeleton names the real folders: System32 must not turn into SysWOW64 here.
    Wow64DisableFsRedirection();
    for (const auto& folder : folders) {
        fs::path host;
        if (!ToHostPath(folder, host)) {
            ok = false;
            continue;
        }
        fs::create_directories(host, ec);
        if (ec) ok = false;
    }
    Wow64RevertFsRedirection();
    return ok;
}

}  // namespace platform
