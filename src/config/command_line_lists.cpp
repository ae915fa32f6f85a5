#include "config/command_line_lists.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "config/package_registry.h"
#include "config/prerequisites.h"
#include "platform/text.h"
#include "util/format.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace config {

namespace {

using Json = nlohmann::json;

const std::vector<std::wstring_view> kRuntimeKeys = {L"filename", L"url", L"parameter", L"displayname", L"minversion"};
const std::vector<std::wstring_view> kDotNetKeys = {L"filename", L"url", L"parameter", L"displayname", L"checkreg"};
const std::vector<std::wstring_view> kProductKeys = {L"filename", L"url", L"uninstallid", L"displayname", L"mainfile"};

// Never throws: a document that does not parse is discarded.
Json ParseJson(std::wstring_view text) {
    return Json::parse(platform::Utf8FromWide(text), nullptr, /*allow_exceptions=*/false);
}

std::wstring ValueText(const Json& v) {
    switch (v.type()) {
        case Json::value_t::string: return platform::WideFromUtf8(v.get_ref<const std::string&>());
        case Json::value_t::number_integer: return std::to_wstring(v.get<std::int64_t>());
        case Json::value_t::number_unsigned: return std::to_wstring(v.get<std::uint64_t>());
        case Json::value_t::number_float: return util::Format(L"%f", v.get<double>());
        case Json::value_t::boolean: return v.get<bool>() ? L"yes" : L"no";
        default: return {};
    }
}

ConfigSection ItemFromObject(const Json& object) {
    ConfigSection item;
    for (const auto& [key, value] : object.items()) item.Add(platform::WideFromUtf8(key), ValueText(value));
    return item;
}

// A string member, or none when it is absent or of another JSON type.
bool StringMember(const Json& object, const char* name, std::wstring& out) {
    auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return false;
    out = platform::WideFromUtf8(it->get_ref<const std::string&>());
    return true;
}

void Append(std::vector<ActionRecord>& list, std::vector<ActionRecord> records) {
    list.insert(list.end(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
}

}  // namespace

std::vector<ConfigSection> ParseInstallItems(std::wstring_view argument) {
    std::vector<ConfigSection> items;
    if (argument.starts_with(L'{')) {
        Json doc = ParseJson(argument);
        if (doc.is_object()) items.push_back(ItemFromObject(doc));
    } else if (argument.starts_with(L'[')) {
        Json doc = ParseJson(argument);
        if (doc.is_array()) {
            for (const auto& element : doc) {
                if (element.is_object()) items.push_back(ItemFromObject(element));
            }
        }
    }
    return items;
}

std::vector<ActionRecord> BuildInstallList(std::wstring_view argument, const BuildFacts& facts,
                                           const ProductSelection& selection) {
    std::vector<ActionRecord> list;
    bool hasHub = false;
    for (const auto& item : ParseInstallItems(argument)) {
        const std::wstring& uninstallId = item.Get(L"uninstallid");
        if (item.Get(L"displayname") == L"Velmo Hub") hasHub = true;

        if (uninstallId == L"vcredist" || uninstallId == L"vcredist64") {
            if (uninstallId == L"vcredist64" && !facts.isWow64) continue;
            const bool x86 = uninstallId == L"vcredist";
            if (!HasAllKeys(item, kRuntimeKeys)) {
                auto p = MissingKeyParts(item, kRuntimeKeys);
                util::LogError(L"parse ini item :%s error", uninstallId);
                util::LogError(L"essencial elements missing- %s %s %s %s %s", p[0], p[1], p[2], p[3], p[4]);
                return ConfigErrorList();
            }
            const std::wstring& minVersion = item.Get(L"minversion");
            const bool needsReg = item.Has(L"checkreg") && !CheckRuntimeRegistry(item.Get(L"checkreg"), minVersion, x86);
            const bool needsFile = item.Has(L"checkfile") && !CheckRuntimeFile(x86, item.Get(L"checkfile"), minVersion);
            if (needsReg || needsFile)
                Append(list, GetPreRequestActon(item, false, needsReg != needsFile ? kRepairParameter : L"", facts));
            else if (facts.daemon)
                Append(list, GetPreRequestActon(item, true, L"", facts));  // the daemon still hears of the item
            continue;
        }

        if (uninstallId == L"dotnet") {
            if (!HasAllKeys(item, kDotNetKeys)) {
                auto p = MissingKeyParts(item, kDotNetKeys);
                util::LogError(L"parse ini item :%s", uninstallId);
                util::LogError(L"essencial elements missing- %s %s %s %s %s", p[0], p[1], p[2], p[3], p[4]);
                return ConfigErrorList();
            }
            // Without a minimum release there is nothing to compare with: install.
            const bool present =
                item.Has(L"minversion") && CheckDotNetRelease(item.Get(L"checkreg"), item.Get(L"minversion"));
            if (!present)
                Append(list, GetPreRequestActon(item, false, L"", facts));
            else if (facts.daemon)
                Append(list, GetPreRequestActon(item, true, L"", facts));
            continue;
        }

        if (!HasAllKeys(item, kProductKeys)) {
            auto p = MissingKeyParts(item, kProductKeys);
            util::LogError(L"essencial elements missing- %s %s %s %s %s", p[0], p[1], p[2], p[3], p[4]);
            return ConfigErrorList();
        }
        const std::wstring& fileName = item.Get(L"filename");
        if (util::EndsWithNoCase(fileName, L"msi") || util::EndsWithNoCase(fileName, L"exe")) {
            Append(list, GetMSIAction(item, facts, selection));
        } else if (util::EndsWithNoCase(fileName, L"zip")) {
            Append(list, GetUnzipAction(item, facts, selection));
            if (facts.daemon && (uninstallId == L"0" || uninstallId == L"VelmoInstaller"))
                list.push_back(MakeAction(ActionType::RestartSelf));
        }
    }
    if (!facts.daemon || hasHub) list.push_back(MakeAction(ActionType::Finish));
    return list;
}

std::vector<ActionRecord> BuildUninstallList(std::wstring_view argument, const BuildFacts& facts) {
    struct Item {
        std::wstring uninstallId;
        std::wstring id;
    };
    std::vector<Item> items;
    if (argument == L"all") {
        std::vector<std::wstring> ids = ListRegisteredProducts();
        std::stable_partition(ids.begin(), ids.end(), [](const std::wstring& id) { return id != L"Velmo Common"; });
        for (auto& id : ids) items.push_back(Item{std::move(id), {}});
    } else if (argument.starts_with(L'{')) {
        // A text that is not a JSON object is an item without an uninstall id.
        Json doc = ParseJson(argument);
        if (!doc.is_object()) doc = Json::object();
        Item item;
        StringMember(doc, "id", item.id);
        std::wstring folder;
        if (StringMember(doc, "uninstallid", item.uninstallId)) {
            items.push_back(std::move(item));
        } else if (StringMember(doc, "installfolder", folder)) {
            item.uninstallId = ProductByFolder(folder);
            if (!item.uninstallId.empty()) items.push_back(std::move(item));
        } else {
            items.push_back(std::move(item));
        }
    } else if (argument.starts_with(L'[')) {
        // Arrays name no product.
    } else {
        items.push_back(Item{std::wstring(argument), {}});
    }

    std::vector<ActionRecord> list;
    for (auto& item : items) {
        if (item.uninstallId.empty()) {
            if (facts.silent) continue;
            util::LogError(L"essencial elements uninstallid missing");
            return ConfigErrorList();
        }
        ActionRecord r = MakeAction(ActionType::Uninstall);
        r.id = std::move(item.id);
        r.install_data.uninstallId = item.uninstallId;
        r.install_data.DisplayName = std::move(item.uninstallId);
        r.install_data.progressInterval = 200;
        list.push_back(std::move(r));
    }
    if (!facts.daemon) list.push_back(MakeAction(ActionType::Finish));
    return list;
}

}  // namespace config
