// The machine's clipboard: Unicode text only. Kept in <prefix>/clipboard.txt (UTF-8), so the
// hand-over between a web guide and the installer works without a display. A user interface
// with a display may install its own backend.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// False when the clipboard cannot be opened; an empty clipboard gives true and an empty text.
bool GetClipboardText(std::wstring& text);
bool SetClipboardText(std::wstring_view text);
bool EmptyClipboard();

}  // namespace platform
