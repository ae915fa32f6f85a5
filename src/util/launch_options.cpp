#include "util/launch_options.h"

namespace util {

LaunchOptions& GlobalLaunchOptions() {
    static LaunchOptions options;
    return options;
}

}  // namespace util
