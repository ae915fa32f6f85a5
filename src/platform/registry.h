// The machine's registry, kept in an SQLite database in the prefix (registry.db).
//
// Hives: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT (a view of HKLM
// "Software\Classes", shared by both registry views). Key and value names are case-insensitive
// and case-preserving. Values enumerate in the order they were created (overwriting keeps the
// place), subkeys in case-insensitive alphabetical order.
//
// Views: the installer is a 32-bit program. On a 64-bit machine profile its default view
// redirects HKLM "SOFTWARE\..." to "SOFTWARE\WOW6432Node\..." (except "SOFTWARE\Classes");
// KEY_WOW64_64KEY reaches the native keys and KEY_WOW64_32KEY forces the redirected ones. On a
// 32-bit profile there is no redirection. Tools that act like reg.exe pass KEY_WOW64_64KEY.
//
// Several processes may use the registry at once; every change is one transaction, so a write
// either happened or did not, even across a crash. Calls return Windows error codes (LONG).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace platform {

enum class Hive { LocalMachine, CurrentUser, ClassesRoot };

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr DWORD KEY_WOW64_64KEY = 0x0100;
inline constexpr DWORD KEY_WOW64_32KEY = 0x0200;
inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

// A value as stored: its type and its raw bytes (REG_SZ: UTF-16LE with terminator, as Windows).
struct RegValue {
    std::wstring name;
    DWORD type = REG_NONE;
    std::string data;
};

// An open key. Copyable handle onto a key path; operations on a deleted key give ERROR_KEY_DELETED.
class RegKey {
public:
    RegKey() = default;
    bool IsOpen() const { return impl_ != nullptr; }
    explicit operator bool() const { return IsOpen(); }

    // ERROR_FILE_NOT_FOUND when the key does not exist.
    static LONG Open(Hive hive, std::wstring_view subKey, DWORD access, RegKey& key);
    LONG OpenSubKey(std::wstring_view subKey, DWORD access, RegKey& key) const;
    // Creates missing keys along the path; `created` says whether the last one is new.
    static LONG Create(Hive hive, std::wstring_view subKey, DWORD access, RegKey& key, bool* created = nullptr);
    LONG CreateSubKey(std::wstring_view subKey, DWORD access, RegKey& key, bool* created = nullptr) const;

    // Raw value access. An empty name is the key's default value.
    LONG QueryValue(std::wstring_view name, DWORD& type, std::string& data) const;
    LONG SetValue(std::wstring_view name, DWORD type, std::string_view data) const;
    LONG DeleteValue(std::wstring_view name) const;

    // Typed helpers. QueryString accepts REG_SZ and REG_EXPAND_SZ and drops the terminator(s).
    LONG QueryString(std::wstring_view name, std::wstring& value) const;
    LONG QueryDword(std::wstring_view name, DWORD& value) const;
    LONG QueryQword(std::wstring_view name, std::uint64_t& value) const;
    LONG QueryMultiString(std::wstring_view name, std::vector<std::wstring>& values) const;
    LONG SetString(std::wstring_view name, std::wstring_view value, DWORD type = REG_SZ) const;
    LONG SetDword(std::wstring_view name, DWORD value) const;
    LONG SetQword(std::wstring_view name, std::uint64_t value) const;
    LONG SetMultiString(std::wstring_view name, const std::vector<std::wstring>& values) const;

    // Enumeration by index, as RegEnumValue / RegEnumKeyEx: ERROR_NO_MORE_ITEMS past the end.
    LONG EnumValue(DWORD index, RegValue& value) const;
    LONG EnumKey(DWORD index, std::wstring& name) const;
    // Whole lists in enumeration order.
    LONG Values(std::vector<RegValue>& values) const;
    LONG SubKeyNames(std::vector<std::wstring>& names) const;

    // Deletes a subkey that has no subkeys of its own (ERROR_ACCESS_DENIED otherwise), as RegDeleteKeyEx.
    LONG DeleteSubKey(std::wstring_view subKey, DWORD viewFlags = 0) const;
    // Deletes a subkey with everything below it, as RegDeleteTree; an empty name empties this key.
    LONG DeleteTree(std::wstring_view subKey) const;

    // Full name as reg.exe prints it, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Velmo".
    std::wstring FullName() const;

    struct Impl;

private:
    std::shared_ptr<const Impl> impl_;
};

// Convenience for one-off reads and writes: open, act, close.
LONG RegGetString(Hive hive, std::wstring_view subKey, std::wstring_view name, std::wstring& value,
                  DWORD viewFlags = 0);
LONG RegGetDword(Hive hive, std::wstring_view subKey, std::wstring_view name, DWORD& value, DWORD viewFlags = 0);
LONG RegSetString(Hive hive, std::wstring_view subKey, std::wstring_view name, std::wstring_view value,
                  DWORD viewFlags = 0);
LONG RegSetDword(Hive hive, std::wstring_view subKey, std::wstring_view name, DWORD value, DWORD viewFlags = 0);
// Deletes a key with everything below it; ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegDeleteTree(Hive hive, std::wstring_view subKey, DWORD viewFlags = 0);

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", "HKEY_CURRENT_USER", "HKCR", "HKEY_CLASSES_ROOT" at the
// start of a full key name; `rest` receives the subkey path. False for any other root.
bool ParseRegistryKeyName(std::wstring_view fullName, Hive& hive, std::wstring& rest);

}  // namespace platform
