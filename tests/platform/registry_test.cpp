#include "platform/registry.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "support/temp_machine.h"

namespace {

using namespace platform;

constexpr DWORD kNative = KEY_WOW64_64KEY;

void UseProfileBitness(bool is64) {
    MachineProfile profile = CurrentProfile();
    profile.is64Bit = is64;
    ASSERT_TRUE(SaveMachineProfile(profile));
    ASSERT_EQ(CurrentProfile().is64Bit, is64);
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) out.push_back(static_cast<char>(b));
    return out;
}

std::vector<std::wstring> ValueNames(const RegKey& key) {
    std::vector<std::wstring> names;
    RegValue v;
    for (DWORD i = 0; key.EnumValue(i, v) == ERROR_SUCCESS; ++i) names.push_back(v.name);
    return names;
}

std::vector<std::wstring> SubKeys(const RegKey& key) {
    std::vector<std::wstring> names;
    std::wstring name;
    for (DWORD i = 0; key.EnumKey(i, name) == ERROR_SUCCESS; ++i) names.push_back(name);
    return names;
}

// Waits for a forked child and gives its exit status (-1 when it did not exit normally).
int WaitChild(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------------------------------------
// Views and redirection

struct ViewCase {
    const char* label;
    bool machine64;
    Hive hive;
    DWORD viewFlags;
    const wchar_t* subKey;
    const wchar_t* nativeFullName;  // where the key really lives, as the 64-bit view names it
};

void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.label; }

class RegistryViewTest : public velmo_test::MachineTest, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(RegistryViewTest, KeyLandsInTheViewItsFlagsAndTheProfileSelect) {
    const ViewCase& c = GetParam();
    UseProfileBitness(c.machine64);

    RegKey written;
    ASSERT_EQ(RegKey::Create(c.hive, c.subKey, KEY_ALL_ACCESS | c.viewFlags, written), ERROR_SUCCESS);
    ASSERT_EQ(written.SetString(L"Marker", L"here"), ERROR_SUCCESS);

    Hive nativeHive;
    std::wstring nativePath;
    ASSERT_TRUE(ParseRegistryKeyName(c.nativeFullName, nativeHive, nativePath));
    std::wstring marker;
    EXPECT_EQ(RegGetString(nativeHive, nativePath, L"Marker", marker, kNative), ERROR_SUCCESS) << c.nativeFullName;
    EXPECT_EQ(marker, L"here");
    if (c.hive != Hive::ClassesRoot) {
        EXPECT_EQ(written.FullName(), c.nativeFullName);
    }

    // Reading back through the same view finds it too.
    EXPECT_EQ(RegGetString(c.hive, c.subKey, L"Marker", marker, c.viewFlags), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Views, RegistryViewTest,
    ::testing::Values(
        ViewCase{"Default64", true, Hive::LocalMachine, 0, L"SOFTWARE\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Velmo"},
        ViewCase{"Explicit32On64", true, Hive::LocalMachine, KEY_WOW64_32KEY, L"SOFTWARE\\Velmo\\Sub",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Velmo\\Sub"},
        ViewCase{"LowerCaseSoftware64", true, Hive::LocalMachine, 0, L"software\\velmo",
                 L"HKEY_LOCAL_MACHINE\\software\\WOW6432Node\\velmo"},
        ViewCase{"Native64", true, Hive::LocalMachine, KEY_WOW64_64KEY, L"SOFTWARE\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo"},
        ViewCase{"ClassesShared64", true, Hive::LocalMachine, 0, L"SOFTWARE\\Classes\\.velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.velmo"},
        ViewCase{"AlreadyWow64", true, Hive::LocalMachine, 0, L"SOFTWARE\\WOW6432Node\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Velmo"},
        ViewCase{"SystemNotRedirected64", true, Hive::LocalMachine, 0, L"SYSTEM\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SYSTEM\\Velmo"},
        ViewCase{"CurrentUserNotRedirected64", true, Hive::CurrentUser, 0, L"Software\\Velmo",
                 L"HKEY_CURRENT_USER\\Software\\Velmo"},
        ViewCase{"ClassesRoot64", true, Hive::ClassesRoot, 0, L".velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.velmo"},
        ViewCase{"Default32", false, Hive::LocalMachine, 0, L"SOFTWARE\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo"},
        ViewCase{"Explicit32On32", false, Hive::LocalMachine, KEY_WOW64_32KEY, L"SOFTWARE\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo"},
        ViewCase{"Native32", false, Hive::LocalMachine, KEY_WOW64_64KEY, L"SOFTWARE\\Velmo",
                 L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmo"}),
    [](const auto& info) { return std::string(info.param.label); });

using RegistryTest = velmo_test::MachineTest;

TEST_F(RegistryTest, SoftwareInTheDefaultViewOfA64BitMachineIsTheWow64NodeAndTheNativeKeyIsSeparate) {
    UseProfileBitness(true);
    ASSERT_EQ(RegSetString(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"View", L"32"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"View", L"64", kNative), ERROR_SUCCESS);

    std::wstring view;
    ASSERT_EQ(RegGetString(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"View", view), ERROR_SUCCESS);
    EXPECT_EQ(view, L"32");
    ASSERT_EQ(RegGetString(Hive::LocalMachine, L"SOFTWARE\\Velmo", L"View", view, kNative), ERROR_SUCCESS);
    EXPECT_EQ(view, L"64");

    RegKey software;
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, L"SOFTWARE", KEY_READ, software), ERROR_SUCCESS);
    EXPECT_EQ(software.FullName(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node");
    EXPECT_EQ(SubKeys(software), std::vector<std::wstring>{L"Velmo"});
}

TEST_F(RegistryTest, RelativeOpensKeepTheHandlesViewUnlessTheyNameOne) {
    UseProfileBitness(true);
    RegKey root, native;
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, L"", KEY_READ, root), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, L"SOFTWARE", KEY_ALL_ACCESS | kNative, native), ERROR_SUCCESS);

    RegKey a, b, c;
    ASSERT_EQ(root.CreateSubKey(L"SOFTWARE\\A", KEY_ALL_ACCESS, a), ERROR_ACCESS_DENIED);  // KEY_READ handle
    ASSERT_EQ(native.CreateSubKey(L"B", KEY_ALL_ACCESS, b), ERROR_SUCCESS);
    ASSERT_EQ(native.CreateSubKey(L"C", KEY_ALL_ACCESS | KEY_WOW64_32KEY, c), ERROR_SUCCESS);
    EXPECT_EQ(b.FullName(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\B");
    EXPECT_EQ(c.FullName(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\C");

    RegKey viaRoot;
    ASSERT_EQ(root.OpenSubKey(L"SOFTWARE\\C", KEY_READ, viaRoot), ERROR_SUCCESS);
    EXPECT_EQ(viaRoot.FullName(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\C");
    EXPECT_EQ(root.OpenSubKey(L"SOFTWARE\\B", KEY_READ, viaRoot), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(root.OpenSubKey(L"SOFTWARE\\B", KEY_READ | kNative, viaRoot), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ClassesRootIsTheSharedSoftwareClassesKey) {
    UseProfileBitness(true);
    RegKey ext;
    ASSERT_EQ(RegKey::Create(Hive::ClassesRoot, L".velmo", KEY_ALL_ACCESS, ext), ERROR_SUCCESS);
    EXPECT_EQ(ext.FullName(), L"HKEY_CLASSES_ROOT\\.velmo");
    ASSERT_EQ(ext.SetString(L"", L"Velmo.Document"), ERROR_SUCCESS);

    for (DWORD view : {DWORD{0}, KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        std::wstring progId;
        EXPECT_EQ(RegGetString(Hive::LocalMachine, L"SOFTWARE\\Classes\\.velmo", L"", progId, view), ERROR_SUCCESS)
            << view;
        EXPECT_EQ(progId, L"Velmo.Document");
    }
    RegKey classes;
    ASSERT_EQ(RegKey::Open(Hive::ClassesRoot, L"", KEY_READ, classes), ERROR_SUCCESS);
    EXPECT_EQ(classes.FullName(), L"HKEY_CLASSES_ROOT");
    EXPECT_EQ(SubKeys(classes), std::vector<std::wstring>{L".velmo"});
}

// ---------------------------------------------------------------------------------------------
// Names, order, types

TEST_F(RegistryTest, KeyAndValueNamesAreCaseInsensitiveBeyondAsciiAndKeepTheirFirstSpelling) {
    RegKey key;
    bool created = false;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Velmo\\Ünïcode Σοφία", KEY_ALL_ACCESS, key, &created),
              ERROR_SUCCESS);
    EXPECT_TRUE(created);
    ASSERT_EQ(key.SetString(L"InstallDir", L"C:\\Velmo"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"Ärger", L"first"), ERROR_SUCCESS);

    RegKey same;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"SOFTWARE\\VELMO\\üNÏCODE σΟΦΊΑ", KEY_ALL_ACCESS, same, &created),
              ERROR_SUCCESS);
    EXPECT_FALSE(created);
    std::wstring dir;
    EXPECT_EQ(same.QueryString(L"INSTALLDIR", dir), ERROR_SUCCESS);
    EXPECT_EQ(dir, L"C:\\Velmo");
    ASSERT_EQ(same.SetString(L"äRGER", L"second"), ERROR_SUCCESS);

    std::vector<RegValue> values;
    ASSERT_EQ(key.Values(values), ERROR_SUCCESS);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1].name, L"Ärger");
    std::wstring text;
    ASSERT_EQ(key.QueryString(L"ärger", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"second");

    RegKey velmo;
    ASSERT_EQ(RegKey::Open(Hive::CurrentUser, L"software\\velmo", KEY_READ, velmo), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(velmo), std::vector<std::wstring>{L"Ünïcode Σοφία"});
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderAndOverwritingKeepsThePlace) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Order", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    for (const wchar_t* name : {L"zeta", L"Alpha", L"", L"mid"}) ASSERT_EQ(key.SetDword(name, 1), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"ALPHA", L"now a string"), ERROR_SUCCESS);
    ASSERT_EQ(key.DeleteValue(L"zeta"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(L"Zeta", 2), ERROR_SUCCESS);

    const std::vector<std::wstring> expected{L"Alpha", L"", L"mid", L"Zeta"};
    EXPECT_EQ(ValueNames(key), expected);
    std::vector<RegValue> values;
    ASSERT_EQ(key.Values(values), ERROR_SUCCESS);
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(values[i].name, expected[i]);
    EXPECT_EQ(values[0].type, REG_SZ);

    RegValue past;
    EXPECT_EQ(key.EnumValue(4, past), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(key.DeleteValue(L"missing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveAlphabeticalOrder) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Sorted", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    for (const wchar_t* name : {L"beta", L"_under", L"Zeta", L"alpha", L"Gamma", L"äther", L"10"}) {
        RegKey sub;
        ASSERT_EQ(key.CreateSubKey(name, KEY_ALL_ACCESS, sub), ERROR_SUCCESS);
    }
    // Upper-case forms compared by code point: digits, letters, '_' (after 'Z'), then non-ASCII.
    const std::vector<std::wstring> expected{L"10", L"alpha", L"beta", L"Gamma", L"Zeta", L"_under", L"äther"};
    EXPECT_EQ(SubKeys(key), expected);
    std::vector<std::wstring> names;
    ASSERT_EQ(key.SubKeyNames(names), ERROR_SUCCESS);
    EXPECT_EQ(names, expected);
    std::wstring past;
    EXPECT_EQ(key.EnumKey(static_cast<DWORD>(expected.size()), past), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, EnumerationByIndexSeesChangesMadeBetweenCalls) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Live", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(L"one", 1), ERROR_SUCCESS);
    RegValue v;
    ASSERT_EQ(key.EnumValue(0, v), ERROR_SUCCESS);
    EXPECT_EQ(key.EnumValue(1, v), ERROR_NO_MORE_ITEMS);

    // A change by this process...
    ASSERT_EQ(key.SetDword(L"two", 2), ERROR_SUCCESS);
    ASSERT_EQ(key.EnumValue(1, v), ERROR_SUCCESS);
    EXPECT_EQ(v.name, L"two");

    // ...and by another one.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        RegKey child;
        bool ok = RegKey::Open(Hive::CurrentUser, L"Software\\Live", KEY_ALL_ACCESS, child) == ERROR_SUCCESS &&
                  child.DeleteValue(L"one") == ERROR_SUCCESS && child.SetDword(L"three", 3) == ERROR_SUCCESS &&
                  child.CreateSubKey(L"Sub", KEY_ALL_ACCESS, child) == ERROR_SUCCESS;
        ::_exit(ok ? 0 : 1);
    }
    ASSERT_EQ(WaitChild(pid), 0);
    EXPECT_EQ(ValueNames(key), (std::vector<std::wstring>{L"two", L"three"}));
    EXPECT_EQ(SubKeys(key), std::vector<std::wstring>{L"Sub"});
}

TEST_F(RegistryTest, EnumeratesThousandsOfValuesByIndex) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Many", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    constexpr int kCount = 3000;
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(key.SetDword(L"v" + std::to_wstring(i), static_cast<DWORD>(i)), ERROR_SUCCESS);
    RegValue v;
    DWORD i = 0;
    for (; key.EnumValue(i, v) == ERROR_SUCCESS; ++i) {
        ASSERT_EQ(v.name, L"v" + std::to_wstring(i));
    }
    EXPECT_EQ(i, static_cast<DWORD>(kCount));
}

struct TypeCase {
    const char* label;
    DWORD type;
    std::string bytes;  // as Windows stores them
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.label; }

class RegistryTypeTest : public velmo_test::MachineTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(RegistryTypeTest, RawBytesRoundTripWithTheirType) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Types", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetValue(L"v", GetParam().type, GetParam().bytes), ERROR_SUCCESS);
    DWORD type = REG_NONE;
    std::string data;
    ASSERT_EQ(key.QueryValue(L"v", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, GetParam().type);
    EXPECT_EQ(data, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Types, RegistryTypeTest,
                         ::testing::Values(TypeCase{"Binary", REG_BINARY, Bytes({0, 1, 0xFF, 0, 0x80})},
                                           TypeCase{"EmptyBinary", REG_BINARY, ""},
                                           TypeCase{"None", REG_NONE, Bytes({7})},
                                           TypeCase{"OddSizedString", REG_SZ, Bytes({'a', 0, 'b'})}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegistryTest, TypedSettersStoreWindowsBytesAndTypedGettersReadThemBack) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Typed", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"sz", L"ab"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"empty", L""), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"clef", L"\U0001D11E"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"expand", L"%TEMP%", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.SetMultiString(L"multi", {L"a", L"bc"}), ERROR_SUCCESS);
    ASSERT_EQ(key.SetMultiString(L"nomulti", {}), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(L"dword", 0x12345678), ERROR_SUCCESS);
    ASSERT_EQ(key.SetQword(L"qword", 0x0102030405060708ull), ERROR_SUCCESS);

    const struct {
        const wchar_t* name;
        DWORD type;
        std::string bytes;
    } expected[] = {
        {L"sz", REG_SZ, Bytes({'a', 0, 'b', 0, 0, 0})},
        {L"empty", REG_SZ, Bytes({0, 0})},
        {L"clef", REG_SZ, Bytes({0x34, 0xD8, 0x1E, 0xDD, 0, 0})},
        {L"expand", REG_EXPAND_SZ, Bytes({'%', 0, 'T', 0, 'E', 0, 'M', 0, 'P', 0, '%', 0, 0, 0})},
        {L"multi", REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0})},
        {L"nomulti", REG_MULTI_SZ, Bytes({0, 0})},
        {L"dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})},
        {L"qword", REG_QWORD, Bytes({8, 7, 6, 5, 4, 3, 2, 1})},
    };
    for (const auto& e : expected) {
        DWORD type = REG_NONE;
        std::string data;
        ASSERT_EQ(key.QueryValue(e.name, type, data), ERROR_SUCCESS);
        EXPECT_EQ(type, e.type) << Utf8FromWide(e.name);
        EXPECT_EQ(data, e.bytes) << Utf8FromWide(e.name);
    }

    std::wstring text;
    EXPECT_EQ(key.QueryString(L"clef", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"\U0001D11E");
    EXPECT_EQ(key.QueryString(L"expand", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"%TEMP%");
    std::vector<std::wstring> multi;
    EXPECT_EQ(key.QueryMultiString(L"multi", multi), ERROR_SUCCESS);
    EXPECT_EQ(multi, (std::vector<std::wstring>{L"a", L"bc"}));
    EXPECT_EQ(key.QueryMultiString(L"nomulti", multi), ERROR_SUCCESS);
    EXPECT_TRUE(multi.empty());
    DWORD dword = 0;
    EXPECT_EQ(key.QueryDword(L"dword", dword), ERROR_SUCCESS);
    EXPECT_EQ(dword, 0x12345678u);
    std::uint64_t qword = 0;
    EXPECT_EQ(key.QueryQword(L"qword", qword), ERROR_SUCCESS);
    EXPECT_EQ(qword, 0x0102030405060708ull);

    // A getter of the wrong type refuses instead of reinterpreting the bytes.
    EXPECT_EQ(key.QueryString(L"dword", text), ERROR_INVALID_DATA);
    EXPECT_EQ(key.QueryDword(L"qword", dword), ERROR_INVALID_DATA);
    EXPECT_EQ(key.QueryDword(L"missing", dword), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.SetMultiString(L"bad", {L"a", L""}), ERROR_INVALID_PARAMETER);
}

// ---------------------------------------------------------------------------------------------
// Deleting

TEST_F(RegistryTest, DeleteSubKeyRefusesAKeyWithChildrenAndDeleteTreeRemovesEverything) {
    RegKey velmo, child, grandchild;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Velmo", KEY_ALL_ACCESS, velmo), ERROR_SUCCESS);
    ASSERT_EQ(velmo.CreateSubKey(L"Child\\Grandchild", KEY_ALL_ACCESS, grandchild), ERROR_SUCCESS);
    ASSERT_EQ(grandchild.SetDword(L"x", 1), ERROR_SUCCESS);

    EXPECT_EQ(velmo.DeleteSubKey(L"Child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(velmo.OpenSubKey(L"Child\\Grandchild", KEY_READ, child), ERROR_SUCCESS);
    EXPECT_EQ(velmo.DeleteSubKey(L"Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(velmo.DeleteSubKey(L"child\\GRANDCHILD"), ERROR_SUCCESS);
    EXPECT_EQ(velmo.OpenSubKey(L"Child\\Grandchild", KEY_READ, child), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(velmo.CreateSubKey(L"Child\\Again\\Deeper", KEY_ALL_ACCESS, grandchild), ERROR_SUCCESS);
    ASSERT_EQ(velmo.SetString(L"kept?", L"no"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(Hive::CurrentUser, L"Software\\Velmo\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(velmo.OpenSubKey(L"Child", KEY_READ, child), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(Hive::CurrentUser, L"Software\\Velmo\\Child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(Hive::CurrentUser, L""), ERROR_ACCESS_DENIED);

    // An empty name empties the key and keeps it.
    ASSERT_EQ(velmo.CreateSubKey(L"One\\Two", KEY_ALL_ACCESS, child), ERROR_SUCCESS);
    EXPECT_EQ(velmo.DeleteTree(L""), ERROR_SUCCESS);
    std::vector<RegValue> values;
    std::vector<std::wstring> names;
    ASSERT_EQ(velmo.Values(values), ERROR_SUCCESS);
    ASSERT_EQ(velmo.SubKeyNames(names), ERROR_SUCCESS);
    EXPECT_TRUE(values.empty());
    EXPECT_TRUE(names.empty());
}

TEST_F(RegistryTest, AHandleOntoADeletedKeyReportsKeyDeletedEvenAfterTheKeyIsRecreated) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Gone\\Sub", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(L"x", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTree(Hive::CurrentUser, L"Software\\Gone"), ERROR_SUCCESS);

    DWORD type = 0, dword = 0;
    std::string data;
    RegValue value;
    std::wstring name;
    RegKey other;
    EXPECT_EQ(key.QueryValue(L"x", type, data), ERROR_KEY_DELETED);
    EXPECT_EQ(key.SetDword(L"x", 2), ERROR_KEY_DELETED);
    EXPECT_EQ(key.EnumValue(0, value), ERROR_KEY_DELETED);
    EXPECT_EQ(key.EnumKey(0, name), ERROR_KEY_DELETED);
    EXPECT_EQ(key.CreateSubKey(L"New", KEY_ALL_ACCESS, other), ERROR_KEY_DELETED);

    RegKey again;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\Gone\\Sub", KEY_ALL_ACCESS, again), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryDword(L"x", dword), ERROR_KEY_DELETED);
    EXPECT_EQ(key.OpenSubKey(L"", KEY_READ, other), ERROR_KEY_DELETED);
    EXPECT_EQ(again.SetDword(L"x", 3), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesRespectTheirAccessAndMissingThingsAreNotFound) {
    ASSERT_EQ(RegSetDword(Hive::CurrentUser, L"Software\\Acl", L"x", 1), ERROR_SUCCESS);
    RegKey readOnly, writeOnly, none;
    ASSERT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\Acl", KEY_READ, readOnly), ERROR_SUCCESS);
    ASSERT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\Acl", KEY_WRITE, writeOnly), ERROR_SUCCESS);
    DWORD dword = 0;
    EXPECT_EQ(readOnly.QueryDword(L"x", dword), ERROR_SUCCESS);
    EXPECT_EQ(readOnly.SetDword(L"x", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(writeOnly.QueryDword(L"x", dword), ERROR_ACCESS_DENIED);
    EXPECT_EQ(writeOnly.SetDword(L"x", 2), ERROR_SUCCESS);
    EXPECT_EQ(none.SetDword(L"x", 2), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\Nope", KEY_READ, readOnly), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetDword(Hive::CurrentUser, L"Software\\Acl", L"y", dword), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegKey::Create(Hive::CurrentUser, std::wstring(256, L'k'), KEY_ALL_ACCESS, readOnly),
              ERROR_INVALID_PARAMETER);
}

// ---------------------------------------------------------------------------------------------
// Several processes, threads and prefixes

TEST_F(RegistryTest, TwoProcessesWritingTheSameKeyAtOnceLoseNothing) {
    // The children open the fresh database together, so its creation races as well.
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    constexpr int kPerChild = 200;
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(gate[1]);
            char go;
            if (::read(gate[0], &go, 1) != 1) ::_exit(3);
            RegKey key;
            if (RegKey::Create(Hive::LocalMachine, L"SOFTWARE\\Shared", KEY_ALL_ACCESS, key) != ERROR_SUCCESS)
                ::_exit(1);
            for (int i = 0; i < kPerChild; ++i) {
                std::wstring name = L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i);
                if (key.SetDword(name, static_cast<DWORD>(i)) != ERROR_SUCCESS) ::_exit(2);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ASSERT_EQ(::write(gate[1], "gg", 2), 2);
    ::close(gate[1]);
    for (pid_t pid : children) EXPECT_EQ(WaitChild(pid), 0);

    RegKey key;
    ASSERT_EQ(RegKey::Open(Hive::LocalMachine, L"SOFTWARE\\Shared", KEY_READ, key), ERROR_SUCCESS);
    std::vector<RegValue> values;
    ASSERT_EQ(key.Values(values), ERROR_SUCCESS);
    EXPECT_EQ(values.size(), 2u * kPerChild);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kPerChild; ++i) {
            DWORD v = 0;
            EXPECT_EQ(key.QueryDword(L"c" + std::to_wstring(c) + L"_" + std::to_wstring(i), v), ERROR_SUCCESS);
            EXPECT_EQ(v, static_cast<DWORD>(i));
        }
}

TEST_F(RegistryTest, ThreadsSharingTheConnectionLoseNothing) {
    constexpr int kThreads = 4, kPerThread = 50;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            RegKey key;
            if (RegKey::Create(Hive::CurrentUser, L"Software\\Threads", KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
                ++failures[t];
                return;
            }
            for (int i = 0; i < kPerThread; ++i) {
                std::wstring name = L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i);
                RegValue v;
                if (key.SetDword(name, 1) != ERROR_SUCCESS || key.EnumValue(0, v) != ERROR_SUCCESS) ++failures[t];
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    RegKey key;
    ASSERT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\Threads", KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key).size(), static_cast<std::size_t>(kThreads * kPerThread));
}

TEST_F(RegistryTest, AWriteThatReturnedSurvivesTheProcessBeingKilled) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (RegSetString(Hive::CurrentUser, L"Software\\Crash", L"written", L"yes") != ERROR_SUCCESS) ::_exit(1);
        ::raise(SIGKILL);
        ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::wstring text;
    EXPECT_EQ(RegGetString(Hive::CurrentUser, L"Software\\Crash", L"written", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"yes");
}

TEST_F(RegistryTest, EachPrefixHasItsOwnRegistryAndOldHandlesStopWorking) {
    RegKey key;
    ASSERT_EQ(RegKey::Create(Hive::CurrentUser, L"Software\\First", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(machine_.root() / "registry.db"));
    {
        velmo_test::TempMachine other;
        RegKey there;
        EXPECT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\First", KEY_READ, there), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(key.SetDword(L"x", 1), ERROR_INVALID_HANDLE);
        platform::UseMachine(machine_.root());
    }
    RegKey back;
    EXPECT_EQ(RegKey::Open(Hive::CurrentUser, L"Software\\First", KEY_READ, back), ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------------

TEST(RegistryKeyNameTest, ParsesEveryRootSpellingAndRejectsOthers) {
    const struct {
        const wchar_t* text;
        bool ok;
        Hive hive;
        const wchar_t* rest;
    } cases[] = {
        {L"HKLM\\SOFTWARE\\Velmo", true, Hive::LocalMachine, L"SOFTWARE\\Velmo"},
        {L"hkey_local_machine\\SOFTWARE", true, Hive::LocalMachine, L"SOFTWARE"},
        {L"HKCU", true, Hive::CurrentUser, L""},
        {L"HKEY_CURRENT_USER\\Software", true, Hive::CurrentUser, L"Software"},
        {L"HKCR\\.msi", true, Hive::ClassesRoot, L".msi"},
        {L"HKEY_CLASSES_ROOT\\", true, Hive::ClassesRoot, L""},
        {L"HKU\\x", false, Hive::LocalMachine, L""},
        {L"HKLMX\\x", false, Hive::LocalMachine, L""},
        {L"", false, Hive::LocalMachine, L""},
    };
    for (const auto& c : cases) {
        Hive hive = Hive::LocalMachine;
        std::wstring rest;
        EXPECT_EQ(ParseRegistryKeyName(c.text, hive, rest), c.ok) << Utf8FromWide(c.text);
        if (!c.ok) continue;
        EXPECT_EQ(hive, c.hive) << Utf8FromWide(c.text);
        EXPECT_EQ(rest, c.rest) << Utf8FromWide(c.text);
    }
}

}  // namespace
