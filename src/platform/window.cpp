// Window table, per-thread queues, posting, sending and timers. The socket side is window_ipc.cpp.
#include "platform/window.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "platform/window_internal.h"

namespace platform {
namespace window_detail {
namespace {

struct WindowEntry {
    MessageHandler* handler;
    std::shared_ptr<ThreadQueue> queue;
    bool destroying = false;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<HWND, WindowEntry> windows;
    std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>> threads;
};

// Never destroyed (handlers may run from late thread-local destructors); a forked child gets a
// fresh one because the parent's threads, and the locks they might hold, do not exist there.
Table*& TablePtr() {
    static Table* table = new Table;
    return table;
}
Table& T() { return *TablePtr(); }

void EndThread(const std::shared_ptr<ThreadQueue>& queue);

// The calling thread's queue; ending the thread ends the queue and forgets its windows.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (queue) EndThread(queue);
    }
};
thread_local QueueHolder t_holder;

void EndThread(const std::shared_ptr<ThreadQueue>& queue) {
    std::vector<HWND> windows;
    {
        std::lock_guard lock(T().mutex);
        for (auto it = T().windows.begin(); it != T().windows.end();) {
            if (it->second.queue == queue) {
                windows.push_back(it->first);
                it = T().windows.erase(it);
            } else {
                ++it;
            }
        }
        T().threads.erase(queue->threadId);
    }
    for (HWND hwnd : windows) StopListening(hwnd);
    std::deque<std::shared_ptr<SentRequest>> pending;
    {
        std::lock_guard lock(queue->mutex);
        queue->dead = true;
        pending.swap(queue->sent);
        queue->posted.clear();
        queue->timers.clear();
    }
    for (auto& request : pending) CompleteRequest(*request, 0, ERROR_INVALID_WINDOW_HANDLE);
}

// The parent's state is left behind untouched in a forked child: its queues may hold requests
// whose answers belong to the parent.
std::vector<std::shared_ptr<ThreadQueue>>* g_forgottenQueues = nullptr;

void ForkPrepare() {
    T().mutex.lock();
    ServerForkPrepare();
}
void ForkParent() {
    ServerForkParent();
    T().mutex.unlock();
}
void ForkChild() {
    TablePtr() = new Table;  // the old one stays locked and is never used again
    if (!g_forgottenQueues) g_forgottenQueues = new std::vector<std::shared_ptr<ThreadQueue>>;
    if (t_holder.queue) g_forgottenQueues->push_back(std::move(t_holder.queue));
    ForgetServerAfterFork();
}
[[maybe_unused]] const bool g_forkHandlersRegistered = (::pthread_atfork(ForkPrepare, ForkParent, ForkChild), true);

// Calls the handler of a window of the calling thread. False when there is no such window.
bool CallHandler(const MSG& msg, LRESULT& result) {
    MessageHandler* handler = nullptr;
    {
        std::lock_guard lock(T().mutex);
        auto it = T().windows.find(msg.hwnd);
        if (it == T().windows.end() || it->second.queue != t_holder.queue) return false;
        handler = it->second.handler;
    }
    bool handled = true;
    result = handler->WindowProc(msg.hwnd, msg.message, msg.wParam, msg.lParam, handled);
    if (!handled) result = DefWindowProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    return true;
}

void WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, timeoutMs) < 0 && errno == EINTR) {
    }
}

int TimeoutMs(std::chrono::milliseconds wait) {
    if (wait.count() < 0) return -1;
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait.count(), 1 << 30));
}

}  // namespace

ThreadQueue::ThreadQueue()
    : threadId(static_cast<DWORD>(::gettid())), wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ThreadQueue::~ThreadQueue() {
    if (wakeFd >= 0) ::close(wakeFd);
}

void ThreadQueue::Wake() const {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
}

void ThreadQueue::DrainWake() const {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(wakeFd, &count, sizeof count);
}

SentRequest::~SentRequest() {
    if (replyFd >= 0) WriteReplyAndClose(replyFd, 0, ERROR_INVALID_WINDOW_HANDLE);
}

void CompleteRequest(SentRequest& request, LRESULT result, DWORD error) {
    if (request.sender) {
        request.result = result;
        request.error = error;
        {
            std::lock_guard lock(request.sender->mutex);
            request.done = true;
        }
        request.sender->Wake();
    } else if (request.replyFd >= 0) {
        WriteReplyAndClose(request.replyFd, result, error);
    }
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
    if (!t_holder.queue) {
        auto queue = std::make_shared<ThreadQueue>();
        std::lock_guard lock(T().mutex);
        T().threads[queue->threadId] = queue;
        t_holder.queue = std::move(queue);
    }
    return t_holder.queue;
}

std::shared_ptr<ThreadQueue> QueueOfWindow(HWND hwnd) {
    std::lock_guard lock(T().mutex);
    auto it = T().windows.find(hwnd);
    return it == T().windows.end() ? nullptr : it->second.queue;
}

bool IsLocalHandle(HWND hwnd) {
    std::lock_guard lock(T().mutex);
    return T().windows.count(hwnd) != 0;
}

bool QueueSentRequest(ThreadQueue& target, std::shared_ptr<SentRequest> request) {
    {
        std::lock_guard lock(target.mutex);
        if (target.dead) return false;
        target.sent.push_back(std::move(request));
    }
    target.Wake();
    return true;
}

void HandleSentMessages(ThreadQueue& self) {
    for (;;) {
        std::shared_ptr<SentRequest> request;
        {
            std::lock_guard lock(self.mutex);
            if (self.sent.empty()) return;
            request = std::move(self.sent.front());
            self.sent.pop_front();
        }
        LRESULT result = 0;
        bool found = CallHandler(request->msg, result);
        CompleteRequest(*request, found ? result : 0, found ? ERROR_SUCCESS : ERROR_INVALID_WINDOW_HANDLE);
    }
}

bool PostLocal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(T().mutex);
        auto it = T().windows.find(hwnd);
        if (it != T().windows.end()) {
            queue = it->second.queue;
            std::lock_guard queueLock(queue->mutex);
            if (queue->dead) {
                queue.reset();
            } else {
                queue->posted.push_back({{hwnd, message, wParam, lParam}, queue->nextSeq++});
            }
        }
    }
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    queue->Wake();
    return true;
}

PeekLimits LimitsNow() {
    auto self = CurrentQueue();
    std::lock_guard lock(self->mutex);
    return {self->nextSeq, Clock::now()};
}

bool PeekInternal(MSG& msg, bool remove, const PeekLimits* limits) {
    auto self = CurrentQueue();
    HandleSentMessages(*self);
    std::lock_guard lock(self->mutex);
    if (!self->posted.empty() && (!limits || self->posted.front().seq < limits->seqLimit)) {
        msg = self->posted.front().msg;
        if (remove) self->posted.pop_front();
        return true;
    }
    if (self->quitPosted) {
        msg = {0, WM_QUIT, static_cast<WPARAM>(static_cast<LPARAM>(self->quitCode)), 0};
        if (remove) self->quitPosted = false;
        return true;
    }
    const auto now = Clock::now();
    const auto dueBy = limits ? limits->timersDueBy : now;
    Timer* next = nullptr;
    for (Timer& timer : self->timers) {
        if (timer.due <= dueBy && (!next || timer.due < next->due)) next = &timer;
    }
    if (!next) return false;
    msg = {next->hwnd, WM_TIMER, next->id, 0};
    // One WM_TIMER per expiry, counted from its delivery: a slow handler never causes a burst.
    if (remove) next->due = now + std::chrono::milliseconds(next->intervalMs);
    return true;
}

}  // namespace window_detail

using namespace window_detail;

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

HWND CreateWindowHandle(MessageHandler* handler) {
    if (!handler) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto self = CurrentQueue();
    HWND hwnd = 0;
    int listenFd = -1;
    std::filesystem::path socketPath;
    if (!ClaimHandle(hwnd, listenFd, socketPath)) return 0;
    {
        std::lock_guard lock(T().mutex);
        T().windows.emplace(hwnd, WindowEntry{handler, self});
    }
    StartListening(hwnd, listenFd, socketPath);
    return hwnd;
}

bool DestroyWindow(HWND hwnd) {
    auto self = CurrentQueue();
    {
        std::lock_guard lock(T().mutex);
        auto it = T().windows.find(hwnd);
        if (it == T().windows.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        if (it->second.queue != self) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (it->second.destroying) return true;
        it->second.destroying = true;
    }
    LRESULT ignored = 0;
    CallHandler({hwnd, WM_DESTROY, 0, 0}, ignored);
    CallHandler({hwnd, WM_NCDESTROY, 0, 0}, ignored);
    {
        std::lock_guard lock(T().mutex);
        T().windows.erase(hwnd);
    }
    {
        std::lock_guard lock(self->mutex);
        std::erase_if(self->timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
    }
    StopListening(hwnd);
    return true;
}

bool IsWindow(HWND hwnd) {
    if (hwnd == 0) return false;
    if (IsLocalHandle(hwnd)) return true;
    return ForeignWindowAnswers(hwnd);
}

DWORD GetWindowThreadId(HWND hwnd) {
    auto queue = QueueOfWindow(hwnd);
    return queue ? queue->threadId : 0;
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return false;
    }
    if (hwnd == 0) return PostThreadMessage(CurrentQueue()->threadId, message, wParam, lParam);
    if (IsLocalHandle(hwnd)) return PostLocal(hwnd, message, wParam, lParam);
    return PostForeign(hwnd, message, wParam, lParam);
}

bool PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return false;
    }
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(T().mutex);
        auto it = T().threads.find(threadId);
        if (it != T().threads.end()) queue = it->second.lock();
        if (queue) {
            std::lock_guard queueLock(queue->mutex);
            if (queue->dead) {
                queue.reset();
            } else {
                queue->posted.push_back({{0, message, wParam, lParam}, queue->nextSeq++});
            }
        }
    }
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return false;
    }
    queue->Wake();
    return true;
}

void PostQuitMessage(int exitCode) {
    auto self = CurrentQueue();
    {
        std::lock_guard lock(self->mutex);
        self->quitPosted = true;
        self->quitCode = exitCode;
    }
    self->Wake();
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto self = CurrentQueue();
    auto target = QueueOfWindow(hwnd);
    if (!target) {
        if (hwnd == 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        LRESULT result = 0;
        return SendForeign(hwnd, message, wParam, lParam, result) ? result : 0;
    }
    if (target == self) {
        LRESULT result = 0;
        if (!CallHandler({hwnd, message, wParam, lParam}, result)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return result;
    }
    auto request = std::make_shared<SentRequest>();
    request->msg = {hwnd, message, wParam, lParam};
    request->sender = self;
    if (!QueueSentRequest(*target, request)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    for (;;) {
        self->DrainWake();
        HandleSentMessages(*self);
        {
            std::lock_guard lock(self->mutex);
            if (request->done) break;
        }
        WaitReadable(self->wakeFd, -1);
    }
    // The wait may have swallowed the wake-up of a posted message another event loop watches for.
    self->Wake();
    if (request->error != ERROR_SUCCESS) SetLastError(request->error);
    return request->result;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    auto queue = QueueOfWindow(hwnd);
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const UINT interval = std::max(elapseMs, USER_TIMER_MINIMUM);
    const auto due = Clock::now() + std::chrono::milliseconds(interval);
    {
        std::lock_guard lock(queue->mutex);
        auto it = std::find_if(queue->timers.begin(), queue->timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
        if (it != queue->timers.end()) {
            it->intervalMs = interval;
            it->due = due;
        } else {
            queue->timers.push_back({hwnd, id, interval, due});
        }
    }
    queue->Wake();
    return id != 0 ? id : 1;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
    auto queue = QueueOfWindow(hwnd);
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    std::size_t removed;
    {
        std::lock_guard lock(queue->mutex);
        removed = std::erase_if(queue->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    }
    if (removed == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    queue->Wake();
    return true;
}

bool GetMessage(MSG& msg) {
    auto self = CurrentQueue();
    for (;;) {
        if (PeekInternal(msg, true, nullptr)) break;
        // Drained before the last look, so whatever arrives after it leaves the descriptor readable.
        self->DrainWake();
        if (PeekInternal(msg, true, nullptr)) break;
        WaitReadable(self->wakeFd, TimeoutMs(TimeUntilNextTimer()));
    }
    return msg.message != WM_QUIT;
}

bool PeekMessage(MSG& msg, UINT removeFlags) { return PeekInternal(msg, (removeFlags & PM_REMOVE) != 0, nullptr); }

void WaitMessage() {
    auto self = CurrentQueue();
    MSG msg;
    for (;;) {
        if (PeekInternal(msg, false, nullptr)) return;
        self->DrainWake();
        if (PeekInternal(msg, false, nullptr)) return;
        WaitReadable(self->wakeFd, TimeoutMs(TimeUntilNextTimer()));
    }
}

LRESULT DispatchMessage(const MSG& msg) {
    if (msg.hwnd == 0) return 0;
    LRESULT result = 0;
    return CallHandler(msg, result) ? result : 0;
}

int GetQueueWakeFd() { return CurrentQueue()->wakeFd; }

std::chrono::milliseconds TimeUntilNextTimer() {
    auto self = CurrentQueue();
    std::lock_guard lock(self->mutex);
    if (self->timers.empty()) return std::chrono::milliseconds(-1);
    auto next = std::min_element(self->timers.begin(), self->timers.end(),
                                 [](const Timer& a, const Timer& b) { return a.due < b.due; })
                    ->due;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace platform
