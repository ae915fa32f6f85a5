// The machine prefix: one host folder that holds a whole Windows-like machine.
//
// Layout inside the prefix:
//   drive_c/ ...        drive C: (drive_d/ for D: and so on); Z: is the host's "/"
//   profile.json        the machine profile (see profile.h)
//   registry.db         the registry (SQLite, see registry.h)
//   clipboard.txt       the machine's clipboard (UTF-8)
//   run/                named mutexes, window sockets, exit-code files
//   shell-open.log      every document or link the shell was asked to open
//   reboot-requests.log every reboot the system asked for (the host is never rebooted)
#pragma once

#include <filesystem>
#include <functional>

namespace platform {

// Host folder of the current prefix: VELMO_MACHINE, else $XDG_DATA_HOME/velmo/machine, else
// ~/.local/share/velmo/machine. The prefix and its folder skeleton are created on first use.
std::filesystem::path MachineRoot();

// Points this process, and the children it starts later, at another prefix (sets VELMO_MACHINE).
// Every cached state of the old prefix (profile, registry connection) is dropped.
void UseMachine(const std::filesystem::path& root);

// Registers a callback that UseMachine runs after switching, so that subsystems drop their caches.
void OnMachineChanged(std::function<void()> callback);

// A file or folder directly inside the prefix, e.g. MachineFile("registry.db").
std::filesystem::path MachineFile(const std::filesystem::path& relative);

// Creates the folder skeleton of a Windows 10 machine (64- or 32-bit as the profile says); idempotent.
bool EnsureMachineSkeleton();

}  // namespace platform
