#include "platform/thread_language.h"

#include "platform/profile.h"

namespace platform {

namespace {
thread_local std::uint16_t tThreadLanguage = 0;  // 0: none of its own
}  // namespace

std::uint16_t GetUserDefaultUILanguage() { return CurrentProfile().uiLanguage; }

std::uint16_t GetThreadUILanguage() {
    return tThreadLanguage != 0 ? tThreadLanguage : GetUserDefaultUILanguage();
}

std::uint16_t SetThreadUILanguage(std::uint16_t langId) {
    tThreadLanguage = langId;
    return GetThreadUILanguage();
}

}  // namespace platform
