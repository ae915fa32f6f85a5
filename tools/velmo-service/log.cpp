#include "log.h"

#include <unistd.h>

#include <mutex>
#include <string>

namespace velmo_service {

void LogLine(std::string_view line) {
    static std::mutex mutex;
    std::string text = "velmo-service: ";
    text.append(line);
    text.push_back('\n');
    std::lock_guard lock(mutex);
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace velmo_service
