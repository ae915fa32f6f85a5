#include "app/startup_strings.h"

namespace app {

// English texts until the translated string tables are embedded; the language is already
// passed so that callers do not change when they arrive.
std::wstring StartupString(std::uint32_t id, std::uint16_t /*langId*/) {
    switch (id) {
        case kStringAnotherInstance:
            return L"Another installation process is running at the moment. Please wait until this process is "
                   L"complete and try again. A restart of your computer may be necessary first.";
        case kStringCommonRuntimeNeeded:
            return L"Couldn't uninstall [AppName]. You still have Velmo applications installed on your computer "
                   L"that require it.";
        default: return {};
    }
}

}  // namespace app
