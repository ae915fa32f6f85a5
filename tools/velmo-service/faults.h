// Fault rules of a catalogue ("faults.json"), re-read whenever the file changes.
//
// The file is a JSON array of rules. A rule names the requests it applies to by "path" (the
// request path without its query, exactly) or "prefix" (the path begins with it), optionally
// "times" (only the first N matching requests; later ones go on to the next matching rule, or are
// served normally), and its effect: "status" (with an optional "body"), "delayMs", "cutAfterBytes",
// "stallAfterBytes", "drop", "redirectLoop", "rateBytesPerSec". A file that does not parse, or a
// rule with an unknown member or a value of the wrong type, is reported on stderr and no rule
// applies until the file is mended. Counters start again when the file changes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "files.h"

namespace velmo_service {

struct FaultEffect {
    int status = 0;                   // 0: none
    std::string body;                 // with status
    std::int64_t delayMs = 0;         // before the answer
    std::int64_t cutAfterBytes = -1;  // close the connection after this many body bytes
    std::int64_t stallAfterBytes = -1;  // send this many body bytes, then nothing until the client leaves
    std::int64_t rateBytesPerSec = 0;   // 0: unlimited
    bool drop = false;                // close the connection before any answer
    bool redirectLoop = false;        // 302 to the request's own URL

    // For the request log line: "status=500 delayMs=20" and so on.
    std::string Describe() const;
};

class FaultTable {
public:
    explicit FaultTable(std::filesystem::path file) : file_(std::move(file)) {}

    // The effect of the first matching rule that still has uses left, and uses it up once.
    std::optional<FaultEffect> Take(const std::string& path);

private:
    struct Rule {
        std::string match;
        bool prefix = false;
        std::int64_t times = -1;  // -1: every matching request
        std::int64_t used = 0;
        FaultEffect effect;
    };
    void ReloadIfChanged();  // with mutex_ held

    std::filesystem::path file_;
    std::mutex mutex_;
    FileStamp stamp_;
    bool loaded_ = false;
    std::vector<Rule> rules_;
};

}  // namespace velmo_service
