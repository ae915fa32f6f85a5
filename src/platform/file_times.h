// Setting the times of an open file, as Windows's SetFileTime.
#pragma once

#include "platform/file.h"

namespace platform {

// A null pointer leaves that time as it is. The host keeps no settable creation time: a given
// creation time is accepted and not stored (the platform reports the birth time it has).
// False with the last error set when the file is not open or the host refuses.
bool SetFileTime(File& file, const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite);

}  // namespace platform
