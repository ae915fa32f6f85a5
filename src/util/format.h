// A type-checked formatter for the system's printf-style wide formats.
//
// "%s" and "%ls" take wide text, "%S" and "%hs" narrow (UTF-8) text, "%d"/"%i"/"%ld" a 32-bit
// integer, "%lld"/"%I64d" a 64-bit one (likewise u, x, X, o), "%c" a character, "%f"/"%g" a
// double, "%p" a pointer, "%%" a percent sign; flags "-", "0", "+", " ", "#", a width and a
// precision (digits or "*"). Arguments travel as tagged values, so a mismatch between the format
// and an argument is never undefined behaviour: the argument is written in its natural form and
// the mismatch handler is told (in debug builds it stops the program, so tests catch it).
// Formatting is bounded: a width or precision above 4096 is clamped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace util {

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Double, Wide, Narrow, Char, Pointer };

    template <class T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, wchar_t> &&
                 !std::is_same_v<T, char>)
    FormatArg(T v) : bits_(sizeof(T) * 8) {
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            s_ = static_cast<std::int64_t>(v);
        } else {
            kind_ = Kind::Unsigned;
            u_ = static_cast<std::uint64_t>(v);
        }
    }
    FormatArg(bool v) : kind_(Kind::Signed), bits_(32), s_(v ? 1 : 0) {}
    FormatArg(wchar_t c) : kind_(Kind::Char), bits_(32), s_(static_cast<std::int64_t>(c)) {}
    FormatArg(char c) : kind_(Kind::Char), bits_(8), s_(static_cast<unsigned char>(c)) {}
    FormatArg(double d) : kind_(Kind::Double), bits_(64), d_(d) {}
    FormatArg(float d) : kind_(Kind::Double), bits_(64), d_(d) {}
    FormatArg(const wchar_t* s) : kind_(Kind::Wide), bits_(0), w_(s ? std::wstring_view(s) : std::wstring_view()), null_(!s) {}
    FormatArg(std::wstring_view s) : kind_(Kind::Wide), bits_(0), w_(s) {}
    FormatArg(const std::wstring& s) : kind_(Kind::Wide), bits_(0), w_(s) {}
    FormatArg(const char* s) : kind_(Kind::Narrow), bits_(0), n_(s ? std::string_view(s) : std::string_view()), null_(!s) {}
    FormatArg(std::string_view s) : kind_(Kind::Narrow), bits_(0), n_(s) {}
    FormatArg(const std::string& s) : kind_(Kind::Narrow), bits_(0), n_(s) {}
    FormatArg(const void* p) : kind_(Kind::Pointer), bits_(64), u_(reinterpret_cast<std::uintptr_t>(p)) {}
    FormatArg(std::nullptr_t) : kind_(Kind::Pointer), bits_(64), u_(0) {}

    Kind kind() const { return kind_; }
    unsigned bits() const { return bits_; }
    std::int64_t asSigned() const { return kind_ == Kind::Unsigned || kind_ == Kind::Pointer ? static_cast<std::int64_t>(u_) : kind_ == Kind::Double ? static_cast<std::int64_t>(d_) : s_; }
    std::uint64_t asUnsigned() const { return kind_ == Kind::Unsigned || kind_ == Kind::Pointer ? u_ : kind_ == Kind::Double ? static_cast<std::uint64_t>(d_) : static_cast<std::uint64_t>(s_); }
    double asDouble() const { return kind_ == Kind::Double ? d_ : kind_ == Kind::Unsigned ? static_cast<double>(u_) : static_cast<double>(s_); }
    std::wstring_view wide() const { return w_; }
    std::string_view narrow() const { return n_; }
    bool isNull() const { return null_; }

private:
    Kind kind_;
    unsigned bits_;
    std::int64_t s_ = 0;
    std::uint64_t u_ = 0;
    double d_ = 0;
    std::wstring_view w_;
    std::string_view n_;
    bool null_ = false;
};

// Told of every format/argument mismatch: the format and the index of the conversion (0-based).
using FormatMismatchHandler = void (*)(std::wstring_view format, std::size_t conversionIndex);
// Installs a handler and returns the previous one; null restores the default (debug builds stop
// the program, release builds carry on).
FormatMismatchHandler SetFormatMismatchHandler(FormatMismatchHandler handler);

std::wstring FormatArgs(std::wstring_view format, std::span<const FormatArg> args);

template <class... A>
std::wstring Format(std::wstring_view format, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return FormatArgs(format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatArgs(format, list);
    }
}

}  // namespace util
