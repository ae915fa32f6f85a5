// Internals shared by window.cpp (handles, queues, dispatch), window_ipc.cpp (sockets) and
// message_loop.cpp. Not for use outside src/platform.
//
// Lock order: the window table's mutex may be held while taking a queue's mutex, never the other
// way round; the socket server's mutex is never held while taking either. No lock is held while
// a handler runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform::window_detail {

using Clock = std::chrono::steady_clock;

struct ThreadQueue;

// A message sent to another thread, or from another process, waiting for its owner thread.
struct SentRequest {
    MSG msg;
    // From another process: the WM_COPYDATA bytes and the structure lParam points at.
    std::string payload;
    COPYDATASTRUCT copyData;
    // Local sender: woken through its queue once `done` is set (guarded by the sender queue's mutex).
    std::shared_ptr<ThreadQueue> sender;
    bool done = false;
    LRESULT result = 0;
    DWORD error = ERROR_SUCCESS;
    // From another process: the connection the answer goes to (owned).
    int replyFd = -1;

    SentRequest() = default;
    SentRequest(const SentRequest&) = delete;
    SentRequest& operator=(const SentRequest&) = delete;
    // An answer never given (owner thread gone) reaches the other process as "no such window".
    ~SentRequest();
};

// Delivers the answer to the sender: wakes a local sender or writes it to the connection.
void CompleteRequest(SentRequest& request, LRESULT result, DWORD error);

struct PostedMessage {
    MSG msg;
    std::uint64_t seq;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT intervalMs;
    Clock::time_point due;
};

// One per thread that touches messages.
struct ThreadQueue {
    ThreadQueue();
    ~ThreadQueue();
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    void Wake() const;
    void DrainWake() const;

    const DWORD threadId;
    const int wakeFd;

    std::mutex mutex;  // guards everything below
    std::deque<PostedMessage> posted;
    std::deque<std::shared_ptr<SentRequest>> sent;
    std::vector<Timer> timers;
    std::uint64_t nextSeq = 0;
    bool quitPosted = false;
    int quitCode = 0;
    bool dead = false;  // the thread has ended: nothing is queued any more
};

std::shared_ptr<ThreadQueue> CurrentQueue();
std::shared_ptr<ThreadQueue> QueueOfWindow(HWND hwnd);
bool IsLocalHandle(HWND hwnd);

// Hands a request to its owner thread; false (request untouched) when that thread has ended.
bool QueueSentRequest(ThreadQueue& target, std::shared_ptr<SentRequest> request);
// Handles every message other threads or processes have sent to the calling thread.
void HandleSentMessages(ThreadQueue& self);
// Posts to a window of this process; false with the last error set when it is not one (or its thread ended).
bool PostLocal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// What a bounded pump may take: messages posted before `seqLimit`, timers due by `timersDueBy`.
struct PeekLimits {
    std::uint64_t seqLimit;
    Clock::time_point timersDueBy;
};
bool PeekInternal(MSG& msg, bool remove, const PeekLimits* limits);
PeekLimits LimitsNow();

// window_ipc.cpp ---------------------------------------------------------------------------

// Picks a free handle and binds its socket (listening). False with the last error set.
bool ClaimHandle(HWND& hwnd, int& listenFd, std::filesystem::path& socketPath);
// The socket server takes the listening socket and serves it until StopListening, which also
// removes the socket file.
void StartListening(HWND hwnd, int listenFd, const std::filesystem::path& socketPath);
void StopListening(HWND hwnd);

bool ForeignWindowAnswers(HWND hwnd);
// Request and answer over the window's socket; the caller keeps handling messages sent to its
// own thread meanwhile. False with the last error set when the window is unreachable.
bool SendForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
bool PostForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Writes an answer on a connection and closes it (errors ignored: the sender may be gone).
void WriteReplyAndClose(int& fd, LRESULT result, DWORD error);

// fork(): the server's state is locked across the fork; the child forgets the parent's server
// (its thread does not exist there) and closes the parent's listening sockets.
void ServerForkPrepare();
void ServerForkParent();
void ForgetServerAfterFork();

}  // namespace platform::window_detail
