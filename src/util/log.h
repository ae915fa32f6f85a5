// The run's diagnostic log.
//
// Every line reads "Stub Installer [<thread id>] [<local time with ms>] <Level> <message>" and
// goes to the log file (UTF-16LE, no byte-order mark, one write call per line, so lines of
// different threads never interleave inside a line) and to the debugger output (stderr when
// VELMO_LOG_STDERR=1). Messages keep their own line ends. There is no lock: the file handle is
// swapped atomically, so closing the file while other threads write is safe.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "util/format.h"

namespace util {

enum class LogLevel { Debug, Info, Error };

// Writes one message (already formatted) at the level.
void LogMessage(LogLevel level, std::wstring_view message);

// Only the format is interpreted: "%" in an argument is written unchanged. A null format writes nothing.
template <class... A>
void LogDebug(const wchar_t* format, const A&... args) {
    if (format) LogMessage(LogLevel::Debug, Format(format, args...));
}
template <class... A>
void LogInfo(const wchar_t* format, const A&... args) {
    if (format) LogMessage(LogLevel::Info, Format(format, args...));
}
template <class... A>
void LogError(const wchar_t* format, const A&... args) {
    if (format) LogMessage(LogLevel::Error, Format(format, args...));
}

// Creates "<folder>\<yy_mm_dd_hh-mmAM>.Log" (or "-1", "-2"... when that name exists), writes the
// process's command line as its first line, and sets the MSI log path beside it. A file that
// cannot be created leaves the debugger output as the only target (false).
bool OpenLogFile(std::wstring_view downloadFolder);
// Later lines reach the debugger output only.
void CloseLogFile();
bool IsLogFileOpen();
std::wstring LogPath();
std::wstring MsiLogPath();

// The debugger output. Tests may capture it; null restores the default (stderr when
// VELMO_LOG_STDERR=1, else nothing).
void SetDebuggerOutput(std::function<void(std::wstring_view line)> sink);

}  // namespace util
