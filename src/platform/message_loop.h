// The message loop of a thread: pre-translation filters, idle handlers, Run, nested pumping,
// and the two hooks through which another event loop (the Qt user interface) can drive the
// queue instead of Run.
//
// WM_QUIT and nesting: every loop that is not the outermost Run and meets WM_QUIT puts it back
// (PostQuitMessage with the same code) before it ends, as Windows's modal loops do, so a quit
// requested while a handler pumps, while a modal dialog runs or inside a nested Run ends every
// loop out to the outermost Run, which returns the code.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "platform/window.h"

namespace platform {

// Pre-translation: sees every message before it is dispatched; true swallows it.
class MessageFilter {
public:
    virtual bool PreTranslateMessage(MSG& msg) = 0;

protected:
    ~MessageFilter() = default;
};

// Called each time the queue becomes empty after a message was handled.
class IdleHandler {
public:
    virtual void OnIdle() = 0;

protected:
    ~IdleHandler() = default;
};

class MessageLoop {
public:
    // Becomes the calling thread's loop (Current()) until destroyed; the previous one comes back then.
    MessageLoop();
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // The calling thread's loop, or null.
    static MessageLoop* Current();

    // Filters are asked newest first, idle handlers called oldest first. Removing one (also from
    // inside a callback) takes effect at once; adding twice registers once.
    void AddMessageFilter(MessageFilter* filter);
    bool RemoveMessageFilter(MessageFilter* filter);
    void AddIdleHandler(IdleHandler* handler);
    bool RemoveIdleHandler(IdleHandler* handler);

    // Runs until WM_QUIT and returns its code.
    int Run();

    // A modal loop: runs until done() is true (checked after every message) or WM_QUIT arrives;
    // false on WM_QUIT, which is re-posted.
    bool RunUntil(const std::function<bool()>& done);

    // Dispatches (through the filters) everything pending when it is called: messages posted
    // before the call and timers due at the call; what handlers post meanwhile waits. For use
    // inside a handler. False when WM_QUIT was met (it is re-posted and pumping stops).
    bool PumpPending();

    // Offers a message to the filters (newest first); true when one swallowed it.
    bool PreTranslateMessage(MSG& msg);
    // Calls every idle handler.
    void OnIdle();

    // Hooks for another event loop. Watch WakeFd() for readability, call DispatchDue() when it is
    // readable and again after `nextDue` (a timer).
    int WakeFd() const;
    struct DueResult {
        bool quit = false;     // WM_QUIT was taken: the caller ends its loop with exitCode
        int exitCode = 0;
        // When to call again at the latest: zero when more is pending already, -1 ms for "only
        // when WakeFd is readable".
        std::chrono::milliseconds nextDue{-1};
    };
    // Dispatches what is due now (as PumpPending does), then calls the idle handlers when it
    // dispatched anything. WM_QUIT is consumed and reported, not re-posted.
    DueResult DispatchDue();

private:
    enum class PumpEnd { Drained, Quit };
    PumpEnd PumpDue(int& exitCode, bool& dispatchedAny);

    MessageLoop* previous_ = nullptr;
    int runDepth_ = 0;
    // Removal during a walk (also a nested one) nulls the entry; the outermost walk sweeps.
    std::vector<MessageFilter*> filters_;
    std::vector<IdleHandler*> idleHandlers_;
    int walkingFilters_ = 0;
    int walkingIdle_ = 0;
};

// PumpPending of the calling thread's loop, or plain dispatch without one.
bool PumpPendingMessages();

}  // namespace platform
