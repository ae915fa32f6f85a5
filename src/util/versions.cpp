#include "util/versions.h"

#include "util/text_helpers.h"

namespace util {

bool VersionAtLeast(std::wstring_view a, std::wstring_view b) {
    const auto pa = SplitKeep(a, L".");
    const auto pb = SplitKeep(b, L".");
    bool greater = false;
    const std::size_t shared = pa.size() < pb.size() ? pa.size() : pb.size();
    for (std::size_t i = 0; i < shared && !greater; ++i) {
        const std::int32_t x = TextToInt(pa[i]);
        const std::int32_t y = TextToInt(pb[i]);
        if (y < x) greater = true;
        else if (y > x) return false;
    }
    return greater || pa.size() >= pb.size();
}

int CompareVersions(std::wstring_view a, std::wstring_view b) {
    const auto pa = SplitTokens(a, L".");
    const auto pb = SplitTokens(b, L".");
    const std::size_t shared = pa.size() < pb.size() ? pa.size() : pb.size();
    for (std::size_t i = 0; i < shared; ++i) {
        const std::int32_t x = TextToInt(pa[i]);
        const std::int32_t y = TextToInt(pb[i]);
        if (x > y) return 1;
        if (x < y) return -1;
    }
    return pa.size() > pb.size() ? 1 : 0;
}

}  // namespace util
