#include "platform/profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// ---- host defaults -------------------------------------------------------------------------

struct HostFacts {
    std::wstring userName;
    std::uint64_t memoryMB = 0;
    std::wstring cpuBrand;
    std::wstring cpuVendor;
    bool sse41 = false, sse42 = false, sse4a = false;
};

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

bool HasWord(const std::string& list, std::string_view word) {
    std::istringstream in(list);
    std::string w;
    while (in >> w)
        if (w == word) return true;
    return false;
}

HostFacts ReadHostFacts() {
    HostFacts f;
    // getpwuid_r keeps this thread-safe; USER is the fall-back for users without a passwd entry.
    long bufSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(bufSize > 0 ? static_cast<std::size_t>(bufSize) : 16384, '\0');
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        f.userName = WideFromUtf8(found->pw_name);
    else if (const char* user = std::getenv("USER"); user && *user)
        f.userName = WideFromUtf8(user);
    else
        f.userName = L"User";

    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        if (line.rfind("MemTotal:", 0) == 0) {
            std::uint64_t kb = std::strtoull(line.c_str() + 9, nullptr, 10);
            f.memoryMB = kb / 1024;
            break;
        }
    }
    if (f.memoryMB == 0) {
        long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0)
            f.memoryMB = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page) / (1024 * 1024);
    }

    std::ifstream cpuinfo("/proc/cpuinfo");
    bool haveBrand = false, haveVendor = false, haveFlags = false;
    while (std::getline(cpuinfo, line) && !(haveBrand && haveVendor && haveFlags)) {
        auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = Trim(std::string_view(line).substr(0, colon));
        std::string value = Trim(std::string_view(line).substr(colon + 1));
        if (key == "model name" && !haveBrand) {
            f.cpuBrand = WideFromUtf8(value);
            haveBrand = true;
        } else if (key == "vendor_id" && !haveVendor) {
            f.cpuVendor = WideFromUtf8(value);
            haveVendor = true;
        } else if (key == "flags" && !haveFlags) {
            f.sse41 = HasWord(value, "sse4_1");
            f.sse42 = HasWord(value, "sse4_2");
            f.sse4a = HasWord(value, "sse4a");
            haveFlags = true;
        }
    }
    return f;
}

const HostFacts& Host() {
    static const HostFacts facts = ReadHostFacts();
    return facts;
}

// ---- JSON members ----------------------------------------------------------------------------

bool ReadUnsigned(const json& v, std::uint64_t& out) {
    if (v.is_number_unsigned()) {
        out = v.get<std::uint64_t>();
        return true;
    }
    if (v.is_number_integer() && v.get<std::int64_t>() >= 0) {
        out = static_cast<std::uint64_t>(v.get<std::int64_t>());
        return true;
    }
    return false;
}

bool ParseUnsignedText(std::string_view text, std::uint64_t max, std::uint64_t& out, bool allowHex) {
    int base = 10;
    if (allowHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    std::uint64_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || ptr != text.data() + text.size() || v > max) return false;
    out = v;
    return true;
}

bool ParseVersion(std::string_view text, MachineProfile& p) {
    std::uint64_t parts[3] = {0, 0, 0};
    int n = 0;
    while (n < 3) {
        auto dot = text.find('.');
        std::string_view piece = text.substr(0, dot);
        if (!ParseUnsignedText(piece, 0xFFFFFFFFu, parts[n], false)) return false;
        ++n;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
        if (n == 3) return false;  // a fourth part
    }
    if (n < 2) return false;
    p.majorVersion = static_cast<std::uint32_t>(parts[0]);
    p.minorVersion = static_cast<std::uint32_t>(parts[1]);
    p.buildNumber = static_cast<std::uint32_t>(parts[2]);
    return true;
}

std::string VersionText(const MachineProfile& p) {
    return std::to_string(p.majorVersion) + "." + std::to_string(p.minorVersion) + "." +
           std::to_string(p.buildNumber);
}

bool DriveLetter(std::string_view text, wchar_t& drive) {
    if (text.size() != 1) return false;
    char c = text[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return false;
    drive = static_cast<wchar_t>(c);
    return true;
}

bool ReadDriveMap(const json& v, std::map<wchar_t, std::uint64_t>& out, std::string* error) {
    if (!v.is_object()) {
        if (error) *error = "expected a JSON object from drive letter to bytes";
        return false;
    }
    std::map<wchar_t, std::uint64_t> result;
    for (auto it = v.begin(); it != v.end(); ++it) {
        wchar_t drive = 0;
        std::uint64_t bytes = 0;
        if (!DriveLetter(it.key(), drive) || !ReadUnsigned(it.value(), bytes)) {
            if (error) {
                *error = "bad drive entry \"" + it.key() + "\": expected a drive letter and a byte count";
                return false;
            }
            continue;  // in the profile file a bad entry counts as absent
        }
        result[drive] = bytes;
    }
    out = std::move(result);
    return true;
}

bool ReadGpus(const json& v, std::vector<GpuInfo>& out, std::string* error) {
    if (!v.is_array()) {
        if (error) *error = "expected a JSON array of graphics adapters";
        return false;
    }
    std::vector<GpuInfo> result;
    for (const auto& g : v) {
        if (!g.is_object()) {
            if (error) {
                *error = "a graphics adapter must be a JSON object";
                return false;
            }
            continue;
        }
        GpuInfo info;
        std::uint64_t n = 0;
        auto d = g.find("description");
        if (d != g.end()) {
            if (d->is_string()) info.description = WideFromUtf8(d->get<std::string>());
            else if (error) {
                *error = "gpus: \"description\" must be a string";
                return false;
            }
        }
        auto id = g.find("deviceId");
        if (id != g.end()) {
            if (ReadUnsigned(*id, n) && n <= 0xFFFFFFFFu) info.deviceId = static_cast<std::uint32_t>(n);
            else if (error) {
                *error = "gpus: \"deviceId\" must be a 32-bit unsigned number";
                return false;
            }
        }
        auto mem = g.find("sharedMemoryMB");
        if (mem != g.end()) {
            if (ReadUnsigned(*mem, n)) info.sharedMemoryMB = n;
            else if (error) {
                *error = "gpus: \"sharedMemoryMB\" must be an unsigned number";
                return false;
            }
        }
        result.push_back(std::move(info));
    }
    out = std::move(result);
    return true;
}

bool ReadHotfixes(const json& v, std::vector<std::wstring>& out, std::string* error) {
    if (!v.is_array()) {
        if (error) *error = "expected a JSON array of hotfix ids";
        return false;
    }
    std::vector<std::wstring> result;
    for (const auto& h : v) {
        if (!h.is_string()) {
            if (error) {
                *error = "hotfix ids must be strings";
                return false;
            }
            continue;
        }
        result.push_back(WideFromUtf8(h.get<std::string>()));
    }
    out = std::move(result);
    return true;
}

// Applies the members of `doc` that have the right type; others keep their value.
void ApplyJson(const json& doc, MachineProfile& p) {
    auto str = [&](const char* key, std::wstring& target) {
        auto it = doc.find(key);
        if (it != doc.end() && it->is_string()) target = WideFromUtf8(it->get<std::string>());
    };
    auto boolean = [&](const char* key, bool& target) {
        auto it = doc.find(key);
        if (it != doc.end() && it->is_boolean()) target = it->get<bool>();
    };
    auto it = doc.find("windowsVersion");
    if (it != doc.end() && it->is_string()) ParseVersion(it->get<std::string>(), p);
    std::uint64_t n = 0;
    if (it = doc.find("servicePack"); it != doc.end() && ReadUnsigned(*it, n) && n <= 0xFFFFFFFFu)
        p.servicePack = static_cast<std::uint32_t>(n);
    boolean("is64Bit", p.is64Bit);
    if (it = doc.find("uiLanguage"); it != doc.end() && ReadUnsigned(*it, n) && n <= 0xFFFF)
        p.uiLanguage = static_cast<std::uint16_t>(n);
    std::wstring user;
    str("userName", user);
    if (!user.empty()) p.userName = user;
    if (it = doc.find("domain"); it != doc.end()) {
        if (it->is_string() && !it->get<std::string>().empty()) p.domain = WideFromUtf8(it->get<std::string>());
        else if (it->is_null() || it->is_string()) p.domain.reset();
    }
    if (it = doc.find("memoryMB"); it != doc.end() && ReadUnsigned(*it, n)) p.memoryMB = n;
    str("cpuBrand", p.cpuBrand);
    str("cpuVendor", p.cpuVendor);
    boolean("sse41", p.sse41);
    boolean("sse42", p.sse42);
    boolean("sse4a", p.sse4a);
    if (it = doc.find("gpus"); it != doc.end()) ReadGpus(*it, p.gpus, nullptr);
    if (it = doc.find("hotfixes"); it != doc.end()) ReadHotfixes(*it, p.hotfixes, nullptr);
    boolean("windowsUpdateBusy", p.windowsUpdateBusy);
    if (it = doc.find("freeSpaceBytes"); it != doc.end()) ReadDriveMap(*it, p.freeSpaceBytes, nullptr);
    if (it = doc.find("totalSpaceBytes"); it != doc.end()) ReadDriveMap(*it, p.totalSpaceBytes, nullptr);
}

json DriveMapJson(const std::map<wchar_t, std::uint64_t>& m) {
    json o = json::object();
    for (const auto& [drive, bytes] : m) o[Utf8FromWide(std::wstring(1, drive))] = bytes;
    return o;
}

bool ParseBool(std::string_view text, bool& out) {
    std::wstring t = LowerText(WideFromUtf8(text));
    if (t == L"true" || t == L"1" || t == L"yes") {
        out = true;
        return true;
    }
    if (t == L"false" || t == L"0" || t == L"no") {
        out = false;
        return true;
    }
    return false;
}

// ---- the cached profile of the current prefix ----------------------------------------------

struct Cache {
    std::mutex mutex;
    fs::path root;  // prefix the cached profile was read from
    MachineProfile* current = nullptr;
    // Profiles handed out earlier stay alive: callers may hold the reference across a reload.
    std::vector<std::unique_ptr<MachineProfile>> all;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never destroyed: used by late static destructors
    return *cache;
}

void DropCache() {
    Cache& c = TheCache();
    std::lock_guard lock(c.mutex);
    c.current = nullptr;
}

MachineProfile LoadProfile(const fs::path& root) {
    MachineProfile p = DefaultMachineProfile();
    std::ifstream in(root / "profile.json", std::ios::binary);
    if (!in) return p;
    std::stringstream text;
    text << in.rdbuf();
    json doc = json::parse(text.str(), nullptr, false);
    if (doc.is_object()) ApplyJson(doc, p);
    return p;
}

}  // namespace

MachineProfile DefaultMachineProfile() {
    const HostFacts& h = Host();
    MachineProfile p;
    p.userName = h.userName;
    p.memoryMB = h.memoryMB;
    p.cpuBrand = h.cpuBrand;
    p.cpuVendor = h.cpuVendor;
    p.sse41 = h.sse41;
    p.sse42 = h.sse42;
    p.sse4a = h.sse4a;
    return p;
}

const MachineProfile& CurrentProfile() {
    // The root first and outside the lock: the first MachineRoot() builds the folder skeleton,
    // which reads this profile.
    fs::path root = MachineRoot();
    Cache& c = TheCache();
    static std::once_flag registered;
    std::call_once(registered, [] { OnMachineChanged(DropCache); });
    std::lock_guard lock(c.mutex);
    if (!c.current || c.root != root) {
        c.all.push_back(std::make_unique<MachineProfile>(LoadProfile(root)));
        c.current = c.all.back().get();
        c.root = root;
    }
    return *c.current;
}

bool SaveMachineProfile(const MachineProfile& profile) {
    fs::path root = MachineRoot();
    fs::path target = root / "profile.json";
    std::string tmpl = (root / "profile.json.XXXXXX").string();
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::string text = ProfileToJson(profile);
    text.push_back('\n');
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    int err = ok ? 0 : errno;
    ::fchmod(fd, 0644);
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    ::close(fd);
    if (ok && ::rename(tmpl.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmpl.c_str());
        SetLastErrorFromErrno(err ? err : EIO);
        return false;
    }
    DropCache();
    // A new user name or bitness needs its folders.
    EnsureMachineSkeleton();
    SetLastError(ERROR_SUCCESS);
    return true;
}

std::string ProfileToJson(const MachineProfile& p) {
    json doc = json::object();
    doc["windowsVersion"] = VersionText(p);
    doc["servicePack"] = p.servicePack;
    doc["is64Bit"] = p.is64Bit;
    doc["uiLanguage"] = p.uiLanguage;
    doc["userName"] = Utf8FromWide(p.userName);
    doc["domain"] = p.domain ? json(Utf8FromWide(*p.domain)) : json(nullptr);
    doc["memoryMB"] = p.memoryMB;
    doc["cpuBrand"] = Utf8FromWide(p.cpuBrand);
    doc["cpuVendor"] = Utf8FromWide(p.cpuVendor);
    doc["sse41"] = p.sse41;
    doc["sse42"] = p.sse42;
    doc["sse4a"] = p.sse4a;
    json gpus = json::array();
    for (const auto& g : p.gpus)
        gpus.push_back({{"description", Utf8FromWide(g.description)},
                        {"deviceId", g.deviceId},
                        {"sharedMemoryMB", g.sharedMemoryMB}});
    doc["gpus"] = std::move(gpus);
    json hotfixes = json::array();
    for (const auto& h : p.hotfixes) hotfixes.push_back(Utf8FromWide(h));
    doc["hotfixes"] = std::move(hotfixes);
    doc["windowsUpdateBusy"] = p.windowsUpdateBusy;
    doc["freeSpaceBytes"] = DriveMapJson(p.freeSpaceBytes);
    doc["totalSpaceBytes"] = DriveMapJson(p.totalSpaceBytes);
    // Replacement of invalid UTF-8 cannot happen (our own encoder), but never throw from here.
    return doc.dump(2, ' ', false, json::error_handler_t::replace);
}

bool ProfileFromJson(const std::string& text, MachineProfile& profile, std::string& error) {
    json doc = json::parse(text, nullptr, false);
    if (!doc.is_object()) {
        error = "the profile is not a JSON object";
        return false;
    }
    ApplyJson(doc, profile);
    return true;
}

bool SetProfileMember(MachineProfile& p, const std::string& assignment, std::string& error) {
    auto eq = assignment.find('=');
    if (eq == std::string::npos) {
        error = "expected KEY=VALUE";
        return false;
    }
    std::string key = Trim(std::string_view(assignment).substr(0, eq));
    std::string value = assignment.substr(eq + 1);
    std::uint64_t n = 0;
    bool b = false;
    auto badValue = [&](const std::string& what) {
        error = key + ": " + what + " (got \"" + value + "\")";
        return false;
    };
    auto parseJson = [&](json& out) {
        out = json::parse(value, nullptr, false);
        return !out.is_discarded();
    };

    if (key == "windowsVersion") {
        MachineProfile copy = p;
        if (!ParseVersion(Trim(value), copy)) return badValue("expected major.minor.build");
        p = std::move(copy);
        return true;
    }
    if (key == "servicePack") {
        if (!ParseUnsignedText(Trim(value), 0xFFFFFFFFu, n, false)) return badValue("expected a number");
        p.servicePack = static_cast<std::uint32_t>(n);
        return true;
    }
    if (key == "uiLanguage") {
        if (!ParseUnsignedText(Trim(value), 0xFFFF, n, true))
            return badValue("expected a LANGID (decimal or 0x hex, at most 0xFFFF)");
        p.uiLanguage = static_cast<std::uint16_t>(n);
        return true;
    }
    if (key == "memoryMB") {
        if (!ParseUnsignedText(Trim(value), UINT64_MAX, n, false)) return badValue("expected a number");
        p.memoryMB = n;
        return true;
    }
    struct BoolMember {
        const char* name;
        bool MachineProfile::*member;
    };
    static constexpr BoolMember kBools[] = {{"is64Bit", &MachineProfile::is64Bit},
                                            {"sse41", &MachineProfile::sse41},
                                            {"sse42", &MachineProfile::sse42},
                                            {"sse4a", &MachineProfile::sse4a},
                                            {"windowsUpdateBusy", &MachineProfile::windowsUpdateBusy}};
    for (const auto& m : kBools) {
        if (key == m.name) {
            if (!ParseBool(Trim(value), b)) return badValue("expected true or false");
            p.*m.member = b;
            return true;
        }
    }
    if (key == "userName") {
        std::wstring name = WideFromUtf8(Trim(value));
        if (name.empty() || name.find_first_of(L"\\/\"[]:|<>+=;,?*") != std::wstring::npos)
            return badValue("expected a Windows user name");
        p.userName = std::move(name);
        return true;
    }
    if (key == "domain") {
        std::string d = Trim(value);
        if (d.empty()) p.domain.reset();
        else p.domain = WideFromUtf8(d);
        return true;
    }
    if (key == "cpuBrand") {
        p.cpuBrand = WideFromUtf8(value);
        return true;
    }
    if (key == "cpuVendor") {
        p.cpuVendor = WideFromUtf8(value);
        return true;
    }
    if (key == "gpus") {
        json doc;
        if (!parseJson(doc)) return badValue("expected a JSON array");
        std::string why;
        if (!ReadGpus(doc, p.gpus, &why)) return badValue(why);
        return true;
    }
    if (key == "hotfixes") {
        std::string t = Trim(value);
        if (!t.empty() && t[0] == '[') {
            json doc;
            if (!parseJson(doc)) return badValue("expected a JSON array or a comma-separated list");
            std::string why;
            if (!ReadHotfixes(doc, p.hotfixes, &why)) return badValue(why);
            return true;
        }
        std::vector<std::wstring> list;
        std::size_t start = 0;
        while (start <= t.size()) {
            auto comma = t.find(',', start);
            std::string id = Trim(std::string_view(t).substr(start, comma == std::string::npos ? std::string::npos
                                                                                                : comma - start));
            if (!id.empty()) list.push_back(WideFromUtf8(id));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        p.hotfixes = std::move(list);
        return true;
    }
    for (auto [name, map] : {std::pair{"freeSpaceBytes", &p.freeSpaceBytes},
                             std::pair{"totalSpaceBytes", &p.totalSpaceBytes}}) {
        std::string_view k(key);
        if (k == name) {
            json doc;
            if (!parseJson(doc)) return badValue("expected a JSON object from drive letter to bytes");
            std::string why;
            if (!ReadDriveMap(doc, *map, &why)) return badValue(why);
            return true;
        }
        std::string prefix = std::string(name) + ".";
        if (k.rfind(prefix, 0) == 0) {
            wchar_t drive = 0;
            if (!DriveLetter(k.substr(prefix.size()), drive)) {
                error = key + ": expected a drive letter after \"" + prefix + "\"";
                return false;
            }
            std::string t = Trim(value);
            if (t.empty()) {  // an empty value removes the override
                map->erase(drive);
                return true;
            }
            if (!ParseUnsignedText(t, UINT64_MAX, n, false)) return badValue("expected a byte count");
            (*map)[drive] = n;
            return true;
        }
    }
    error = "unknown profile member \"" + key + "\"";
    return false;
}

}  // namespace platform
