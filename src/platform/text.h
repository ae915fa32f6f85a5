// Text encodings at the platform's edges.
//
// Inside the system text is std::wstring holding Unicode code points (wchar_t is
// 32 bits here). Windows counts text in UTF-16 units, so every length or limit
// the system measures goes through Utf16Length/CutToUtf16Units. UTF-8 is the
// encoding of the host (file names, JSON, sockets); UTF-16LE is the encoding
// of Windows data (registry strings, the log file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Malformed input never fails: invalid UTF-8 bytes become U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// UTF-16LE bytes, no byte-order mark and no terminator unless the caller adds one.
std::string Utf16LeFromWide(std::wstring_view wide);
// Decodes UTF-16LE bytes; an odd trailing byte is dropped, unpaired surrogates become U+FFFD.
std::wstring WideFromUtf16Le(std::string_view bytes);

// Number of UTF-16 code units the text takes.
std::size_t Utf16Length(std::wstring_view wide);
// The longest prefix of the text that fits in maxUnits UTF-16 units; never splits a surrogate pair.
std::wstring CutToUtf16Units(std::wstring_view wide, std::size_t maxUnits);

// Windows-style case-insensitive comparison of names (file names, registry keys):
// each character is compared in its upper-case form.
wchar_t UpperChar(wchar_t c);
wchar_t LowerChar(wchar_t c);
std::wstring UpperText(std::wstring_view text);
std::wstring LowerText(std::wstring_view text);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
// <0, 0, >0 like wcscmp, on the upper-case forms.
int CompareNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace platform
