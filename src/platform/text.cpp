#include "platform/text.h"

#include <locale.h>
#include <wctype.h>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

locale_t Utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view in) {
    std::wstring out;
    out.reserve(in.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };
    while (i < in.size()) {
        unsigned char b = byte(i);
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= in.size() || (byte(j) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (byte(j) & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<wchar_t>(kReplacement));
            i = ok ? j : i + 1;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i = j;
    }
    return out;
}

std::string Utf8FromWide(std::wstring_view in) {
    std::string out;
    out.reserve(in.size());
    for (wchar_t c : in) AppendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::string Utf16LeFromWide(std::wstring_view in) {
    std::string out;
    out.reserve(in.size() * 2);
    auto unit = [&](std::uint16_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (wchar_t wc : in) {
        char32_t cp = static_cast<char32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            unit(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            unit(static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

std::wstring WideFromUtf16Le(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size() / 2);
    const std::size_t n = bytes.size() / 2;
    auto unitAt = [&](std::size_t k) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                          (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    };
    for (std::size_t k = 0; k < n; ++k) {
        std::uint16_t u = unitAt(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n) {
            std::uint16_t lo = unitAt(k + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = static_cast<std::uint16_t>(kReplacement);
        out.push_back(static_cast<wchar_t>(u));
    }
    return out;
}

std::size_t Utf16Length(std::wstring_view wide) {
    std::size_t n = 0;
    for (wchar_t c : wide) n += static_cast<char32_t>(c) >= 0x10000 && static_cast<char32_t>(c) <= 0x10FFFF ? 2 : 1;
    return n;
}

std::wstring CutToUtf16Units(std::wstring_view wide, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t i = 0;
    for (; i < wide.size(); ++i) {
        char32_t c = static_cast<char32_t>(wide[i]);
        std::size_t w = c >= 0x10000 && c <= 0x10FFFF ? 2 : 1;
        if (units + w > maxUnits) break;
        units += w;
    }
    return std::wstring(wide.substr(0, i));
}

wchar_t UpperChar(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    locale_t loc = Utf8Locale();
    return loc ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), loc)) : c;
}

wchar_t LowerChar(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    locale_t loc = Utf8Locale();
    return loc ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc)) : c;
}

std::wstring UpperText(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = UpperChar(c);
    return out;
}

std::wstring LowerText(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = LowerChar(c);
    return out;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        wchar_t x = UpperChar(a[i]);
        wchar_t y = UpperChar(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

}  // namespace platform
