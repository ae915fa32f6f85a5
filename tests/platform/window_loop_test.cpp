// The message loop: WM_QUIT codes, message filters, idle handlers, pumping from inside a handler
// and WM_QUIT meeting nested loops.
#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/temp_machine.h"
#include "window_test_support.h"

namespace {

using namespace platform;
using velmo_test::TestWindow;

class MessageLoopTest : public velmo_test::WindowFixture {};

struct FunctionFilter : MessageFilter {
    std::function<bool(MSG&)> fn;
    bool PreTranslateMessage(MSG& msg) override { return fn(msg); }
};

struct FunctionIdle : IdleHandler {
    std::function<void()> fn;
    void OnIdle() override { fn(); }
};

TEST_F(MessageLoopTest, RunReturnsTheQuitCode) {
    for (int code : {0, 1, -1, 3010, 6016}) {
        MessageLoop loop;
        PostQuitMessage(code);
        EXPECT_EQ(loop.Run(), code);
    }
}

TEST_F(MessageLoopTest, QuitWaitsForMessagesPostedBeforeIt) {
    std::vector<WPARAM> seen;
    TestWindow window([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
        if (message == WM_APP) seen.push_back(w);
        return 0;
    });
    PostMessage(window.hwnd(), WM_APP, 1, 0);
    PostQuitMessage(4);
    PostMessage(window.hwnd(), WM_APP, 2, 0);
    MessageLoop loop;
    EXPECT_EQ(loop.Run(), 4);
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
}

TEST_F(MessageLoopTest, FiltersSeeMessagesNewestFirstAndASwallowedOneIsNotDispatched) {
    std::vector<std::string> trail;
    TestWindow window([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
        if (message == WM_APP) trail.push_back("window " + std::to_string(w));
        if (w == 3) PostQuitMessage(0);
        return 0;
    });
    MessageLoop loop;
    FunctionFilter older, newer;
    older.fn = [&](MSG& msg) {
        trail.push_back("older " + std::to_string(msg.wParam));
        return false;
    };
    newer.fn = [&](MSG& msg) {
        trail.push_back("newer " + std::to_string(msg.wParam));
        return msg.wParam == 2;  // swallow
    };
    loop.AddMessageFilter(&older);
    loop.AddMessageFilter(&newer);
    loop.AddMessageFilter(&newer);  // registered once
    for (WPARAM w : {1, 2, 3}) PostMessage(window.hwnd(), WM_APP, w, 0);
    loop.Run();
    EXPECT_EQ(trail, (std::vector<std::string>{"newer 1", "older 1", "window 1", "newer 2", "newer 3", "older 3",
                                               "window 3"}));
    EXPECT_TRUE(loop.RemoveMessageFilter(&older));
    EXPECT_FALSE(loop.RemoveMessageFilter(&older));
}

TEST_F(MessageLoopTest, AFilterMayRemoveItselfWhileBeingAsked) {
    int asked = 0;
    TestWindow window;
    MessageLoop loop;
    FunctionFilter once;
    once.fn = [&](MSG&) {
        ++asked;
        loop.RemoveMessageFilter(&once);
        return true;
    };
    loop.AddMessageFilter(&once);
    PostMessage(window.hwnd(), WM_APP, 0, 0);
    PostMessage(window.hwnd(), WM_APP, 0, 0);
    PostQuitMessage(0);
    loop.Run();
    EXPECT_EQ(asked, 1);
}

TEST_F(MessageLoopTest, IdleHandlersRunWhenTheQueueBecomesEmpty) {
    int handled = 0;
    std::vector<int> handledAtIdle;
    TestWindow window([&](UINT message, WPARAM, LPARAM, bool&) -> LRESULT {
        if (message == WM_APP) ++handled;
        return 0;
    });
    MessageLoop loop;
    FunctionIdle idle, second;
    int secondCalls = 0;
    idle.fn = [&] {
        handledAtIdle.push_back(handled);
        if (handledAtIdle.size() == 1) {
            PostMessage(window.hwnd(), WM_APP, 0, 0);  // another burst, then idle again
        } else {
            PostQuitMessage(0);
        }
    };
    second.fn = [&] { ++secondCalls; };
    loop.AddIdleHandler(&idle);
    loop.AddIdleHandler(&second);
    for (int i = 0; i < 3; ++i) PostMessage(window.hwnd(), WM_APP, 0, 0);
    loop.Run();
    EXPECT_EQ(handledAtIdle, (std::vector<int>{3, 4}));
    EXPECT_EQ(secondCalls, 2);
}

// Messages posted before the pump are dispatched inside it (through the filters); messages that
// handlers post meanwhile wait for the loop.
TEST_F(MessageLoopTest, PumpPendingInsideAHandlerDispatchesWhatWasPendingThen) {
    std::vector<std::string> trail;
    MessageLoop loop;
    int depth = 0;
    TestWindow window;
    window.SetHandler([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
        if (message != WM_APP) return 0;
        trail.push_back(std::string(depth, '>') + std::to_string(w));
        if (w == 1) {
            PostMessage(window.hwnd(), WM_APP, 4, 0);
            ++depth;
            EXPECT_TRUE(loop.PumpPending());
            --depth;
            trail.push_back("1 done");
        }
        if (w == 2) PostMessage(window.hwnd(), WM_APP, 5, 0);
        if (w == 5) PostQuitMessage(0);
        return 0;
    });
    FunctionFilter filter;
    filter.fn = [&](MSG& msg) {
        if (msg.message == WM_APP && msg.wParam == 3) {
            trail.push_back(std::string(depth, '>') + "3 swallowed");
            return true;
        }
        return false;
    };
    loop.AddMessageFilter(&filter);
    for (WPARAM w : {1, 2, 3}) PostMessage(window.hwnd(), WM_APP, w, 0);
    loop.Run();
    EXPECT_EQ(trail, (std::vector<std::string>{"1", ">2", ">3 swallowed", ">4", "1 done", "5"}));
}

TEST_F(MessageLoopTest, ATimerDueWhenPumpingFiresOnceInsideThePump) {
    int ticks = 0;
    bool pumped = false;
    MessageLoop loop;
    TestWindow window;
    window.SetHandler([&](UINT message, WPARAM, LPARAM, bool&) -> LRESULT {
        if (message == WM_TIMER) ++ticks;
        if (message == WM_APP) {
            SetTimer(window.hwnd(), 1, 10);
            while (TimeUntilNextTimer().count() > 0) WaitMessage();
            EXPECT_TRUE(loop.PumpPending());
            pumped = true;
            KillTimer(window.hwnd(), 1);
            PostQuitMessage(0);
        }
        return 0;
    });
    PostMessage(window.hwnd(), WM_APP, 0, 0);
    loop.Run();
    EXPECT_TRUE(pumped);
    EXPECT_EQ(ticks, 1);
}

// WM_QUIT met by an inner loop ends every loop out to the outermost Run, with its code.
TEST_F(MessageLoopTest, QuitInsideNestedLoopsEndsTheOutermostRun) {
    struct Case {
        const char* name;
        std::function<void(MessageLoop&)> inner;  // runs inside a handler, with a quit posted
    };
    const Case cases[] = {
        {"pump", [](MessageLoop& loop) { EXPECT_FALSE(loop.PumpPending()); }},
        {"free pump", [](MessageLoop&) { EXPECT_FALSE(PumpPendingMessages()); }},
        {"modal", [](MessageLoop& loop) { EXPECT_FALSE(loop.RunUntil([] { return false; })); }},
        {"nested run", [](MessageLoop& loop) { EXPECT_EQ(loop.Run(), 77); }},
        {"nested loop object", [](MessageLoop&) {
             MessageLoop modal;
             EXPECT_EQ(modal.Run(), 77);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageLoop loop;
        bool after = false;
        TestWindow window;
        window.SetHandler([&](UINT message, WPARAM, LPARAM, bool&) -> LRESULT {
            if (message == WM_APP) {
                PostMessage(window.hwnd(), WM_APP + 1, 0, 0);
                c.inner(loop);
            }
            if (message == WM_APP + 1) PostQuitMessage(77);
            if (message == WM_APP + 2) after = true;
            return 0;
        });
        PostMessage(window.hwnd(), WM_APP, 0, 0);
        EXPECT_EQ(loop.Run(), 77);
        EXPECT_FALSE(after);
        MSG msg;
        EXPECT_FALSE(PeekMessage(msg, PM_NOREMOVE));  // the quit was taken once, by the outer Run
    }
}

TEST_F(MessageLoopTest, RunUntilEndsWhenItsConditionHolds) {
    MessageLoop loop;
    bool closed = false;
    TestWindow dialog([&](UINT message, WPARAM, LPARAM, bool&) -> LRESULT {
        if (message == WM_COMMAND) closed = true;
        return 0;
    });
    PostMessage(dialog.hwnd(), WM_COMMAND, 1, 0);
    EXPECT_TRUE(loop.RunUntil([&] { return closed; }));
    MSG msg;
    EXPECT_FALSE(PeekMessage(msg, PM_NOREMOVE));
}

TEST_F(MessageLoopTest, CurrentIsTheInnermostLoopOfTheThread) {
    EXPECT_EQ(MessageLoop::Current(), nullptr);
    MessageLoop outer;
    EXPECT_EQ(MessageLoop::Current(), &outer);
    {
        MessageLoop inner;
        EXPECT_EQ(MessageLoop::Current(), &inner);
    }
    EXPECT_EQ(MessageLoop::Current(), &outer);
}

}  // namespace
