// The service's diagnostic output: one line per call on stderr, lines of concurrent requests
// never interleaved.
#pragma once

#include <string_view>

namespace velmo_service {

void LogLine(std::string_view line);

}  // namespace velmo_service
