// The two deployment values the service checks, read from the same deployment file as the
// installer's (members "statisticsSecret" and "helpdeskCredential"; other members are the
// installer's business and are ignored here).
#pragma once

#include <filesystem>
#include <string>

namespace velmo_service {

struct Secrets {
    // DEVELOPMENT DEFAULTS, equal to the installer's built-in development defaults. A real
    // deployment replaces both through its deployment file.
    std::string statisticsSecret = "DEVELOPMENT-ONLY-statistics-secret!!";
    std::string helpdeskCredential = "ZGV2ZWxvcG1lbnQtb25seTpY";
};

// The file given, else the one named by VELMO_DEPLOYMENT, else the defaults. False with a reason
// when a named file cannot be read or holds a value of the wrong type.
bool LoadSecrets(const std::filesystem::path& file, Secrets& secrets, std::string& error);

}  // namespace velmo_service
