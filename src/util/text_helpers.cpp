#include "util/text_helpers.h"

#include <time.h>

#include <climits>
#include <random>

#include "platform/clipboard.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "util/locale_names.h"

namespace util {

std::string ToUtf8(std::wstring_view text) { return platform::Utf8FromWide(text); }
std::wstring FromUtf8(std::string_view bytes) { return platform::WideFromUtf8(bytes); }

std::wstring TrimToken(std::wstring_view text, std::wstring_view token) {
    if (token.empty()) return std::wstring(text);
    while (text.size() >= token.size() && text.substr(text.size() - token.size()) == token)
        text.remove_suffix(token.size());
    while (text.size() >= token.size() && text.substr(0, token.size()) == token) text.remove_prefix(token.size());
    return std::wstring(text);
}

std::vector<std::wstring> SplitKeep(std::wstring_view text, std::wstring_view separator) {
    std::vector<std::wstring> parts;
    if (separator.empty()) {
        parts.emplace_back(text);
        return parts;
    }
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find(separator, start)) != std::wstring_view::npos; start = pos + separator.size())
        parts.emplace_back(text.substr(start, pos - start));
    parts.emplace_back(text.substr(start));
    return parts;
}

std::vector<std::wstring> SplitTokens(std::wstring_view text, std::wstring_view separator) {
    std::vector<std::wstring> parts;
    if (text.empty() || separator.empty()) return parts;
    for (auto& part : SplitKeep(text, separator)) {
        std::wstring trimmed = TrimToken(part, L" ");
        if (!trimmed.empty()) parts.push_back(std::move(trimmed));
    }
    return parts;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return platform::LowerText(text).starts_with(platform::LowerText(prefix));
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
    return platform::LowerText(text).ends_with(platform::LowerText(suffix));
}

std::wstring RandomName() {
    static constexpr wchar_t kAlphabet[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::mt19937 twister(device());
    std::uniform_int_distribution<int> pick(0, 35);
    std::wstring name;
    for (int i = 0; i < 8; ++i) name.push_back(kAlphabet[pick(twister)]);
    return name;
}

std::wstring TimestampText() {
    time_t now = ::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char buf[64];
    std::size_t n = ::strftime(buf, sizeof buf, "%y_%m_%d_%I-%M%p", &local);
    return platform::WideFromUtf8(std::string_view(buf, n));
}

std::int32_t TextToInt(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    std::int64_t v = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        v = v * 10 + (text[i] - L'0');
        if (v > static_cast<std::int64_t>(INT_MAX) + 1) v = static_cast<std::int64_t>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<std::int32_t>(v);
}

namespace {

// Reads integers as "%d" with the literal separators of `pattern` ('#' stands for a number,
// a blank matches any run of white space); returns how many numbers were read.
int ScanNumbers(std::wstring_view text, std::wstring_view pattern, int (&out)[6]) {
    std::size_t t = 0;
    int count = 0;
    auto skipSpace = [&] {
        while (t < text.size() && (text[t] == L' ' || (text[t] >= L'\t' && text[t] <= L'\r'))) ++t;
    };
    for (wchar_t p : pattern) {
        if (p == L'#') {
            skipSpace();
            std::size_t start = t;
            bool negative = false;
            if (t < text.size() && (text[t] == L'+' || text[t] == L'-')) negative = text[t++] == L'-';
            std::size_t digits = t;
            long long v = 0;
            while (t < text.size() && text[t] >= L'0' && text[t] <= L'9') {
                if (v < 1000000000LL) v = v * 10 + (text[t] - L'0');
                ++t;
            }
            if (t == digits) {
                t = start;
                return count;
            }
            out[count++] = static_cast<int>(negative ? -v : v);
        } else if (p == L' ') {
            skipSpace();
        } else {
            if (t >= text.size() || text[t] != p) return count;
            ++t;
        }
    }
    return count;
}

}  // namespace

std::optional<std::int64_t> ParseDateTime(std::wstring_view text) {
    int v[6] = {-1, -1, -1, -1, -1, -1};
    int n = ScanNumbers(text, L"#-#-# #:#:#", v);
    int year = v[0], month = v[1], day = v[2];
    int hour = v[3], minute = v[4], second = v[5];
    if (n < 3 || year < 0 || month < 0 || day < 0) {
        int w[6] = {-1, -1, -1, -1, -1, -1};
        n = ScanNumbers(text, L"#/#/# #:#:#", w);
        month = w[0], day = w[1], year = w[2], hour = w[3], minute = w[4], second = w[5];
    }
    if (n < 6 || year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return std::nullopt;
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    time_t value = ::mktime(&t);
    if (value == static_cast<time_t>(-1) && !(year == 1969 || year == 1970)) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

std::wstring UserUiLocaleName() { return std::wstring(LocaleNameOfLangId(platform::CurrentProfile().uiLanguage)); }

std::wstring ClipboardText() {
    std::wstring text;
    if (!platform::GetClipboardText(text)) return {};
    return text;
}

}  // namespace util
