#include "app/startup_strings.h"

#include "util/resources.h"

namespace app {

// The string set is still empty before the main window exists, so the start-up texts are read
// straight from the tables: the user's language, its primary-language table, else English, so a
// message box is never empty. Placeholders stay for the caller to fill.
std::wstring StartupString(std::uint32_t id, std::uint16_t langId) {
    if (id > 0xFFFF) return {};
    return util::LoadStringPreferred(static_cast<std::uint16_t>(id), langId);
}

}  // namespace app
