// The start-up decisions of the installer, from the parsed options to the main window.
#pragma once

#include <cstdint>

#include "util/launch_options.h"

namespace app {

// Exit codes of the process.
inline constexpr std::int32_t kExitSuccess = 0;
inline constexpr std::int32_t kExitUnsuccessful = -1;
inline constexpr std::int32_t kExitRestartRequired = 3010;
inline constexpr std::int32_t kExitNotEnoughSpace = 6016;

// Whether another product of the suite still needs the common runtime "Velmo Common".
bool IsCommonRuntimeStillNeeded();

// 0: this process already is the temporary copy (go on); 1: a copy was started (exit);
// 255: the copy could not be started; -1: the own file name cannot be read.
int RelaunchFromTempCopy();

// Creates the named mutex "VelmoInstaller_Mutex" and keeps it for the life of the process.
bool IsAnotherInstanceRunning();

// The whole start-up sequence after the command line has been parsed; returns the exit code.
std::int32_t RunStartup(const util::LaunchOptions& options);

}  // namespace app
