#include "archive/archive_library_loader.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dynamic_library.h"
#include "util/log.h"

namespace archive {

void ArchiveLibrary::FreeString(sevenzip::BSTR text) const {
    if (!text) return;
    if (sysFreeString) {
        sysFreeString(text);
        return;
    }
    // Without the export: the library's layout, one malloc block holding a 32-bit byte count
    // followed by the text.
    std::free(reinterpret_cast<char*>(text) - sizeof(std::uint32_t));
}

void ArchiveLibrary::Clear(sevenzip::PROPVARIANT& value) const {
    if (value.vt == sevenzip::VT_BSTR) FreeString(value.bstrVal);
    value = sevenzip::PROPVARIANT{};
}

const ArchiveLibrary* LoadArchiveLibrary(std::wstring_view path) {
    static std::mutex mutex;
    static std::map<std::wstring, std::unique_ptr<ArchiveLibrary>, std::less<>> loaded;
    std::lock_guard lock(mutex);
    auto found = loaded.find(path);
    if (found != loaded.end()) return found->second.get();
    platform::HMODULE module = platform::LoadLibrary(path);
    if (!module) {
        util::LogError(L"cannot load the archive library %s, LastError: %d ", path, platform::GetLastError());
        return nullptr;
    }
    auto library = std::make_unique<ArchiveLibrary>();
    library->createObject =
        reinterpret_cast<sevenzip::CreateObjectFunc>(platform::GetProcAddress(module, "CreateObject"));
    library->sysFreeString =
        reinterpret_cast<sevenzip::SysFreeStringFunc>(platform::GetProcAddress(module, "SysFreeString"));
    const ArchiveLibrary* result = library.get();
    loaded.emplace(std::wstring(path), std::move(library));
    return result;
}

}  // namespace archive
