// The deployment: every value that differs between the maker's service and a test or demo
// service, in one place. Built-in defaults use hosts under velmo.example; a JSON deployment
// file overrides them.
//
// Lookup order of the file: the file named by VELMO_DEPLOYMENT (a host path, or a Windows path
// of the machine); else "deployment.json" in the machine prefix; else "deployment.json" beside
// the executable. The relaunched copies of the installer (temporary folder, program files)
// inherit VELMO_DEPLOYMENT and the prefix, so they find the same file as their parent.
//
// The file is one JSON object; every member is optional and a string unless said:
//   accountApi, installSite, redirectSite, supportSite, knowledgeBaseSite, privacySite,
//   helpdeskApi (base URLs, "http://" or "https://", a trailing "/" is dropped),
//   analyticsEndpoint (full URL), helpdeskCredential, analyticsTrackingId, statisticsSecret
//   (printable ASCII), scriptKeyGuid, scriptIvGuid (braced 38-character GUIDs), caBundle (path
//   of a PEM file trusted besides the system store; relative to the file's folder),
//   stallSeconds (a positive whole number).
// An unknown member, a value of the wrong JSON type or a malformed value is an error that names
// the member; nothing of such a file is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace network {

struct Deployment {
    std::wstring accountApi = L"https://account.velmo.example";          // "/api/install/", "/api/stat", ...
    std::wstring installSite = L"https://install.velmo.example";         // "/link.php"
    std::wstring redirectSite = L"https://go.velmo.example";             // "/redir.php"
    std::wstring supportSite = L"https://support.velmo.example";
    std::wstring knowledgeBaseSite = L"https://kb.velmo.example";
    std::wstring privacySite = L"https://www.velmo.example";
    std::wstring helpdeskApi = L"https://helpdesk.velmo.example";        // "/api/v2/tickets"
    std::wstring analyticsEndpoint = L"https://analytics.velmo.example/collect";
    // DEVELOPMENT DEFAULTS below: they only work against a development service (velmo-service
    // uses the same). A real deployment sets every one of them in its deployment file.
    std::wstring helpdeskCredential = L"ZGV2ZWxvcG1lbnQtb25seTpY";
    std::wstring analyticsTrackingId = L"UA-00000000-0";
    std::wstring statisticsSecret = L"DEVELOPMENT-ONLY-statistics-secret!!";
    std::wstring scriptKeyGuid = L"{00000000-DE7E-4000-8000-000000000001}";
    std::wstring scriptIvGuid = L"{00000000-DE7E-4000-8000-000000000002}";
    // Windows path of a PEM file trusted in addition to the system store; empty: none.
    std::wstring caBundle;
    // A transfer that receives no body byte for this long ends as a failed read.
    std::uint32_t stallSeconds = 60;
    // Windows path of the file the values came from; empty when they are the built-in defaults.
    std::wstring source;
};

// Parses a deployment file's text over the defaults. `folder` (a Windows path) resolves a
// relative caBundle. False with `error` naming the offending member(s); `out` is then untouched.
bool ParseDeployment(std::string_view json, std::wstring_view folder, Deployment& out, std::wstring& error);

// Finds and reads the deployment file in the lookup order. No file at all gives the defaults
// (true). A file that cannot be read or parsed, including a VELMO_DEPLOYMENT that names a
// missing file, gives false with `error`, and `out` holds the defaults.
bool LoadDeployment(Deployment& out, std::wstring& error);

// The process's deployment, loaded on first use (a failure is logged and leaves the defaults).
// Thread-safe; returns a copy.
Deployment CurrentDeployment();
// Replaces the process's deployment (tools and tests). Transfers started earlier keep the values
// they copied.
void SetCurrentDeployment(const Deployment& deployment);

}  // namespace network
