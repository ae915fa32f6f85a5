// Helpers of the configuration tests: log capture, fixture files and machine facts.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "config/action_builders.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "support/temp_machine.h"
#include "util/file_helpers.h"
#include "util/log.h"

namespace config_test {

struct LogLine {
    std::wstring level;
    std::wstring message;
    bool operator==(const LogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const LogLine& l) {
    return os << platform::Utf8FromWide(l.level) << " " << platform::Utf8FromWide(l.message);
}

// Collects "Level message" of every log line written while it lives.
class LogCapture {
public:
    LogCapture() {
        util::SetDebuggerOutput([this](std::wstring_view line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(Split(line));
        });
    }
    ~LogCapture() { util::SetDebuggerOutput(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The messages of one level, in order.
    std::vector<std::wstring> Messages(const std::wstring& level) {
        std::vector<std::wstring> out;
        for (const auto& l : Lines())
            if (l.level == level) out.push_back(l.message);
        return out;
    }
    bool Has(const std::wstring& level, const std::wstring& message) {
        for (const auto& l : Lines())
            if (l.level == level && l.message == message) return true;
        return false;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    // "Stub Installer [tid] [time] Level message"
    static LogLine Split(std::wstring_view line) {
        std::size_t a = line.find(L"] [");
        std::size_t b = a == std::wstring_view::npos ? a : line.find(L"] ", a + 3);
        if (b == std::wstring_view::npos) return {L"?", std::wstring(line)};
        std::wstring_view rest = line.substr(b + 2);
        std::size_t sp = rest.find(L' ');
        if (sp == std::wstring_view::npos) return {std::wstring(rest), L""};
        return {std::wstring(rest.substr(0, sp)), std::wstring(rest.substr(sp + 1))};
    }
    std::mutex mutex_;
    std::vector<LogLine> lines_;
};

inline void WriteText(const std::wstring& path, const std::string& utf8) {
    util::PathParts parts;
    if (util::SplitPath(path, parts) && !parts.folder.empty()) {
        ASSERT_TRUE(util::CreateDirectoryTree(parts.folder));
    }
    ASSERT_TRUE(platform::WriteWholeFile(path, utf8)) << platform::Utf8FromWide(path);
}

// Facts of a run on this test machine with fixed folders.
inline config::BuildFacts TestFacts() {
    config::BuildFacts f;
    f.isWow64 = true;
    f.osCode = 10;
    f.localPackageFolder = L"C:\\Installer\\VelmoInstaller";
    f.downloadFolder = L"C:\\Temp\\VelmoInstaller\\hearthview2024";
    f.msiLogPath = L"C:\\Temp\\VelmoInstaller\\hearthview2024\\24_05_13_09-41AM_ISM.Log";
    return f;
}

inline void SetProfile(bool is64Bit, std::uint32_t major = 10, std::uint32_t minor = 0) {
    platform::MachineProfile p = platform::CurrentProfile();
    p.is64Bit = is64Bit;
    p.majorVersion = major;
    p.minorVersion = minor;
    ASSERT_TRUE(platform::SaveMachineProfile(p));
}

}  // namespace config_test
