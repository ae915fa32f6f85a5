#include "config/ini_reader.h"

#include "platform/file.h"
#include "platform/text.h"

namespace config {

namespace {

bool IsLineSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f'; }

std::wstring_view TrimSpace(std::wstring_view s) {
    while (!s.empty() && IsLineSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsLineSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The entry string the profile reader hands out for one line.
std::wstring EntryText(std::wstring_view line) {
    std::size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos) return std::wstring(line);
    std::wstring_view key = line.substr(0, eq);
    std::wstring_view value = line.substr(eq + 1);
    while (!key.empty() && IsLineSpace(key.back())) key.remove_suffix(1);
    while (!value.empty() && IsLineSpace(value.front())) value.remove_prefix(1);
    std::wstring out(key);
    out += L'=';
    out += value;
    return out;
}

// Whole strings while they fit in the limit, each counted with its terminator.
std::vector<std::wstring> WithinLimit(const std::vector<std::wstring>& strings) {
    std::vector<std::wstring> out;
    std::size_t used = 0;
    for (const auto& s : strings) {
        std::size_t units = platform::Utf16Length(s) + 1;
        if (used + units > kProfileListLimit) break;
        used += units;
        out.push_back(s);
    }
    return out;
}

}  // namespace

std::wstring DecodeIniText(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return platform::WideFromUtf8(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return platform::WideFromUtf16Le(bytes.substr(2));
    if (bytes.starts_with("\xFE\xFF")) {
        std::string swapped(bytes.substr(2));
        for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
        return platform::WideFromUtf16Le(swapped);
    }
    return platform::WideFromUtf8(bytes);
}

IniFile IniFile::Load(std::wstring_view windowsPath) {
    std::string bytes;
    if (!platform::ReadWholeFile(windowsPath, bytes)) return IniFile();
    return FromBytes(bytes);
}

IniFile IniFile::FromBytes(std::string_view bytes) { return FromText(DecodeIniText(bytes)); }

IniFile IniFile::FromText(std::wstring_view text) {
    IniFile file;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t current = kNone;  // none before the first header and inside a nameless section
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != L'\r' && text[end] != L'\n' && text[end] != L'\0') ++end;
        std::wstring_view line = TrimSpace(text.substr(pos, end - pos));
        if (end < text.size() && text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n') ++end;
        pos = end + 1;
        // Comment lines are not entries: a commented-out ";url=old" must not hide the real url.
        if (line.empty() || line.front() == L';') continue;
        if (line.front() == L'[') {
            std::size_t close = line.rfind(L']');
            if (close != std::wstring_view::npos && close > 0) {
                std::wstring_view name = TrimSpace(line.substr(1, close - 1));
                if (name.empty()) {
                    current = kNone;
                } else {
                    file.sections_.push_back(Section{std::wstring(name), {}});
                    current = file.sections_.size() - 1;
                }
                continue;
            }
        }
        if (current != kNone) file.sections_[current].entries.push_back(EntryText(line));
    }
    return file;
}

std::vector<std::wstring> IniFile::SectionNames() const {
    std::vector<std::wstring> names;
    names.reserve(sections_.size());
    for (const auto& s : sections_) names.push_back(s.name);
    return WithinLimit(names);
}

std::vector<std::wstring> IniFile::SectionEntries(std::wstring_view name) const {
    if (name.empty()) return {};
    for (const auto& s : sections_) {
        if (platform::EqualsNoCase(s.name, name)) return WithinLimit(s.entries);
    }
    return {};
}

}  // namespace config
