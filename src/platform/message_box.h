// Message boxes. A user interface installs a backend that shows them; without one (a run without
// a display, a test) a message box writes one line to stderr, "<caption>: <text>" in UTF-8 with
// every line break of the text turned into a blank, hands the same line to the observer (the log
// installs one), and answers with its default button at once.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/window.h"

namespace platform {

// Buttons (low four bits).
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_RETRYCANCEL = 0x00000005;
inline constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
inline constexpr UINT MB_TYPEMASK = 0x0000000F;
// Icons.
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0x000000F0;
// Default button.
inline constexpr UINT MB_DEFBUTTON1 = 0x00000000;
inline constexpr UINT MB_DEFBUTTON2 = 0x00000100;
inline constexpr UINT MB_DEFBUTTON3 = 0x00000200;
inline constexpr UINT MB_DEFBUTTON4 = 0x00000300;
inline constexpr UINT MB_DEFMASK = 0x00000F00;
// Modality and the rest (recorded for a backend; no effect without one).
inline constexpr UINT MB_APPLMODAL = 0x00000000;
inline constexpr UINT MB_SYSTEMMODAL = 0x00001000;
inline constexpr UINT MB_TASKMODAL = 0x00002000;
inline constexpr UINT MB_HELP = 0x00004000;
inline constexpr UINT MB_SETFOREGROUND = 0x00010000;
inline constexpr UINT MB_TOPMOST = 0x00040000;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDHELP = 9;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;

// Shows the box and returns the button pressed (an ID* value).
int MessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type);

// The answer of a box nobody can see: its default button (MB_DEFBUTTONn of the button set; a
// default past the last button, or the Help button, means the first button).
int DefaultButton(UINT type);

// The one line a box without a backend writes, without the line end.
std::wstring MessageBoxLine(std::wstring_view text, std::wstring_view caption);

using MessageBoxBackend = std::function<int(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type)>;
// Installs the user interface's backend (an empty function removes it). Called on the caller's thread.
void SetMessageBoxBackend(MessageBoxBackend backend);

using MessageBoxObserver = std::function<void(std::wstring_view line)>;
// Installs the observer of boxes shown without a backend (an empty function removes it).
void SetMessageBoxObserver(MessageBoxObserver observer);

}  // namespace platform
