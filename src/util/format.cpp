#include "util/format.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>

#include "platform/text.h"

namespace util {
namespace {

constexpr int kMaxWidth = 4096;

void DefaultMismatch(std::wstring_view format, std::size_t index) {
#ifndef NDEBUG
    std::fprintf(stderr, "format mismatch at conversion %zu of \"%s\"\n", index,
                 platform::Utf8FromWide(format).c_str());
    std::abort();
#else
    (void)format;
    (void)index;
#endif
}

std::atomic<FormatMismatchHandler> g_handler{nullptr};

void Mismatch(std::wstring_view format, std::size_t index) {
    FormatMismatchHandler h = g_handler.load();
    (h ? h : DefaultMismatch)(format, index);
}

struct Spec {
    bool left = false, zero = false, plus = false, space = false, alt = false;
    int width = -1;
    int precision = -1;
    enum Length { None, Short, Long, LongLong } length = None;
    wchar_t conv = 0;
};

void Pad(std::wstring& out, std::wstring_view body, const Spec& spec, bool numeric) {
    std::size_t w = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    if (body.size() >= w) {
        out += body;
        return;
    }
    std::size_t fill = w - body.size();
    if (spec.left) {
        out += body;
        out.append(fill, L' ');
    } else if (spec.zero && numeric) {
        // Zeros go after the sign or the 0x prefix.
        std::size_t prefix = 0;
        if (!body.empty() && (body[0] == L'-' || body[0] == L'+' || body[0] == L' ')) prefix = 1;
        if (body.size() >= prefix + 2 && body[prefix] == L'0' && (body[prefix + 1] == L'x' || body[prefix + 1] == L'X'))
            prefix += 2;
        out += body.substr(0, prefix);
        out.append(fill, L'0');
        out += body.substr(prefix);
    } else {
        out.append(fill, L' ');
        out += body;
    }
}

std::wstring Digits(std::uint64_t v, unsigned base, bool upper) {
    const wchar_t* d = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring s;
    do {
        s.insert(s.begin(), d[v % base]);
        v /= base;
    } while (v);
    return s;
}

std::wstring Integer(const FormatArg& a, const Spec& spec, bool isSigned, unsigned base, bool upper) {
    bool negative = false;
    std::uint64_t mag;
    if (isSigned) {
        std::int64_t v = a.asSigned();
        negative = v < 0;
        mag = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    } else {
        mag = a.asUnsigned();
        // A negative value given to an unsigned conversion wraps at the conversion's width, as C does.
        if (a.kind() == FormatArg::Kind::Signed && a.asSigned() < 0 && spec.length != Spec::LongLong)
            mag &= 0xFFFFFFFFull;
    }
    std::wstring digits = (spec.precision == 0 && mag == 0) ? std::wstring() : Digits(mag, base, upper);
    if (spec.precision > 0 && digits.size() < static_cast<std::size_t>(spec.precision))
        digits.insert(0, static_cast<std::size_t>(spec.precision) - digits.size(), L'0');
    std::wstring body;
    if (negative) body = L"-";
    else if (isSigned && spec.plus) body = L"+";
    else if (isSigned && spec.space) body = L" ";
    if (spec.alt && mag != 0 && base == 16) body += upper ? L"0X" : L"0x";
    if (spec.alt && base == 8 && (digits.empty() || digits[0] != L'0')) body += L"0";
    return body + digits;
}

std::wstring Floating(double v, const Spec& spec) {
    char buf[512];
    int prec = spec.precision < 0 ? 6 : (spec.precision > 100 ? 100 : spec.precision);
    int len = 0;
    switch (spec.conv) {
        case L'f': len = std::snprintf(buf, sizeof buf, spec.plus ? "%+.*f" : "%.*f", prec, v); break;
        case L'e': len = std::snprintf(buf, sizeof buf, spec.plus ? "%+.*e" : "%.*e", prec, v); break;
        case L'E': len = std::snprintf(buf, sizeof buf, spec.plus ? "%+.*E" : "%.*E", prec, v); break;
        case L'G': len = std::snprintf(buf, sizeof buf, spec.plus ? "%+.*G" : "%.*G", prec, v); break;
        default: len = std::snprintf(buf, sizeof buf, spec.plus ? "%+.*g" : "%.*g", prec, v); break;
    }
    if (len < 0) return {};
    return platform::WideFromUtf8(std::string_view(buf, static_cast<std::size_t>(len) < sizeof buf ? len : sizeof buf - 1));
}

}  // namespace

FormatMismatchHandler SetFormatMismatchHandler(FormatMismatchHandler handler) { return g_handler.exchange(handler); }

std::wstring FormatArgs(std::wstring_view f, std::span<const FormatArg> args) {
    std::wstring out;
    out.reserve(f.size() + 16 * args.size());
    std::size_t next = 0;        // next argument
    std::size_t conversion = 0;  // index of the conversion, for the mismatch report
    std::size_t i = 0;
    auto takeInt = [&](int& target) {
        if (next < args.size()) {
            const FormatArg& a = args[next++];
            if (a.kind() != FormatArg::Kind::Signed && a.kind() != FormatArg::Kind::Unsigned) Mismatch(f, conversion);
            std::int64_t v = a.asSigned();
            target = v > kMaxWidth ? kMaxWidth : v < -kMaxWidth ? -kMaxWidth : static_cast<int>(v);
        } else {
            Mismatch(f, conversion);
            target = -1;
        }
    };
    while (i < f.size()) {
        wchar_t c = f[i];
        if (c != L'%') {
            out.push_back(c);
            ++i;
            continue;
        }
        ++i;
        if (i < f.size() && f[i] == L'%') {
            out.push_back(L'%');
            ++i;
            continue;
        }
        Spec spec;
        for (; i < f.size(); ++i) {
            wchar_t fl = f[i];
            if (fl == L'-') spec.left = true;
            else if (fl == L'0') spec.zero = true;
            else if (fl == L'+') spec.plus = true;
            else if (fl == L' ') spec.space = true;
            else if (fl == L'#') spec.alt = true;
            else break;
        }
        if (i < f.size() && f[i] == L'*') {
            takeInt(spec.width);
            if (spec.width < 0 && spec.width != -1) {
                spec.left = true;
                spec.width = -spec.width;
            }
            ++i;
        } else {
            int w = -1;
            while (i < f.size() && f[i] >= L'0' && f[i] <= L'9') {
                w = (w < 0 ? 0 : w) * 10 + (f[i] - L'0');
                if (w > kMaxWidth) w = kMaxWidth;
                ++i;
            }
            spec.width = w;
        }
        if (i < f.size() && f[i] == L'.') {
            ++i;
            if (i < f.size() && f[i] == L'*') {
                takeInt(spec.precision);
                ++i;
            } else {
                int p = 0;
                while (i < f.size() && f[i] >= L'0' && f[i] <= L'9') {
                    p = p * 10 + (f[i] - L'0');
                    if (p > kMaxWidth) p = kMaxWidth;
                    ++i;
                }
                spec.precision = p;
            }
        }
        // Length modifiers: h, hh, l, ll, I64, I32, z, j, t.
        if (i < f.size()) {
            if (f.substr(i, 3) == L"I64") spec.length = Spec::LongLong, i += 3;
            else if (f.substr(i, 3) == L"I32") spec.length = Spec::None, i += 3;
            else if (f.substr(i, 2) == L"ll") spec.length = Spec::LongLong, i += 2;
            else if (f.substr(i, 2) == L"hh") spec.length = Spec::Short, i += 2;
            else if (f[i] == L'l') spec.length = Spec::Long, ++i;
            else if (f[i] == L'h') spec.length = Spec::Short, ++i;
            else if (f[i] == L'z' || f[i] == L'j' || f[i] == L't') spec.length = Spec::LongLong, ++i;
        }
        if (i >= f.size()) {  // a dangling "%" is written as it stands
            out.push_back(L'%');
            break;
        }
        spec.conv = f[i++];
        if (spec.zero && spec.left) spec.zero = false;

        const bool known = std::wstring_view(L"diuxXocCsSpfFeEgG").find(spec.conv) != std::wstring_view::npos;
        if (!known) {  // unknown conversion: written as it stands, consumes nothing
            out.push_back(L'%');
            out.push_back(spec.conv);
            ++conversion;
            continue;
        }
        if (next >= args.size()) {
            Mismatch(f, conversion++);
            continue;
        }
        const FormatArg& a = args[next++];
        using K = FormatArg::Kind;
        const bool integral = a.kind() == K::Signed || a.kind() == K::Unsigned;
        switch (spec.conv) {
            case L'd':
            case L'i':
            case L'u':
            case L'x':
            case L'X':
            case L'o': {
                unsigned wanted = spec.length == Spec::LongLong ? 64 : 32;
                if (!integral && a.kind() != K::Char) {
                    Mismatch(f, conversion);
                    // Natural form of a non-integer argument.
                    if (a.kind() == K::Wide) Pad(out, a.wide(), spec, false);
                    else if (a.kind() == K::Narrow) Pad(out, platform::WideFromUtf8(a.narrow()), spec, false);
                    else if (a.kind() == K::Double) Pad(out, Floating(a.asDouble(), Spec{.conv = L'g'}), spec, true);
                    else Pad(out, Integer(a, Spec{}, false, 16, false), spec, true);
                    break;
                }
                if (a.bits() > wanted) Mismatch(f, conversion);
                bool sgn = spec.conv == L'd' || spec.conv == L'i';
                unsigned base = (spec.conv == L'x' || spec.conv == L'X') ? 16 : spec.conv == L'o' ? 8 : 10;
                Spec effective = spec;
                if (a.bits() > wanted) effective.length = Spec::LongLong;  // natural form: the full value
                FormatArg value = a;
                if (a.bits() <= 32 && wanted == 32 && sgn && a.kind() == K::Unsigned)
                    value = FormatArg(static_cast<std::int32_t>(static_cast<std::uint32_t>(a.asUnsigned())));
                Pad(out, Integer(value, effective, sgn, base, spec.conv == L'X'), spec, true);
                break;
            }
            case L'c':
            case L'C': {
                if (a.kind() != K::Char && !integral) {
                    Mismatch(f, conversion);
                    if (a.kind() == K::Wide) Pad(out, a.wide(), spec, false);
                    else if (a.kind() == K::Narrow) Pad(out, platform::WideFromUtf8(a.narrow()), spec, false);
                    break;
                }
                wchar_t ch = static_cast<wchar_t>(a.asSigned());
                Pad(out, std::wstring_view(&ch, 1), spec, false);
                break;
            }
            case L's':
            case L'S': {
                // In wide formats "%s" and "%ls" are wide text; "%S" and "%hs" are narrow text.
                bool wantNarrow = spec.conv == L'S' ? spec.length != Spec::Long : spec.length == Spec::Short;
                std::wstring text;
                if (a.kind() == K::Wide) {
                    if (wantNarrow) Mismatch(f, conversion);
                    text = a.isNull() ? std::wstring(L"(null)") : std::wstring(a.wide());
                } else if (a.kind() == K::Narrow) {
                    if (!wantNarrow) Mismatch(f, conversion);
                    text = a.isNull() ? std::wstring(L"(null)") : platform::WideFromUtf8(a.narrow());
                } else {
                    Mismatch(f, conversion);
                    if (a.kind() == K::Double) text = Floating(a.asDouble(), Spec{.conv = L'g'});
                    else if (a.kind() == K::Char) text.assign(1, static_cast<wchar_t>(a.asSigned()));
                    else text = Integer(a, Spec{}, a.kind() == K::Signed, 10, false);
                }
                if (spec.precision >= 0 && text.size() > static_cast<std::size_t>(spec.precision))
                    text.resize(static_cast<std::size_t>(spec.precision));
                Pad(out, text, spec, false);
                break;
            }
            case L'p': {
                if (a.kind() != K::Pointer) Mismatch(f, conversion);
                Spec p = spec;
                p.precision = 16;
                Pad(out, Integer(a, p, false, 16, true), spec, true);
                break;
            }
            default: {  // floating point
                if (a.kind() != K::Double) Mismatch(f, conversion);
                Spec fs = spec;
                if (fs.conv == L'F') fs.conv = L'f';
                Pad(out, Floating(a.asDouble(), fs), spec, true);
                break;
            }
        }
        ++conversion;
    }
    return out;
}

}  // namespace util
