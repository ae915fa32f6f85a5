// The user's and the thread's UI language (GetUserDefaultUILanguage, GetThreadUILanguage,
// SetThreadUILanguage).
//
// The user's UI language is the machine profile's "uiLanguage". Each thread starts with no
// language of its own and reports the user's; SetThreadUILanguage gives the calling thread its
// own until it sets 0 again. Other threads are not affected.
#pragma once

#include <cstdint>

namespace platform {

std::uint16_t GetUserDefaultUILanguage();

// The calling thread's UI language: its own when set, else the user's.
std::uint16_t GetThreadUILanguage();

// Sets the calling thread's UI language and returns it; 0 drops the thread's own language and
// returns the user's. Never fails: any LANGID is accepted, as tables are chosen when loading.
std::uint16_t SetThreadUILanguage(std::uint16_t langId);

}  // namespace platform
