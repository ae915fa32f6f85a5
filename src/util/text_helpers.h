// Text helpers shared by the whole installer. None keeps state; none throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace util {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view bytes);

// Removes the token repeatedly from the end, then from the start; an empty token changes nothing.
std::wstring TrimToken(std::wstring_view text, std::wstring_view token);
// Every occurrence splits; empty parts stay; the text after the last separator is the last part.
std::vector<std::wstring> SplitKeep(std::wstring_view text, std::wstring_view separator);
// Every occurrence splits; parts are trimmed of blanks and empty parts dropped.
std::vector<std::wstring> SplitTokens(std::wstring_view text, std::wstring_view separator);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);
bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix);

// Eight characters from "abcdefghijklmnopqrstuvwxyz0123456789", MT19937 seeded from the random device.
std::wstring RandomName();
// Local time as "%y_%m_%d_%I-%M%p", e.g. "24_05_13_09-41AM".
std::wstring TimestampText();
// "Y-M-D h:m:s", else "M/D/Y h:m:s", as local time in seconds since the epoch; none when a part
// is missing or negative.
std::optional<std::int64_t> ParseDateTime(std::wstring_view text);

// The standard decimal text-to-integer conversion: leading blanks, optional sign, digits;
// no digits give 0; values beyond 32 bits saturate.
std::int32_t TextToInt(std::wstring_view text);

// Locale name of the user's default UI language ("en-US"); empty when not in the table.
std::wstring UserUiLocaleName();
// The clipboard's Unicode text, or empty.
std::wstring ClipboardText();

}  // namespace util
