// Runs the real velmo-machine binary against the test's own prefix.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/temp_machine.h"

namespace {

using namespace platform;

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class VelmoMachineTest : public velmo_test::MachineTest {
protected:
    // Runs velmo-machine with `args` (UTF-8) and `input` on its standard input.
    Result Run(const std::vector<std::string>& args, const std::string& input = "") {
        const auto dir = machine_.root() / "test-io";
        std::filesystem::create_directories(dir);
        {
            std::ofstream in(dir / "stdin", std::ios::binary);
            in << input;
        }
        std::string command = "VELMO_MACHINE=" + ShellQuote(machine_.root().string()) + " " +
                              ShellQuote(velmo_test::BinaryPath("velmo-machine").string());
        for (const auto& a : args) command += " " + ShellQuote(a);
        command += " <" + ShellQuote((dir / "stdin").string()) + " 2>" + ShellQuote((dir / "stderr").string());
        Result r;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return r;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
        int status = ::pclose(pipe);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = ReadFile(dir / "stderr");
        return r;
    }

    void Add(const std::vector<std::string>& args) {
        std::vector<std::string> full{"reg", "add"};
        full.insert(full.end(), args.begin(), args.end());
        full.push_back("/f");
        Result r = Run(full);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_EQ(r.out, "The operation completed successfully.\n");
    }
};

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";

TEST_F(VelmoMachineTest, QueryPrintsTheKeyItsValuesInOrderAndItsSubkeysLikeRegExe) {
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "InstallDir", "/d", "C:\\Program Files\\Velmo"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/ve", "/d", "default text"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "Count", "/t", "REG_DWORD", "/d", "3000"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "Big", "/t", "REG_QWORD", "/d", "0x100000000"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff1A"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "List", "/t", "REG_MULTI_SZ", "/d", "one\\0two"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"});
    Add({"HKLM\\SOFTWARE\\Velmo\\zeta"});
    Add({"HKLM\\SOFTWARE\\Velmo\\Alpha"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "count", "/t", "REG_DWORD", "/d", "1"});  // overwrite keeps the place

    Result r = Run({"reg", "query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo\n"
              "    InstallDir    REG_SZ    C:\\Program Files\\Velmo\n"
              "    (Default)    REG_SZ    default text\n"
              "    Count    REG_DWORD    0x1\n"
              "    Big    REG_QWORD    0x100000000\n"
              "    Blob    REG_BINARY    00FF1A\n"
              "    List    REG_MULTI_SZ    one\\0two\n"
              "    Path    REG_EXPAND_SZ    %TEMP%\\x\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo\\Alpha\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo\\zeta\n");

    // What the tool wrote has the bytes Windows would have.
    RegKey key;
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, L"SOFTWARE\\Velmo", KEY_READ | KEY_WOW64_64KEY, key), ERROR_SUCCESS);
    DWORD type = 0;
    std::string data;
    ASSERT_EQ(key.QueryValue(L"count", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, std::string("\x01\0\0\0", 4));
    ASSERT_EQ(key.QueryValue(L"List", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, Utf16LeFromWide(std::wstring(L"one\0two\0\0", 9)));
}

TEST_F(VelmoMachineTest, QueryOfOneValueAndRecursiveQuery) {
    Add({"HKCU\\Software\\Velmo", "/v", "Name", "/d", "top"});
    Add({"HKCU\\Software\\Velmo\\Sub", "/v", "Name", "/d", "below"});
    Add({"HKCU\\Software\\Velmo\\Sub\\Empty"});

    Result one = Run({"reg", "query", "HKCU\\Software\\Velmo", "/v", "NAME"});
    EXPECT_EQ(one.exitCode, 0);
    EXPECT_EQ(one.out, "\nHKEY_CURRENT_USER\\Software\\Velmo\n    Name    REG_SZ    top\n\n");

    Result tree = Run({"reg", "query", "HKCU\\Software\\Velmo", "/s"});
    EXPECT_EQ(tree.exitCode, 0);
    EXPECT_EQ(tree.out,
              "\nHKEY_CURRENT_USER\\Software\\Velmo\n    Name    REG_SZ    top\n"
              "\nHKEY_CURRENT_USER\\Software\\Velmo\\Sub\n    Name    REG_SZ    below\n"
              "\nHKEY_CURRENT_USER\\Software\\Velmo\\Sub\\Empty\n");

    Result search = Run({"reg", "query", "HKCU\\Software\\Velmo", "/v", "Name", "/s"});
    EXPECT_EQ(search.exitCode, 0);
    EXPECT_EQ(search.out,
              "\nHKEY_CURRENT_USER\\Software\\Velmo\n    Name    REG_SZ    top\n"
              "\nHKEY_CURRENT_USER\\Software\\Velmo\\Sub\n    Name    REG_SZ    below\n"
              "\nEnd of search: 2 match(es) found.\n");
}

TEST_F(VelmoMachineTest, MissingKeysAndValuesExitOneWithRegExesMessage) {
    Add({"HKCU\\Software\\Velmo", "/v", "Present", "/d", "x"});
    const std::vector<std::vector<std::string>> cases{
        {"reg", "query", "HKCU\\Software\\Missing"},
        {"reg", "query", "HKCU\\Software\\Velmo", "/v", "Absent"},
        {"reg", "query", "HKCU\\Software\\Velmo", "/ve"},
        {"reg", "query", "HKCU\\Software\\Velmo", "/v", "Absent", "/s"},
        {"reg", "delete", "HKCU\\Software\\Missing", "/f"},
        {"reg", "delete", "HKCU\\Software\\Velmo", "/v", "Absent", "/f"},
    };
    for (const auto& args : cases) {
        Result r = Run(args);
        EXPECT_EQ(r.exitCode, 1) << args[2];
        EXPECT_EQ(r.err, kNotFound) << args[2];
        EXPECT_EQ(r.out.find("HKEY_"), std::string::npos) << args[2];
    }
}

TEST_F(VelmoMachineTest, RegWorksInTheNativeViewUnlessAskedForTheInstallersView) {
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "Where", "/d", "native"});
    Add({"HKLM\\SOFTWARE\\Velmo", "/v", "Where", "/d", "wow", "/reg:32"});
    Add({"HKCR\\.velmo", "/ve", "/d", "Velmo.Document", "/reg:32"});

    std::wstring where;
    ASSERT_EQ(RegGetString(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"Where", where, KEY_WOW64_64KEY), ERROR_SUCCESS);
    EXPECT_EQ(where, L"native");
    ASSERT_EQ(RegGetString(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"Where", where), ERROR_SUCCESS);  // installer's view
    EXPECT_EQ(where, L"wow");
    ASSERT_EQ(RegGetString(Hive::LocalMachine, L"SOFTWARE\\Classes\\.velmo", L"", where, KEY_WOW64_64KEY),
              ERROR_SUCCESS);
    EXPECT_EQ(where, L"Velmo.Document");

    ASSERT_EQ(RegSetDword(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"FromInstaller", 7), ERROR_SUCCESS);
    Result r = Run({"reg", "query", "HKLM\\SOFTWARE\\Velmo", "/v", "FromInstaller", "/reg:32"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Velmo\n    FromInstaller    REG_DWORD    0x7\n\n");
    EXPECT_EQ(Run({"reg", "query", "HKLM\\SOFTWARE\\Velmo", "/v", "FromInstaller", "/reg:64"}).exitCode, 1);
    EXPECT_EQ(Run({"reg", "query", "HKLM\\SOFTWARE\\Velmo", "/v", "FromInstaller"}).exitCode, 1);
}

TEST_F(VelmoMachineTest, DeleteRemovesValuesAndKeysAndAsksFirstWithoutF) {
    Add({"HKCU\\Software\\Velmo\\Sub", "/v", "a", "/d", "1"});
    Add({"HKCU\\Software\\Velmo", "/v", "a", "/d", "1"});
    Add({"HKCU\\Software\\Velmo", "/v", "b", "/d", "2"});

    Result declined = Run({"reg", "delete", "HKCU\\Software\\Velmo", "/v", "a"}, "n\n");
    EXPECT_EQ(declined.exitCode, 1);
    std::wstring text;
    EXPECT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Velmo", L"a", text), ERROR_SUCCESS);

    Result accepted = Run({"reg", "delete", "HKCU\\Software\\Velmo", "/v", "a"}, "y\n");
    EXPECT_EQ(accepted.exitCode, 0);
    EXPECT_NE(accepted.out.find("The operation completed successfully.\n"), std::string::npos);
    EXPECT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Velmo", L"a", text), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(Run({"reg", "delete", "HKCU\\Software\\Velmo", "/va", "/f"}).exitCode, 0);
    EXPECT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Velmo", L"b", text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Velmo\\Sub", L"a", text), ERROR_SUCCESS);

    EXPECT_EQ(Run({"reg", "delete", "HKCU\\Software\\Velmo"}, "").exitCode, 1);  // no answer declines
    EXPECT_EQ(Run({"reg", "delete", "HKCU\\Software\\Velmo", "/f"}).exitCode, 0);
    RegKey gone;
    EXPECT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\Velmo", KEY_READ, gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(VelmoMachineTest, AddWithoutFAsksBeforeOverwriting) {
    Add({"HKCU\\Software\\Velmo", "/v", "x", "/d", "old"});
    EXPECT_EQ(Run({"reg", "add", "HKCU\\Software\\Velmo", "/v", "x", "/d", "new"}, "no\n").exitCode, 1);
    std::wstring text;
    ASSERT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Velmo", L"x", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"old");
    EXPECT_EQ(Run({"reg", "add", "HKCU\\Software\\Velmo", "/v", "x", "/d", "new"}, "yes\n").exitCode, 0);
    ASSERT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Velmo", L"x", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"new");
}

TEST_F(VelmoMachineTest, ArgumentsAndOutputAreUtf8) {
    Add({"HKCU\\Software\\Größe", "/v", "Näme", "/d", "日本 \xF0\x9F\x98\x80"});
    std::wstring text;
    ASSERT_EQ(RegGetString(Hive::CurrentUser, L"Software\\GRÖßE", L"NÄME", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"日本 \U0001F600");
    Result r = Run({"reg", "query", "HKCU\\Software\\größe"});
    EXPECT_EQ(r.out, "\nHKEY_CURRENT_USER\\Software\\größe\n    Näme    REG_SZ    日本 \xF0\x9F\x98\x80\n\n");
}

TEST_F(VelmoMachineTest, UsageErrorsExitTwoWithTheUsageText) {
    const std::vector<std::vector<std::string>> cases{
        {},
        {"bogus"},
        {"reg"},
        {"reg", "frobnicate", "HKCU\\x"},
        {"reg", "query"},
        {"reg", "query", "HKXX\\Software"},
        {"reg", "query", "HKCU\\Software", "/zz"},
        {"reg", "query", "HKCU\\Software", "/v"},
        {"reg", "add", "HKCU\\Software\\x", "/t", "REG_FOO", "/d", "1"},
        {"reg", "add", "HKCU\\Software\\x", "/v", "n", "/t", "REG_DWORD", "/d", "12z"},
        {"reg", "add", "HKCU\\Software\\x", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"},
        {"reg", "add", "HKCU\\Software\\x", "/v", "n", "/t", "REG_BINARY", "/d", "abc"},
        {"reg", "add", "HKCU\\Software\\x", "/v", "n", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
        {"reg", "delete", "HKCU", "/f"},
        {"path"},
        {"clip", "paste"},
        {"profile"},
        {"init", "extra"},
    };
    for (const auto& args : cases) {
        Result r = Run(args);
        std::string label = args.empty() ? "(none)" : args.back();
        EXPECT_EQ(r.exitCode, 2) << label;
        EXPECT_NE(r.err.find("Usage: velmo-machine"), std::string::npos) << label;
    }
    RegKey notMade;
    EXPECT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\x", KEY_READ, notMade), ERROR_FILE_NOT_FOUND);
}

TEST_F(VelmoMachineTest, InitCreatesAFreshPrefixNamedByVelmoMachine) {
    const auto fresh = machine_.root() / "fresh";
    std::string command = "VELMO_MACHINE=" + ShellQuote(fresh.string()) + " " +
                          ShellQuote(velmo_test::BinaryPath("velmo-machine").string()) + " init >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(fresh / "registry.db"));
    EXPECT_TRUE(std::filesystem::exists(fresh / "profile.json"));
}

TEST_F(VelmoMachineTest, PathPrintsTheHostPathOfAWindowsPath) {
    Result r = Run({"path", "C:\\Program Files (x86)\\Velmo"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, (machine_.Host(L"C:\\Program Files (x86)\\Velmo")).string() + "\n");
    Result host = Run({"path", "/usr/bin"});
    EXPECT_EQ(host.out, "/usr/bin\n");
}

TEST_F(VelmoMachineTest, ClipboardTextTravelsBetweenTheToolAndThePlatform) {
    EXPECT_EQ(Run({"clip", "set", "guide: ключ"}).exitCode, 0);
    std::wstring text;
    ASSERT_TRUE(GetClipboardText(text));
    EXPECT_EQ(text, L"guide: ключ");
    ASSERT_TRUE(SetClipboardText(L"from the installer"));
    EXPECT_EQ(Run({"clip", "get"}).out, "from the installer\n");
}

TEST_F(VelmoMachineTest, ProfileSetChangesTheMachineTheInstallerSees) {
    Result set = Run({"profile", "set", "is64Bit=false"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    platform::UseMachine(machine_.root());  // drop this process's cached profile
    EXPECT_FALSE(CurrentProfile().is64Bit);
    EXPECT_NE(Run({"profile", "show"}).out.find("\"is64Bit\": false"), std::string::npos);

    Result bad = Run({"profile", "set", "noSuchMember=1"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("noSuchMember"), std::string::npos);
}

}  // namespace
