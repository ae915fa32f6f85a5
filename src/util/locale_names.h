// Locale names of Windows language identifiers.
#pragma once

#include <cstdint>
#include <string_view>

namespace util {

// Locale name of a Windows language identifier (LANGID), from the platform's published
// identifier-to-name mapping: 0x0409 -> L"en-US", 0x0407 -> L"de-DE". Empty view when unknown.
std::wstring_view LocaleNameOfLangId(std::uint16_t langId);

}  // namespace util
