// velmo-machine: inspects and changes a machine prefix (VELMO_MACHINE) for people and black-box
// tests. `reg` behaves like reg.exe on 64-bit Windows: the native view unless /reg:32 asks for the
// one the installer sees. Exit codes: 0 success, 1 failure, 2 usage error.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clipboard.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

using namespace platform;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "Usage: velmo-machine COMMAND ...\n"
    "  init                                  create the machine prefix (VELMO_MACHINE)\n"
    "  path WINDOWS_PATH                     print the host path of a Windows path\n"
    "  reg query KEY [/v NAME | /ve] [/s] [/reg:32|/reg:64]\n"
    "  reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f] [/reg:32|/reg:64]\n"
    "  reg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32|/reg:64]\n"
    "  clip get | clip set TEXT | clip empty\n"
    "  profile show | profile set KEY=VALUE [KEY=VALUE ...]\n"
    "KEY starts with HKLM, HKCU, HKCR or their long names. TYPE is REG_SZ (default), REG_EXPAND_SZ,\n"
    "REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE. reg works in the 64-bit view unless\n"
    "/reg:32 is given.\n";

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr const char* kDone = "The operation completed successfully.\n";

void Write(std::FILE* stream, std::wstring_view text) {
    std::string utf8 = Utf8FromWide(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}
void Out(std::wstring_view text) { Write(stdout, text); }
void Err(std::wstring_view text) { Write(stderr, text); }

int Usage(std::wstring_view problem = {}) {
    if (!problem.empty()) {
        Err(L"ERROR: ");
        Err(problem);
        Err(L"\n");
    }
    std::fputs(kUsageText, stderr);
    return kUsage;
}

// The message of a failed registry call, as reg.exe words the common ones.
int RegFailure(LONG code) {
    if (code == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) {
        std::fputs(kNotFound, stderr);
    } else if (code == static_cast<LONG>(ERROR_ACCESS_DENIED)) {
        std::fputs("ERROR: Access is denied.\n", stderr);
    } else {
        Err(L"ERROR: The registry call failed with error " + std::to_wstring(code) + L".\n");
    }
    return kFailed;
}

bool IsOption(const std::wstring& arg, std::wstring_view name) {
    return arg.size() == name.size() + 1 && (arg[0] == L'/' || arg[0] == L'-') &&
           EqualsNoCase(std::wstring_view(arg).substr(1), name);
}

// Asks on the terminal; anything but yes (or end of input) declines.
bool Confirm(std::wstring_view question) {
    Out(question);
    Out(L" (Yes/No)? ");
    std::fflush(stdout);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) {
        Out(L"\n");
        return false;
    }
    return line[0] == 'y' || line[0] == 'Y';
}

// ---------------------------------------------------------------------------------------------
// Data in reg.exe's text form

std::wstring Hex(std::uint64_t value, bool upper) {
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return out;
}

std::wstring TypeName(DWORD type) {
    switch (type) {
        case REG_NONE: return L"REG_NONE";
        case REG_SZ: return L"REG_SZ";
        case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
        case REG_BINARY: return L"REG_BINARY";
        case REG_DWORD: return L"REG_DWORD";
        case REG_MULTI_SZ: return L"REG_MULTI_SZ";
        case REG_QWORD: return L"REG_QWORD";
        default: return L"0x" + Hex(type, false);
    }
}

bool TypeFromName(const std::wstring& name, DWORD& type) {
    for (DWORD t : {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD}) {
        if (EqualsNoCase(name, TypeName(t))) {
            type = t;
            return true;
        }
    }
    return false;
}

std::uint64_t LittleEndian(const std::string& data, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size && i < data.size(); ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    return value;
}

std::wstring DataText(const RegValue& v) {
    switch (v.type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::wstring text = WideFromUtf16Le(v.data);
            if (auto nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
            return text;
        }
        case REG_MULTI_SZ: {
            std::wstring text = WideFromUtf16Le(v.data), out;
            std::size_t i = 0;
            while (i < text.size()) {
                std::size_t nul = text.find(L'\0', i);
                if (nul == std::wstring::npos) nul = text.size();
                if (nul == i) break;
                if (!out.empty()) out += L"\\0";
                out += text.substr(i, nul - i);
                i = nul + 1;
            }
            return out;
        }
        case REG_DWORD:
            if (v.data.size() == 4) return L"0x" + Hex(LittleEndian(v.data, 4), false);
            break;
        case REG_QWORD:
            if (v.data.size() == 8) return L"0x" + Hex(LittleEndian(v.data, 8), false);
            break;
        default: break;
    }
    std::wstring out;
    for (unsigned char b : v.data) {
        out += L"0123456789ABCDEF"[b >> 4];
        out += L"0123456789ABCDEF"[b & 0xF];
    }
    return out;
}

bool ParseNumber(const std::wstring& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty()) return false;
    std::size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        i = 2;
    }
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        wchar_t c = text[i];
        int d = (c >= L'0' && c <= L'9') ? c - L'0'
                : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                           : 99;
        if (d >= base) return false;
        if (v > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    value = v;
    return true;
}

// The bytes of /d DATA for /t TYPE; false when the text is no valid value of the type.
bool DataBytes(DWORD type, const std::wstring& text, const std::wstring& separator, std::string& out) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            out = Utf16LeFromWide(text) + std::string(2, '\0');
            return true;
        case REG_MULTI_SZ: {
            std::wstring joined;
            std::size_t i = 0;
            while (!text.empty() && i <= text.size()) {
                std::size_t end = text.find(separator, i);
                if (end == std::wstring::npos) end = text.size();
                if (end == i) return false;  // an empty string would end the list early
                joined += text.substr(i, end - i);
                joined.push_back(L'\0');
                i = end + separator.size();
            }
            joined.push_back(L'\0');
            out = Utf16LeFromWide(joined);
            return true;
        }
        case REG_DWORD:
        case REG_QWORD: {
            std::uint64_t v = 0;
            const std::size_t size = type == REG_DWORD ? 4 : 8;
            if (!ParseNumber(text.empty() ? L"0" : text, size == 4 ? 0xFFFFFFFFull : ~0ull, v)) return false;
            out.assign(size, '\0');
            for (std::size_t b = 0; b < size; ++b) out[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
            return true;
        }
        default: {
            if (text.size() % 2) return false;
            out.clear();
            for (std::size_t i = 0; i < text.size(); i += 2) {
                std::uint64_t byte = 0;
                if (!ParseNumber(L"0x" + text.substr(i, 2), 0xFF, byte)) return false;
                out.push_back(static_cast<char>(byte));
            }
            return true;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// reg

struct RegArgs {
    Hive hive = Hive::LocalMachine;
    std::wstring subKey;
    std::wstring valueName;
    bool hasValue = false;  // /v or /ve
    bool allValues = false; // /va
    bool recurse = false;
    bool force = false;
    bool hasType = false, hasData = false;
    DWORD type = REG_SZ;
    std::wstring data;
    std::wstring separator = L"\\0";
    DWORD view = KEY_WOW64_64KEY;
};

enum class RegVerb { Query, Add, Delete };

// Parses KEY and the switches the verb allows; returns kOk or the exit code of a usage error.
int ParseRegArgs(RegVerb verb, const std::vector<std::wstring>& args, RegArgs& out) {
    if (args.size() < 3) return Usage(L"Invalid syntax.");
    if (!ParseRegistryKeyName(args[2], out.hive, out.subKey)) return Usage(L"Invalid key name.");
    for (std::size_t i = 3; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        const bool more = i + 1 < args.size();
        if (IsOption(a, L"v") && more && !out.hasValue) {
            out.hasValue = true;
            out.valueName = args[++i];
        } else if (IsOption(a, L"ve") && !out.hasValue) {
            out.hasValue = true;
            out.valueName.clear();
        } else if (IsOption(a, L"va") && verb == RegVerb::Delete) {
            out.allValues = true;
        } else if (IsOption(a, L"s") && verb == RegVerb::Query) {
            out.recurse = true;
        } else if (IsOption(a, L"s") && verb == RegVerb::Add && more) {
            out.separator = args[++i];
            if (out.separator.empty()) return Usage(L"Invalid separator.");
        } else if (IsOption(a, L"t") && verb == RegVerb::Add && more) {
            if (!TypeFromName(args[++i], out.type)) return Usage(L"Invalid type: " + args[i]);
            out.hasType = true;
        } else if (IsOption(a, L"d") && verb == RegVerb::Add && more) {
            out.data = args[++i];
            out.hasData = true;
        } else if (IsOption(a, L"f") && verb != RegVerb::Query) {
            out.force = true;
        } else if (IsOption(a, L"reg:32")) {
            out.view = KEY_WOW64_32KEY;
        } else if (IsOption(a, L"reg:64")) {
            out.view = KEY_WOW64_64KEY;
        } else {
            return Usage(L"Invalid syntax: " + a);
        }
    }
    if (out.allValues && out.hasValue) return Usage(L"Invalid syntax: /va with /v or /ve.");
    return kOk;
}

std::wstring ValueLine(const RegValue& v) {
    return L"    " + (v.name.empty() ? std::wstring(L"(Default)") : v.name) + L"    " + TypeName(v.type) + L"    " +
           DataText(v) + L"\n";
}

// One key's block of `reg query /s`, then its subkeys' blocks.
LONG QueryTree(const RegKey& key) {
    std::vector<RegValue> values;
    std::vector<std::wstring> subKeys;
    if (LONG rc = key.Values(values); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = key.SubKeyNames(subKeys); rc != ERROR_SUCCESS) return rc;
    Out(L"\n" + key.FullName() + L"\n");
    for (const auto& v : values) Out(ValueLine(v));
    for (const auto& name : subKeys) {
        RegKey sub;
        if (LONG rc = key.OpenSubKey(name, KEY_READ, sub); rc != ERROR_SUCCESS) return rc;
        if (LONG rc = QueryTree(sub); rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

// Blocks of every key at or below `key` that holds the value; counts them in `found`.
// The value named `name` (stored spelling kept); ERROR_FILE_NOT_FOUND when the key has none.
LONG FindNamed(const RegKey& key, const std::wstring& name, RegValue& value) {
    std::vector<RegValue> values;
    if (LONG rc = key.Values(values); rc != ERROR_SUCCESS) return rc;
    for (auto& v : values) {
        if (!EqualsNoCase(v.name, name)) continue;
        value = std::move(v);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

// Blocks of every key at or below `key` that holds the value; counts them in `found`.
LONG FindValue(const RegKey& key, const std::wstring& name, int& found) {
    RegValue v;
    LONG rc = FindNamed(key, name, v);
    if (rc == ERROR_SUCCESS) {
        Out(L"\n" + key.FullName() + L"\n" + ValueLine(v));
        ++found;
    } else if (rc != ERROR_FILE_NOT_FOUND) {
        return rc;
    }
    std::vector<std::wstring> subKeys;
    if (LONG r = key.SubKeyNames(subKeys); r != ERROR_SUCCESS) return r;
    for (const auto& sub : subKeys) {
        RegKey child;
        if (LONG r = key.OpenSubKey(sub, KEY_READ, child); r != ERROR_SUCCESS) return r;
        if (LONG r = FindValue(child, name, found); r != ERROR_SUCCESS) return r;
    }
    return ERROR_SUCCESS;
}

int RegQuery(const RegArgs& a) {
    RegKey key;
    if (LONG rc = RegKey::Open(a.hive, a.subKey, KEY_READ | a.view, key); rc != ERROR_SUCCESS) return RegFailure(rc);
    if (a.hasValue && a.recurse) {
        int found = 0;
        if (LONG rc = FindValue(key, a.valueName, found); rc != ERROR_SUCCESS) return RegFailure(rc);
        if (found == 0) return RegFailure(ERROR_FILE_NOT_FOUND);
        Out(L"\nEnd of search: " + std::to_wstring(found) + L" match(es) found.\n");
        return kOk;
    }
    if (a.hasValue) {
        RegValue v;
        if (LONG rc = FindNamed(key, a.valueName, v); rc != ERROR_SUCCESS) return RegFailure(rc);
        Out(L"\n" + key.FullName() + L"\n" + ValueLine(v) + L"\n");
        return kOk;
    }
    if (a.recurse) {
        LONG rc = QueryTree(key);
        return rc == ERROR_SUCCESS ? kOk : RegFailure(rc);
    }
    std::vector<RegValue> values;
    std::vector<std::wstring> subKeys;
    if (LONG rc = key.Values(values); rc != ERROR_SUCCESS) return RegFailure(rc);
    if (LONG rc = key.SubKeyNames(subKeys); rc != ERROR_SUCCESS) return RegFailure(rc);
    std::wstring text = L"\n" + key.FullName() + L"\n";
    for (const auto& v : values) text += ValueLine(v);
    if (!values.empty()) text += L"\n";
    for (const auto& name : subKeys) text += key.FullName() + L"\\" + name + L"\n";
    Out(text);
    return kOk;
}

int RegAdd(const RegArgs& a) {
    std::string bytes;
    if (!DataBytes(a.type, a.data, a.separator, bytes)) return Usage(L"Invalid data for " + TypeName(a.type) + L".");
    RegKey key;
    if (LONG rc = RegKey::Create(a.hive, a.subKey, KEY_ALL_ACCESS | a.view, key); rc != ERROR_SUCCESS)
        return RegFailure(rc);
    // /t or /d without a name set the unnamed value, as reg.exe does.
    if (a.hasValue || a.hasType || a.hasData) {
        DWORD existingType = REG_NONE;
        std::string existing;
        if (!a.force && key.QueryValue(a.valueName, existingType, existing) == ERROR_SUCCESS &&
            !Confirm(L"Value " + (a.valueName.empty() ? std::wstring(L"(Default)") : a.valueName) +
                     L" exists, overwrite")) {
            std::fputs("The operation was canceled by the user.\n", stderr);
            return kFailed;
        }
        if (LONG rc = key.SetValue(a.valueName, a.type, bytes); rc != ERROR_SUCCESS) return RegFailure(rc);
    }
    std::fputs(kDone, stdout);
    return kOk;
}

int RegDelete(const RegArgs& a) {
    RegKey key;
    if (LONG rc = RegKey::Open(a.hive, a.subKey, KEY_ALL_ACCESS | a.view, key); rc != ERROR_SUCCESS)
        return RegFailure(rc);
    const bool wholeKey = !a.hasValue && !a.allValues;
    if (wholeKey && a.subKey.find_first_not_of(L'\\') == std::wstring::npos) return Usage(L"Invalid key name.");
    if (a.hasValue) {
        DWORD type = REG_NONE;
        std::string data;
        if (LONG rc = key.QueryValue(a.valueName, type, data); rc != ERROR_SUCCESS) return RegFailure(rc);
    }
    if (!a.force) {
        std::wstring question = wholeKey    ? L"Permanently delete the registry key " + key.FullName()
                                : a.hasValue ? L"Delete the registry value " +
                                                   (a.valueName.empty() ? std::wstring(L"(Default)") : a.valueName)
                                             : L"Delete all values under the registry key " + key.FullName();
        if (!Confirm(question)) {
            std::fputs("The operation was canceled by the user.\n", stderr);
            return kFailed;
        }
    }
    LONG rc = ERROR_SUCCESS;
    if (wholeKey) {
        rc = RegDeleteTree(a.hive, a.subKey, a.view);
    } else if (a.hasValue) {
        rc = key.DeleteValue(a.valueName);
    } else {
        std::vector<RegValue> values;
        rc = key.Values(values);
        for (std::size_t i = 0; rc == ERROR_SUCCESS && i < values.size(); ++i) rc = key.DeleteValue(values[i].name);
    }
    if (rc != ERROR_SUCCESS) return RegFailure(rc);
    std::fputs(kDone, stdout);
    return kOk;
}

int Reg(const std::vector<std::wstring>& args) {
    if (args.size() < 2) return Usage(L"reg needs query, add or delete.");
    RegVerb verb;
    if (EqualsNoCase(args[1], L"query")) {
        verb = RegVerb::Query;
    } else if (EqualsNoCase(args[1], L"add")) {
        verb = RegVerb::Add;
    } else if (EqualsNoCase(args[1], L"delete")) {
        verb = RegVerb::Delete;
    } else {
        return Usage(L"Unknown reg operation: " + args[1]);
    }
    RegArgs a;
    if (int rc = ParseRegArgs(verb, args, a); rc != kOk) return rc;
    switch (verb) {
        case RegVerb::Query: return RegQuery(a);
        case RegVerb::Add: return RegAdd(a);
        case RegVerb::Delete: return RegDelete(a);
    }
    return kUsage;
}

// ---------------------------------------------------------------------------------------------
// init, path, clip, profile

int Init() {
    std::filesystem::path root = MachineRoot();
    if (!EnsureMachineSkeleton()) {
        std::fputs("ERROR: The machine's folders could not be created.\n", stderr);
        return kFailed;
    }
    std::error_code ec;
    if (!std::filesystem::exists(MachineFile("profile.json"), ec) && !SaveMachineProfile(CurrentProfile())) {
        std::fputs("ERROR: The machine profile could not be written.\n", stderr);
        return kFailed;
    }
    RegKey hklm;
    if (LONG rc = RegKey::Open(Hive::LocalMachine, L"", KEY_READ, hklm); rc != ERROR_SUCCESS) return RegFailure(rc);
    Out(WideFromUtf8(root.string()) + L"\n");
    return kOk;
}

int Path(const std::vector<std::wstring>& args) {
    if (args.size() != 2) return Usage(L"path needs one Windows path.");
    std::filesystem::path host;
    if (!ToHostPath(FromExternalPath(args[1]), host)) {
        Err(L"ERROR: The path cannot be mapped: " + args[1] + L"\n");
        return kFailed;
    }
    Out(WideFromUtf8(host.string()) + L"\n");
    return kOk;
}

int Clip(const std::vector<std::wstring>& args) {
    if (args.size() == 2 && EqualsNoCase(args[1], L"get")) {
        std::wstring text;
        if (!GetClipboardText(text)) {
            std::fputs("ERROR: The clipboard cannot be opened.\n", stderr);
            return kFailed;
        }
        Out(text + L"\n");
        return kOk;
    }
    if (args.size() == 3 && EqualsNoCase(args[1], L"set")) {
        if (SetClipboardText(args[2])) return kOk;
        std::fputs("ERROR: The clipboard cannot be written.\n", stderr);
        return kFailed;
    }
    if (args.size() == 2 && EqualsNoCase(args[1], L"empty")) {
        if (EmptyClipboard()) return kOk;
        std::fputs("ERROR: The clipboard cannot be emptied.\n", stderr);
        return kFailed;
    }
    return Usage(L"clip needs get, set TEXT or empty.");
}

int Profile(const std::vector<std::wstring>& args) {
    if (args.size() == 2 && EqualsNoCase(args[1], L"show")) {
        std::string json = ProfileToJson(CurrentProfile());
        std::fwrite(json.data(), 1, json.size(), stdout);
        if (json.empty() || json.back() != '\n') std::fputs("\n", stdout);
        return kOk;
    }
    if (args.size() >= 3 && EqualsNoCase(args[1], L"set")) {
        MachineProfile profile = CurrentProfile();
        for (std::size_t i = 2; i < args.size(); ++i) {
            std::string error;
            if (!SetProfileMember(profile, Utf8FromWide(args[i]), error)) {
                Err(L"ERROR: " + args[i] + L": " + WideFromUtf8(error) + L"\n");
                return kFailed;
            }
        }
        if (!SaveMachineProfile(profile)) {
            std::fputs("ERROR: The machine profile could not be written.\n", stderr);
            return kFailed;
        }
        return kOk;
    }
    return Usage(L"profile needs show or set KEY=VALUE.");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(WideFromUtf8(argv[i]));
    if (args.empty()) return Usage();
    const std::wstring& command = args[0];
    if (command == L"-h" || command == L"--help" || command == L"/?" || EqualsNoCase(command, L"help")) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    if (EqualsNoCase(command, L"init")) return args.size() == 1 ? Init() : Usage(L"init takes no arguments.");
    if (EqualsNoCase(command, L"path")) return Path(args);
    if (EqualsNoCase(command, L"reg")) return Reg(args);
    if (EqualsNoCase(command, L"clip")) return Clip(args);
    if (EqualsNoCase(command, L"profile")) return Profile(args);
    return Usage(L"Unknown command: " + command);
}
