#include "archive/entry_names.h"

#include "platform/text.h"

namespace archive {

std::wstring EntryNameFromUtf8(std::string_view utf8) {
    std::wstring name = platform::WideFromUtf8(utf8);
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    return name;
}

bool StaysInsideDestination(std::wstring_view name) {
    if (name.empty()) return true;
    if (name.front() == L'\\' || name.front() == L'/') return false;
    if (name.find(L':') != std::wstring_view::npos) return false;
    long depth = 0;
    std::size_t i = 0;
    while (i <= name.size()) {
        std::size_t j = name.find_first_of(L"\\/", i);
        if (j == std::wstring_view::npos) j = name.size();
        std::wstring_view part = name.substr(i, j - i);
        if (part == L"..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != L".") {
            ++depth;
        }
        i = j + 1;
    }
    return true;
}

}  // namespace archive
