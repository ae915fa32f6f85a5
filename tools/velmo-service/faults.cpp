#include "faults.h"

#include <nlohmann/json.hpp>

#include "log.h"

namespace velmo_service {

namespace {

using nlohmann::json;

bool WholeNumber(const json& v, std::int64_t minimum, std::int64_t& out) {
    if (v.is_number_integer()) {
        out = v.get<std::int64_t>();
    } else if (v.is_number_float()) {
        double d = v.get<double>();
        if (d != static_cast<double>(static_cast<std::int64_t>(d))) return false;
        out = static_cast<std::int64_t>(d);
    } else {
        return false;
    }
    return out >= minimum;
}

}  // namespace

std::string FaultEffect::Describe() const {
    std::string d;
    auto add = [&d](const std::string& part) {
        if (!d.empty()) d += ' ';
        d += part;
    };
    if (delayMs > 0) add("delayMs=" + std::to_string(delayMs));
    if (drop) add("drop");
    if (redirectLoop) add("redirectLoop");
    if (status != 0) add("status=" + std::to_string(status));
    if (cutAfterBytes >= 0) add("cutAfterBytes=" + std::to_string(cutAfterBytes));
    if (stallAfterBytes >= 0) add("stallAfterBytes=" + std::to_string(stallAfterBytes));
    if (rateBytesPerSec > 0) add("rateBytesPerSec=" + std::to_string(rateBytesPerSec));
    return d;
}

void FaultTable::ReloadIfChanged() {
    FileStamp now = StampOf(file_);
    if (loaded_ && now == stamp_) return;
    loaded_ = true;
    stamp_ = now;
    rules_.clear();
    if (!now.exists) return;

    auto text = ReadFile(file_);
    if (!text) {
        LogLine("faults.json cannot be read; no fault applies");
        return;
    }
    json doc = json::parse(*text, nullptr, false);
    if (doc.is_discarded() || !doc.is_array()) {
        LogLine("faults.json is not a JSON array; no fault applies");
        return;
    }
    std::vector<Rule> rules;
    std::size_t index = 0;
    for (const auto& item : doc) {
        const std::string where = "faults.json rule " + std::to_string(index++) + ": ";
        if (!item.is_object()) {
            LogLine(where + "not an object; no fault applies");
            return;
        }
        Rule rule;
        bool named = false, effect = false;
        for (const auto& [key, value] : item.items()) {
            std::int64_t n = 0;
            bool ok = true;
            if (key == "path" || key == "prefix") {
                ok = value.is_string() && !named;
                if (ok) {
                    rule.match = value.get<std::string>();
                    rule.prefix = key == "prefix";
                    named = true;
                }
            } else if (key == "times") {
                ok = WholeNumber(value, 0, rule.times);
            } else if (key == "status") {
                ok = WholeNumber(value, 100, n) && n <= 999;
                rule.effect.status = static_cast<int>(n);
                effect = true;
            } else if (key == "body") {
                ok = value.is_string();
                if (ok) rule.effect.body = value.get<std::string>();
            } else if (key == "delayMs") {
                ok = WholeNumber(value, 0, rule.effect.delayMs);
                effect = true;
            } else if (key == "cutAfterBytes") {
                ok = WholeNumber(value, 0, rule.effect.cutAfterBytes);
                effect = true;
            } else if (key == "stallAfterBytes") {
                ok = WholeNumber(value, 0, rule.effect.stallAfterBytes);
                effect = true;
            } else if (key == "rateBytesPerSec") {
                ok = WholeNumber(value, 1, rule.effect.rateBytesPerSec);
                effect = true;
            } else if (key == "drop" || key == "redirectLoop") {
                ok = value.is_boolean();
                if (ok) (key == "drop" ? rule.effect.drop : rule.effect.redirectLoop) = value.get<bool>();
                effect = true;
            } else {
                LogLine(where + "unknown member \"" + key + "\"; no fault applies");
                return;
            }
            if (!ok) {
                LogLine(where + "bad value of \"" + key + "\"; no fault applies");
                return;
            }
        }
        if (!named || !effect) {
            LogLine(where + "needs \"path\" or \"prefix\" and an effect; no fault applies");
            return;
        }
        rules.push_back(std::move(rule));
    }
    rules_ = std::move(rules);
    LogLine("faults.json loaded: " + std::to_string(rules_.size()) + " rule(s)");
}

std::optional<FaultEffect> FaultTable::Take(const std::string& path) {
    std::lock_guard lock(mutex_);
    ReloadIfChanged();
    for (auto& rule : rules_) {
        const bool matches = rule.prefix ? path.compare(0, rule.match.size(), rule.match) == 0 : path == rule.match;
        if (!matches) continue;
        if (rule.times >= 0 && rule.used >= rule.times) continue;
        ++rule.used;
        return rule.effect;
    }
    return std::nullopt;
}

}  // namespace velmo_service
