// Runs one of our binaries as a black box: arguments, extra environment, captured output and
// the full exit code (through the exit-code channel, as the platform reads it).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmo_test {

struct BinaryRun {
    int status = -1;             // the POSIX exit status (low 8 bits)
    long long fullExitCode = -1; // from the exit-code channel when the binary reported one, else status
    std::string output;          // stdout and stderr together
};

// Waits for the binary and for every process that still holds its output open (a relaunched copy).
BinaryRun RunBinary(const std::filesystem::path& binary, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env = {});

}  // namespace velmo_test
