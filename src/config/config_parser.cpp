#include "config/config_parser.h"

#include <algorithm>
#include <limits>
#include <set>

#include "config/config_section.h"
#include "config/prerequisites.h"
#include "util/file_helpers.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace config {

namespace {

bool Contains(std::wstring_view text, std::wstring_view part) { return text.find(part) != std::wstring_view::npos; }

SetupSettings ApplySetup(const ConfigSection& setup, std::wstring_view installRoot) {
    SetupSettings s;
    if (setup.Has(L"productionname")) {
        s.productName = setup.Get(L"productionname");
        util::LogDebug(L"**************Install Product Name :%s *************", *s.productName);
    }
    s.installRoot = std::wstring(installRoot);
    if (setup.Has(L"installfolder")) s.installRoot = util::JoinPath(s.installRoot, setup.Get(L"installfolder"));
    std::replace(s.installRoot.begin(), s.installRoot.end(), L'/', L'\\');
    if (setup.Has(L"launchfile")) s.launchFile = setup.Get(L"launchfile");
    if (setup.Has(L"launchid")) {
        if (auto id = ParseLaunchId(setup.Get(L"launchid"))) {
            s.launchId = *id;
            util::LogDebug(L"Start Applicatoin Id: %d", s.launchId);
        } else {
            util::LogDebug(L"Cannot parse lauchid: %s", setup.Get(L"launchid"));
        }
    }
    if (setup.Has(L"launchname")) s.launchName = setup.Get(L"launchname");
    return s;
}

const std::vector<std::wstring_view> kRuntimeKeys = {L"filename", L"url", L"parameter", L"displayname", L"minversion"};
const std::vector<std::wstring_view> kDotNetKeys = {L"filename",    L"url",        L"parameter",
                                                    L"displayname", L"minversion", L"checkreg"};
const std::vector<std::wstring_view> kProductKeys = {L"filename", L"url", L"uninstallid", L"displayname", L"mainfile"};

}  // namespace

std::optional<std::int32_t> ParseLaunchId(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    std::int64_t value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return std::nullopt;
        digits = true;
    }
    if (!digits) return std::nullopt;
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() || value < std::numeric_limits<std::int32_t>::min())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

ConfigParseResult ParseConfiguration(const IniFile& file, std::wstring_view installRoot, const BuildFacts& facts,
                                     const ProductSelection& selection) {
    ConfigParseResult result;
    const std::vector<std::wstring> names = ReadConfigSectionNames(file);
    if (names.size() < 2 || std::find(names.begin(), names.end(), L"setup") == names.end()) {
        util::LogError(L"essencial elements setup missing");
        result.actions = ConfigErrorList();
        return result;
    }
    result.setup = ApplySetup(ReadConfigSection(file, L"setup"), installRoot);

    std::vector<ActionRecord> list;
    auto fail = [&result]() -> ConfigParseResult& {
        result.actions = ConfigErrorList();
        return result;
    };

    for (const auto& name : names) {
        if (Contains(name, L"vcredist64") && !facts.isWow64) continue;
        if (!Contains(name, L"vcredist")) continue;
        const bool x86 = !Contains(name, L"vcredist64");
        ConfigSection section = ReadConfigSection(file, name);
        if (!HasAllKeys(section, kRuntimeKeys)) {
            auto p = MissingKeyParts(section, kRuntimeKeys);
            util::LogError(L"parse ini item vcredist error");
            util::LogError(L"essencial elements missing- %s %s %s %s %s", p[0], p[1], p[2], p[3], p[4]);
            return fail();
        }
        const std::wstring& minVersion = section.Get(L"minversion");
        const bool needsReg = section.Has(L"checkreg") && !CheckRuntimeRegistry(section.Get(L"checkreg"), minVersion, x86);
        const bool needsFile = section.Has(L"checkfile") && !CheckRuntimeFile(x86, section.Get(L"checkfile"), minVersion);
        if (!needsReg && !needsFile) continue;
        auto records = GetPreRequestActon(section, false, needsReg != needsFile ? kRepairParameter : L"", facts);
        list.insert(list.end(), records.begin(), records.end());
    }

    for (const auto& name : names) {
        if (!Contains(name, L"dotnet")) continue;
        ConfigSection section = ReadConfigSection(file, name);
        if (!HasAllKeys(section, kDotNetKeys)) {
            auto p = MissingKeyParts(section, kDotNetKeys);
            util::LogError(L"parse ini item dotnet error");
            util::LogError(L"essencial elements missing- %s %s %s %s %s %s", p[0], p[1], p[2], p[3], p[4], p[5]);
            return fail();
        }
        if (CheckDotNetRelease(section.Get(L"checkreg"), section.Get(L"minversion"))) continue;
        auto records = GetPreRequestActon(section, false, L"", facts);
        list.insert(list.end(), records.begin(), records.end());
    }

    std::set<std::wstring> noted;
    std::set<std::wstring> shared;
    for (const auto& name : names) {
        if (!Contains(name, L"action")) continue;
        ConfigSection section = ReadConfigSection(file, name);
        if (!HasAllKeys(section, kProductKeys)) {
            auto p = MissingKeyParts(section, kProductKeys);
            util::LogError(L"parse ini item :%s error", name);
            util::LogError(L"essencial elements missing- %s %s %s %s %s", p[0], p[1], p[2], p[3], p[4]);
            return fail();
        }
        const std::wstring& fileName = section.Get(L"filename");
        std::vector<ActionRecord> records;
        if (util::EndsWithNoCase(fileName, L"msi") || util::EndsWithNoCase(fileName, L"exe"))
            records = GetMSIAction(section, facts, selection);
        else if (util::EndsWithNoCase(fileName, L"zip"))
            records = GetUnzipAction(section, facts, selection);
        if (!records.empty()) {
            list.insert(list.end(), records.begin(), records.end());
            // An empty id names no product: it would tie together every record without one.
            const std::wstring& uninstallId = section.Get(L"uninstallid");
            if (!uninstallId.empty() && !noted.insert(uninstallId).second) shared.insert(uninstallId);
        }
        ++result.productSectionCount;
    }

    for (auto& r : list) {
        if (shared.count(r.install_data.uninstallId)) r.install_data.isMultiFolder = true;
    }
    list.push_back(MakeAction(ActionType::Finish));
    result.actions = std::move(list);
    return result;
}

ConfigParseResult ParseConfigurationFile(std::wstring_view path, std::wstring_view installRoot,
                                         const BuildFacts& facts, const ProductSelection& selection) {
    return ParseConfiguration(IniFile::Load(path), installRoot, facts, selection);
}

void ListProductsForSelection(std::wstring_view path, std::wstring_view installRoot, const BuildFacts& facts,
                              ProductSelection& selection) {
    selection.listingMode = true;
    ConfigParseResult parsed = ParseConfigurationFile(path, installRoot, facts, selection);
    selection.listingMode = false;
    selection.listedActions = std::move(parsed.actions);
    selection.offeredNames.clear();
    for (const auto& r : selection.listedActions) {
        const auto& i = r.install_data;
        if (i.DisplayName.empty() || !i.isMainItem || i.isPrerequisite || i.uninstallId == L"Velmo Common" ||
            i.DisplayName == L"Velmo Essentials Bundle")
            continue;
        if (std::find(selection.offeredNames.begin(), selection.offeredNames.end(), i.DisplayName) ==
            selection.offeredNames.end())
            selection.offeredNames.push_back(i.DisplayName);
    }
}

}  // namespace config
