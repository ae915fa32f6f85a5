// A fresh machine prefix per test, in a temporary folder that is removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace velmo_test {

class TempMachine {
public:
    TempMachine();
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Host path of a Windows path inside this machine.
    std::filesystem::path Host(const std::wstring& windowsPath) const;

private:
    std::filesystem::path root_;
};

// Fixture: every test gets its own machine.
class MachineTest : public ::testing::Test {
protected:
    TempMachine machine_;
};

// Host path of a built binary (velmo-machine, VelmoInstaller, ...).
std::filesystem::path BinaryPath(const std::string& name);

}  // namespace velmo_test
