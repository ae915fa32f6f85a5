#include "util/log.h"

#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "util/file_helpers.h"
#include "util/text_helpers.h"

namespace util {
namespace {

// Writers never lock: a writer announces itself in `writers` before it loads the file pointer,
// and the closer waits for the announced writers after it has swapped the pointer out. Any
// writer that loaded the old pointer is then counted, so the file is closed only after its
// last write.
struct LogState {
    std::atomic<platform::File*> file{nullptr};
    std::atomic<int> writers{0};
    std::mutex pathsMutex;  // guards the two paths, set once by the main window
    std::wstring logPath;
    std::wstring msiLogPath;
    std::mutex sinkMutex;
    std::shared_ptr<std::function<void(std::wstring_view)>> sink;
};

LogState& State() {
    static LogState* state = new LogState;  // lives to the end of the process, like the log
    return *state;
}

const wchar_t* LevelWord(LogLevel level) {
    switch (level) {
        case LogLevel::Debug: return L"Debug";
        case LogLevel::Info: return L"Info";
        case LogLevel::Error: return L"Error";
    }
    return L"Debug";
}

void DebuggerOutput(std::wstring_view line) {
    LogState& s = State();
    std::shared_ptr<std::function<void(std::wstring_view)>> sink;
    {
        std::lock_guard lock(s.sinkMutex);
        sink = s.sink;
    }
    if (sink) {
        (*sink)(line);
        return;
    }
    static const bool toStderr = [] {
        const char* v = std::getenv("VELMO_LOG_STDERR");
        return v && std::string_view(v) == "1";
    }();
    if (toStderr) {
        std::string utf8 = platform::Utf8FromWide(line);
        std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    }
}

}  // namespace

void LogMessage(LogLevel level, std::wstring_view message) {
    try {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        std::wstring line = Format(L"Stub Installer [%d] [%04d-%02d-%02d %02d:%02d:%02d.%03d] %s ",
                                   static_cast<std::int32_t>(platform::GetCurrentThreadId()), local.tm_year + 1900,
                                   local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                   static_cast<int>(ts.tv_nsec / 1000000), LevelWord(level));
        line += message;
        LogState& s = State();
        s.writers.fetch_add(1);
        if (platform::File* file = s.file.load()) {
            line += L"\n";
            std::string bytes = platform::Utf16LeFromWide(line);
            file->Write(bytes.data(), bytes.size());  // a failed write is ignored: the debugger still gets the line
        }
        s.writers.fetch_sub(1);
        DebuggerOutput(line);
    } catch (const std::bad_alloc&) {
        // The message is dropped.
    }
}

bool OpenLogFile(std::wstring_view downloadFolder) {
    LogState& s = State();
    std::wstring base = TimestampText();
    std::wstring candidate = JoinPath(downloadFolder, base + L".Log");
    for (int n = 1; FileExists(candidate); ++n) {
        base = TimestampText();
        candidate = JoinPath(downloadFolder, Format(L"%s-%d.Log", base, n));
    }
    auto file = std::make_unique<platform::File>(platform::File::Open(
        candidate, platform::GENERIC_WRITE | platform::FILE_APPEND_DATA, platform::FILE_SHARE_READ,
        platform::CREATE_ALWAYS, platform::FILE_ATTRIBUTE_NORMAL));
    {
        std::lock_guard lock(s.pathsMutex);
        s.logPath = candidate;
        s.msiLogPath = JoinPath(downloadFolder, TimestampText() + L"_ISM.Log");
    }
    if (!file->IsValid()) return false;
    CloseLogFile();
    s.file.store(file.release());
    LogDebug(L"%s", platform::GetCommandLine());
    return true;
}

void CloseLogFile() {
    LogState& s = State();
    std::unique_ptr<platform::File> old(s.file.exchange(nullptr));
    if (!old) return;
    while (s.writers.load() != 0) std::this_thread::yield();
}

bool IsLogFileOpen() { return State().file.load() != nullptr; }

std::wstring LogPath() {
    std::lock_guard lock(State().pathsMutex);
    return State().logPath;
}

std::wstring MsiLogPath() {
    std::lock_guard lock(State().pathsMutex);
    return State().msiLogPath;
}

void SetDebuggerOutput(std::function<void(std::wstring_view line)> sink) {
    LogState& s = State();
    std::lock_guard lock(s.sinkMutex);
    s.sink = sink ? std::make_shared<std::function<void(std::wstring_view)>>(std::move(sink)) : nullptr;
}

}  // namespace util
