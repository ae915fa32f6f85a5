#include "platform/message_loop.h"

#include <algorithm>

#include "platform/window_internal.h"

namespace platform {
namespace {

thread_local MessageLoop* t_current = nullptr;
// Loops running on this thread (Run, RunUntil, and an outer event loop inside DispatchDue): a
// loop that ends on WM_QUIT while another runs below it re-posts the quit.
thread_local int t_loopDepth = 0;

struct LoopDepth {
    LoopDepth() { ++t_loopDepth; }
    ~LoopDepth() { --t_loopDepth; }
};

// Entries removed while a list is being walked are nulled and swept once no walk is left, so a
// callback may remove itself or others (or pump, walking again) without invalidating a walk.
template <typename T>
bool RemoveFrom(std::vector<T*>& list, T* entry, int walking) {
    auto it = std::find(list.begin(), list.end(), entry);
    if (!entry || it == list.end()) return false;
    if (walking > 0) {
        *it = nullptr;
    } else {
        list.erase(it);
    }
    return true;
}

template <typename T>
struct Walk {
    Walk(std::vector<T*>& list, int& walking) : list(list), walking(walking) { ++walking; }
    ~Walk() {
        if (--walking == 0) std::erase(list, nullptr);
    }
    std::vector<T*>& list;
    int& walking;
};

}  // namespace

MessageLoop::MessageLoop() : previous_(t_current) { t_current = this; }

MessageLoop::~MessageLoop() {
    if (t_current == this) t_current = previous_;
}

MessageLoop* MessageLoop::Current() { return t_current; }

void MessageLoop::AddMessageFilter(MessageFilter* filter) {
    if (filter && std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) filters_.push_back(filter);
}

bool MessageLoop::RemoveMessageFilter(MessageFilter* filter) { return RemoveFrom(filters_, filter, walkingFilters_); }

void MessageLoop::AddIdleHandler(IdleHandler* handler) {
    if (handler && std::find(idleHandlers_.begin(), idleHandlers_.end(), handler) == idleHandlers_.end()) {
        idleHandlers_.push_back(handler);
    }
}

bool MessageLoop::RemoveIdleHandler(IdleHandler* handler) {
    return RemoveFrom(idleHandlers_, handler, walkingIdle_);
}

bool MessageLoop::PreTranslateMessage(MSG& msg) {
    Walk walk(filters_, walkingFilters_);
    // Newest first; filters added meanwhile are not asked about this message.
    for (std::size_t i = filters_.size(); i-- > 0;) {
        MessageFilter* filter = filters_[i];
        if (filter && filter->PreTranslateMessage(msg)) return true;
    }
    return false;
}

void MessageLoop::OnIdle() {
    Walk walk(idleHandlers_, walkingIdle_);
    const std::size_t count = idleHandlers_.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (IdleHandler* handler = idleHandlers_[i]) handler->OnIdle();
    }
}

int MessageLoop::Run() {
    LoopDepth depth;
    bool doIdle = true;
    MSG msg;
    for (;;) {
        if (doIdle && !PeekMessage(msg, PM_NOREMOVE)) {
            OnIdle();
            doIdle = false;
        }
        if (!GetMessage(msg)) break;
        if (!PreTranslateMessage(msg)) DispatchMessage(msg);
        doIdle = true;
    }
    const int code = static_cast<int>(static_cast<LPARAM>(msg.wParam));
    if (t_loopDepth > 1) PostQuitMessage(code);
    return code;
}

bool MessageLoop::RunUntil(const std::function<bool()>& done) {
    LoopDepth depth;
    bool doIdle = true;
    MSG msg;
    while (!done()) {
        if (doIdle && !PeekMessage(msg, PM_NOREMOVE)) {
            OnIdle();
            doIdle = false;
            if (done()) break;
        }
        if (!GetMessage(msg)) {
            PostQuitMessage(static_cast<int>(static_cast<LPARAM>(msg.wParam)));
            return false;
        }
        if (!PreTranslateMessage(msg)) DispatchMessage(msg);
        doIdle = true;
    }
    return true;
}

MessageLoop::PumpEnd MessageLoop::PumpDue(int& exitCode, bool& dispatchedAny) {
    const window_detail::PeekLimits limits = window_detail::LimitsNow();
    MSG msg;
    while (window_detail::PeekInternal(msg, true, &limits)) {
        if (msg.message == WM_QUIT) {
            exitCode = static_cast<int>(static_cast<LPARAM>(msg.wParam));
            return PumpEnd::Quit;
        }
        dispatchedAny = true;
        if (!PreTranslateMessage(msg)) DispatchMessage(msg);
    }
    return PumpEnd::Drained;
}

bool MessageLoop::PumpPending() {
    int code = 0;
    bool any = false;
    if (PumpDue(code, any) == PumpEnd::Quit) {
        PostQuitMessage(code);
        return false;
    }
    return true;
}

int MessageLoop::WakeFd() const { return GetQueueWakeFd(); }

MessageLoop::DueResult MessageLoop::DispatchDue() {
    DueResult result;
    window_detail::CurrentQueue()->DrainWake();
    {
        LoopDepth depth;
        bool any = false;
        if (PumpDue(result.exitCode, any) == PumpEnd::Quit) {
            result.quit = true;
            return result;
        }
        if (any) OnIdle();
    }
    MSG msg;
    result.nextDue = PeekMessage(msg, PM_NOREMOVE) ? std::chrono::milliseconds(0) : TimeUntilNextTimer();
    return result;
}

bool PumpPendingMessages() {
    if (MessageLoop* loop = MessageLoop::Current()) return loop->PumpPending();
    const window_detail::PeekLimits limits = window_detail::LimitsNow();
    MSG msg;
    while (window_detail::PeekInternal(msg, true, &limits)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(static_cast<LPARAM>(msg.wParam)));
            return false;
        }
        DispatchMessage(msg);
    }
    return true;
}

}  // namespace platform
