// Named mutexes that span the processes of one machine prefix and vanish with their last holder.
#pragma once

#include <memory>
#include <string_view>

namespace platform {

class NamedMutex {
public:
    virtual ~NamedMutex() = default;
};

// CreateMutex with "not initially owned": always returns a handle (null only on a hard failure,
// last error set); when another handle of that name exists anywhere on the machine, the last
// error is ERROR_ALREADY_EXISTS, else ERROR_SUCCESS. The name lives while any handle does,
// including in a process that ends without closing it.
std::unique_ptr<NamedMutex> CreateNamedMutex(std::wstring_view name);

}  // namespace platform
