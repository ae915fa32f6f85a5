#include "config/config_section.h"

#include "util/text_helpers.h"

namespace config {

bool ConfigSection::Add(std::wstring key, std::wstring value) {
    return entries_.emplace(std::move(key), std::move(value)).second;
}

const std::wstring& ConfigSection::Get(std::wstring_view key) const {
    static const std::wstring kEmpty;
    auto it = entries_.find(key);
    return it == entries_.end() ? kEmpty : it->second;
}

std::wstring TrimConfigText(std::wstring_view text) {
    return util::TrimToken(util::TrimToken(text, L" "), L";");
}

std::vector<std::wstring> ReadConfigSectionNames(const IniFile& file) {
    std::vector<std::wstring> names;
    for (const auto& raw : file.SectionNames()) {
        std::wstring name = TrimConfigText(raw);
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

ConfigSection ReadConfigSection(const IniFile& file, std::wstring_view name) {
    ConfigSection section;
    for (const auto& entry : file.SectionEntries(name)) {
        std::size_t eq = entry.find(L'=');
        if (eq == std::wstring::npos) {
            std::wstring whole = TrimConfigText(entry);
            section.Add(whole, whole);
        } else {
            section.Add(TrimConfigText(std::wstring_view(entry).substr(0, eq)),
                        TrimConfigText(std::wstring_view(entry).substr(eq + 1)));
        }
    }
    return section;
}

std::vector<std::wstring> MissingKeyParts(const ConfigSection& section, const std::vector<std::wstring_view>& required) {
    std::vector<std::wstring> parts;
    for (std::size_t i = 0; i < required.size(); ++i) {
        if (section.Has(required[i])) {
            parts.emplace_back();
        } else {
            std::wstring part(required[i]);
            if (i + 1 < required.size()) part += L' ';
            parts.push_back(std::move(part));
        }
    }
    return parts;
}

bool HasAllKeys(const ConfigSection& section, const std::vector<std::wstring_view>& required) {
    for (auto key : required) {
        if (!section.Has(key)) return false;
    }
    return true;
}

}  // namespace config
