#include "network/deployment.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/file.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "util/file_helpers.h"
#include "util/log.h"

namespace network {

namespace {

using nlohmann::json;

enum class Kind { BaseUrl, FullUrl, Ascii, Guid, Text, Path };

struct Member {
    const char* name;
    std::wstring Deployment::*field;
    Kind kind;
};

const Member kMembers[] = {
    {"accountApi", &Deployment::accountApi, Kind::BaseUrl},
    {"installSite", &Deployment::installSite, Kind::BaseUrl},
    {"redirectSite", &Deployment::redirectSite, Kind::BaseUrl},
    {"supportSite", &Deployment::supportSite, Kind::BaseUrl},
    {"knowledgeBaseSite", &Deployment::knowledgeBaseSite, Kind::BaseUrl},
    {"privacySite", &Deployment::privacySite, Kind::BaseUrl},
    {"helpdeskApi", &Deployment::helpdeskApi, Kind::BaseUrl},
    {"analyticsEndpoint", &Deployment::analyticsEndpoint, Kind::FullUrl},
    {"helpdeskCredential", &Deployment::helpdeskCredential, Kind::Ascii},
    {"analyticsTrackingId", &Deployment::analyticsTrackingId, Kind::Ascii},
    {"statisticsSecret", &Deployment::statisticsSecret, Kind::Ascii},
    {"scriptKeyGuid", &Deployment::scriptKeyGuid, Kind::Guid},
    {"scriptIvGuid", &Deployment::scriptIvGuid, Kind::Guid},
    {"caBundle", &Deployment::caBundle, Kind::Path},
};
constexpr const char* kStallSeconds = "stallSeconds";
constexpr std::uint32_t kMaxStallSeconds = 24 * 3600;

// "http://host..." or "https://host...", with something after the scheme.
bool IsHttpUrl(std::string_view url) {
    for (std::string_view scheme : {"http://", "https://"}) {
        if (url.substr(0, scheme.size()) == scheme) {
            std::string_view rest = url.substr(scheme.size());
            return !rest.empty() && rest.front() != '/' &&
                   rest.find_first_of(" \t\r\n") == std::string_view::npos;
        }
    }
    return false;
}

bool IsPrintableAscii(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", hexadecimal digits of either case.
bool IsBracedGuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const char c = text[i];
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (c != '-') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

bool IsAbsoluteWindowsPath(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

// A value that does not fit its member; the text says what it should be.
std::optional<std::string> CheckValue(Kind kind, const std::string& value) {
    switch (kind) {
        case Kind::BaseUrl:
        case Kind::FullUrl:
            if (!IsHttpUrl(value)) return "must be an http:// or https:// URL";
            break;
        case Kind::Ascii:
            if (!IsPrintableAscii(value)) return "must be non-empty printable ASCII";
            break;
        case Kind::Guid:
            if (!IsBracedGuid(value)) return "must be a braced GUID such as {00000000-0000-0000-0000-000000000000}";
            break;
        case Kind::Text:
        case Kind::Path:
            break;
    }
    return std::nullopt;
}

std::wstring Widen(const std::string& text) {
    return platform::WideFromUtf8(text);
}

void AppendError(std::wstring& errors, const std::wstring& error) {
    if (!errors.empty()) errors += L"; ";
    errors += error;
}

}  // namespace

bool ParseDeployment(std::string_view text, std::wstring_view folder, Deployment& out, std::wstring& error) {
    error.clear();
    const json doc = json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded()) {
        error = L"the deployment file is not valid JSON";
        return false;
    }
    if (!doc.is_object()) {
        error = L"the deployment file is not a JSON object";
        return false;
    }

    Deployment result = out;
    std::wstring unknown;
    for (const auto& [name, value] : doc.items()) {
        const Member* member = nullptr;
        for (const auto& m : kMembers)
            if (name == m.name) member = &m;
        if (name == kStallSeconds) {
            if (!value.is_number()) {
                AppendError(error, L"member \"stallSeconds\" must be a number");
                continue;
            }
            const double seconds = value.get<double>();
            if (seconds != std::floor(seconds) || seconds < 1 || seconds > kMaxStallSeconds) {
                AppendError(error, L"member \"stallSeconds\" must be a whole number from 1 to 86400");
                continue;
            }
            result.stallSeconds = static_cast<std::uint32_t>(seconds);
            continue;
        }
        if (!member) {
            if (!unknown.empty()) unknown += L", ";
            unknown += L"\"" + Widen(name) + L"\"";
            continue;
        }
        if (!value.is_string()) {
            AppendError(error, L"member \"" + Widen(name) + L"\" must be a string");
            continue;
        }
        std::string v = value.get<std::string>();
        if (auto problem = CheckValue(member->kind, v)) {
            AppendError(error, L"member \"" + Widen(name) + L"\" " + Widen(*problem));
            continue;
        }
        std::wstring wide = Widen(v);
        if (member->kind == Kind::BaseUrl) {
            while (!wide.empty() && wide.back() == L'/') wide.pop_back();
        } else if (member->kind == Kind::Path && !wide.empty()) {
            wide = platform::FromExternalPath(wide);
            if (!IsAbsoluteWindowsPath(wide) && !folder.empty()) wide = util::JoinPath(folder, wide);
        }
        result.*(member->field) = std::move(wide);
    }
    if (!unknown.empty()) AppendError(error, L"unknown member(s) " + unknown);
    if (!error.empty()) return false;
    out = std::move(result);
    return true;
}

bool LoadDeployment(Deployment& out, std::wstring& error) {
    out = Deployment{};
    error.clear();

    std::wstring path;
    bool named = false;
    if (const char* env = std::getenv("VELMO_DEPLOYMENT"); env && *env) {
        path = platform::FromExternalPath(platform::WideFromUtf8(env));
        named = true;
    } else {
        const std::wstring inPrefix = platform::WindowsPathFromHost(platform::MachineFile("deployment.json"));
        const std::wstring besideExe = util::JoinPath(util::ExecutableFolder(), L"deployment.json");
        if (util::FileExists(inPrefix))
            path = inPrefix;
        else if (util::FileExists(besideExe))
            path = besideExe;
    }
    if (path.empty()) return true;

    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) {
        error = L"cannot read the deployment file " + path + (named ? L" (named by VELMO_DEPLOYMENT)" : L"");
        return false;
    }
    util::PathParts parts;
    util::SplitPath(path, parts);
    Deployment parsed;
    std::wstring problem;
    if (!ParseDeployment(bytes, parts.folder, parsed, problem)) {
        error = L"deployment file " + path + L": " + problem;
        return false;
    }
    parsed.source = path;
    out = std::move(parsed);
    return true;
}

namespace {

std::mutex g_mutex;
std::optional<Deployment> g_current;

}  // namespace

Deployment CurrentDeployment() {
    std::lock_guard lock(g_mutex);
    if (!g_current) {
        Deployment d;
        std::wstring error;
        if (!LoadDeployment(d, error))
            util::LogError(L"Deployment: %s; the built-in defaults apply\r\n", error);
        else if (!d.source.empty())
            util::LogInfo(L"Deployment: %s\r\n", d.source);
        g_current = std::move(d);
    }
    return *g_current;
}

void SetCurrentDeployment(const Deployment& deployment) {
    std::lock_guard lock(g_mutex);
    g_current = deployment;
}

}  // namespace network
