// Windows and window messages: handles, posting, synchronous sending, timers, and the
// GetMessage/PeekMessage primitives that message loops (message_loop.h) are built from.
//
// Threads. A window belongs to the thread that created it; its handler is only ever called on
// that thread. Every thread that touches messages gets a queue on first use (posted messages,
// messages sent to it by other threads, its windows' timers, a quit flag) and a wake-up eventfd.
//
// Handles. Every window has a 32-bit handle in [1, 0x7FFFFFFF] (positive as a signed int too, so a
// handle survives a decimal round trip through a command line) that is unique within the machine
// prefix, and a listening local socket <prefix>/run/windows/<handle>, so other processes can
// address it. See docs/platform/windows.md for allocation and the socket protocol.
//
// Across processes, wParam and lParam travel as plain numbers, except for WM_COPYDATA, whose
// bytes travel and arrive behind a valid COPYDATASTRUCT for the duration of the call. Posting
// WM_COPYDATA fails (ERROR_MESSAGE_SYNC_ONLY) anywhere, as on Windows.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/errors.h"

namespace platform {

using HWND = std::uint32_t;  // 0 = no window
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;

inline constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
inline constexpr DWORD ERROR_MESSAGE_SYNC_ONLY = 1159;
inline constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_COPYDATA = 0x004A;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_CTLCOLORDLG = 0x0136;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// Windows raises shorter timer intervals to this.
inline constexpr UINT USER_TIMER_MINIMUM = 10;

struct MSG {
    HWND hwnd = 0;  // 0 for a thread message and WM_QUIT
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

struct COPYDATASTRUCT {
    ULONG_PTR dwData = 0;
    DWORD cbData = 0;
    const void* lpData = nullptr;
};

// What a window is made of: the controllers derive from it. `handled` comes in true; a handler
// that wants the default processing (DefWindowProc) sets it to false.
class MessageHandler {
public:
    virtual LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) = 0;

protected:
    ~MessageHandler() = default;
};

// The default processing: WM_CLOSE destroys the window; everything else answers 0.
LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Creates a window for `handler`, bound to the calling thread; no message is sent (the dialog
// layer sends WM_INITDIALOG itself). The handler must outlive the window. Returns 0 with the last
// error set when no handle or socket could be had.
HWND CreateWindowHandle(MessageHandler* handler);

// Owner thread only (else ERROR_ACCESS_DENIED): sends WM_DESTROY, then WM_NCDESTROY, after which
// the handle is gone and the handler is never called again (it may delete itself there). Its
// timers die with it; messages still queued for it are dropped. A thread that ends forgets its
// windows without calling their handlers.
bool DestroyWindow(HWND hwnd);

// A window of this process: it exists. A foreign handle: its socket accepts a connection.
bool IsWindow(HWND hwnd);
// The thread (GetCurrentThreadId form, i.e. the host's thread id) owning a window of this process, else 0.
DWORD GetWindowThreadId(HWND hwnd);

// Queues a message and returns at once; any thread. To a foreign window the message is handed to
// that process before the call returns (not handled yet).
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// A thread message (hwnd 0) to a thread of this process that has a queue.
bool PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Makes the calling thread's next GetMessage return false with `exitCode`, once nothing posted is pending.
void PostQuitMessage(int exitCode);

// Calls the window's handler and returns its answer. Same thread: a direct call. Another thread
// of this process or another process: the call is handled on the owner thread and the caller
// blocks; while blocked it still handles messages sent to its own thread (so A -> B -> A works).
// 0 with ERROR_INVALID_WINDOW_HANDLE when the window does not exist or vanished during the call.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Starts or replaces timer `id` of a window of this process (any thread): WM_TIMER with wParam = id
// arrives through the window's thread's loop, when nothing else is pending, every `elapseMs`
// (at least USER_TIMER_MINIMUM). Returns a nonzero value on success.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
bool KillTimer(HWND hwnd, UINT_PTR id);

// The calling thread's queue. Sent messages are handled inside both calls. Order of what they
// return: posted messages (FIFO), then WM_QUIT, then due timers.
// GetMessage blocks; it returns false for WM_QUIT (msg.wParam = exit code).
bool GetMessage(MSG& msg);
// PM_REMOVE or PM_NOREMOVE; false when nothing is pending.
bool PeekMessage(MSG& msg, UINT removeFlags);
// Blocks until something arrives in the calling thread's queue (sent messages are handled).
void WaitMessage();
// Calls the handler of msg.hwnd (default processing when unhandled); 0 for thread messages and
// windows that no longer exist.
LRESULT DispatchMessage(const MSG& msg);

// The calling thread's wake-up descriptor (an eventfd): readable whenever something was queued
// for the thread or its timers changed. Another event loop may watch it; whoever dispatches
// drains it. Valid for the thread's life.
int GetQueueWakeFd();
// Time until the calling thread's next timer is due (zero when one is due), or -1 ms without timers.
std::chrono::milliseconds TimeUntilNextTimer();

}  // namespace platform
