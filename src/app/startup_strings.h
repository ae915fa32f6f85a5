// Texts of the start-up message boxes, shown before any window or string set exists, read by
// direct load in the user's UI language.
#pragma once

#include <cstdint>
#include <string>

namespace app {

inline constexpr std::uint32_t kStringAnotherInstance = 152;
inline constexpr std::uint32_t kStringCommonRuntimeNeeded = 321;

std::wstring StartupString(std::uint32_t id, std::uint16_t langId);

}  // namespace app
