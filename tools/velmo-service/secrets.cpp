#include "secrets.h"

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "files.h"

namespace velmo_service {

bool LoadSecrets(const std::filesystem::path& file, Secrets& secrets, std::string& error) {
    std::filesystem::path path = file;
    if (path.empty()) {
        if (const char* env = std::getenv("VELMO_DEPLOYMENT"); env && *env) path = env;
    }
    if (path.empty()) return true;
    auto text = ReadFile(path);
    if (!text) {
        error = "cannot read the deployment file " + path.string();
        return false;
    }
    auto doc = nlohmann::json::parse(*text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "the deployment file " + path.string() + " is not a JSON object";
        return false;
    }
    for (auto [name, target] : {std::pair{"statisticsSecret", &secrets.statisticsSecret},
                                std::pair{"helpdeskCredential", &secrets.helpdeskCredential}}) {
        auto it = doc.find(name);
        if (it == doc.end()) continue;
        if (!it->is_string()) {
            error = std::string("the deployment member ") + name + " is not a string";
            return false;
        }
        *target = it->get<std::string>();
    }
    return true;
}

}  // namespace velmo_service
