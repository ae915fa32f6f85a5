// Windows and messages inside one process: handles, posting and sending across threads, timers,
// destruction, thread messages and the wake-up descriptor.
#include "platform/window.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "platform/machine.h"
#include "platform/process.h"
#include "platform/message_loop.h"
#include "support/temp_machine.h"
#include "window_test_support.h"

namespace {

using namespace platform;
using velmo_test::TestWindow;

class WindowTest : public velmo_test::WindowFixture {};

DWORD ThisThread() { return GetCurrentThreadId(); }  // the ids windows and thread messages use

TEST_F(WindowTest, HandleIsPositiveNonzeroAndOwnsASocketUntilDestroyed) {
    std::vector<UINT> seen;
    TestWindow window([&](UINT message, WPARAM, LPARAM, bool&) -> LRESULT {
        seen.push_back(message);
        // Still a window while its destruction messages run.
        EXPECT_TRUE(IsWindow(window.hwnd()));
        return 0;
    });
    const HWND hwnd = window.hwnd();
    ASSERT_NE(hwnd, 0u);
    EXPECT_LE(hwnd, 0x7FFFFFFFu);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(GetWindowThreadId(hwnd), ThisThread());
    const auto socket = MachineFile("run/windows") / std::to_string(hwnd);
    EXPECT_TRUE(std::filesystem::is_socket(socket));

    TestWindow other;
    EXPECT_NE(other.hwnd(), hwnd);

    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(seen, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowTest, AGoneWindowRefusesMessagesAndTimers) {
    TestWindow window;
    const HWND hwnd = window.hwnd();
    ASSERT_TRUE(PostMessage(hwnd, WM_APP, 0, 0));  // queued before destruction: dropped with it
    ASSERT_TRUE(DestroyWindow(hwnd));

    EXPECT_EQ(SendMessage(hwnd, WM_APP, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(PostMessage(hwnd, WM_APP, 0, 0));
    EXPECT_EQ(SetTimer(hwnd, 1, 10), 0u);
    EXPECT_FALSE(IsWindow(0));

    MSG msg;
    ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(DispatchMessage(msg), 0);
    EXPECT_FALSE(PeekMessage(msg, PM_REMOVE));
}

TEST_F(WindowTest, OnlyTheOwnerThreadDestroysAWindow) {
    TestWindow window;
    std::async(std::launch::async, [&] {
        EXPECT_FALSE(DestroyWindow(window.hwnd()));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }).get();
    EXPECT_TRUE(IsWindow(window.hwnd()));
}

TEST_F(WindowTest, UnhandledCloseDestroysTheWindow) {
    bool destroyed = false;
    TestWindow window([&](UINT message, WPARAM, LPARAM, bool& handled) -> LRESULT {
        if (message == WM_DESTROY) destroyed = true;
        handled = message == WM_DESTROY;
        return 0;
    });
    SendMessage(window.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(window.hwnd()));
}

TEST_F(WindowTest, MessagesPostedFromOtherThreadsArriveInOrderOnTheOwnerThread) {
    constexpr int kPerThread = 200;
    std::vector<std::pair<WPARAM, LPARAM>> seen;
    std::atomic<bool> wrongThread = false;
    const DWORD owner = ThisThread();
    TestWindow window([&](UINT message, WPARAM w, LPARAM l, bool&) -> LRESULT {
        if (ThisThread() != owner) wrongThread = true;
        if (message != WM_APP) return 0;
        seen.emplace_back(w, l);
        if (seen.size() == 2 * kPerThread) PostQuitMessage(0);
        return 0;
    });
    auto poster = [&](WPARAM tag) {
        for (int i = 0; i < kPerThread; ++i) ASSERT_TRUE(PostMessage(window.hwnd(), WM_APP, tag, i));
    };
    std::thread a(poster, 1), b(poster, 2);
    MessageLoop loop;
    EXPECT_EQ(loop.Run(), 0);
    a.join();
    b.join();

    EXPECT_FALSE(wrongThread);
    LPARAM next[3] = {0, 0, 0};
    for (auto [tag, value] : seen) EXPECT_EQ(value, next[tag]++) << "thread " << tag;
    EXPECT_EQ(next[1], kPerThread);
    EXPECT_EQ(next[2], kPerThread);
}

TEST_F(WindowTest, SendMessageFromAnotherThreadReturnsTheOwnersAnswer) {
    const DWORD owner = ThisThread();
    int* sharedCounter = nullptr;
    TestWindow window([&](UINT message, WPARAM w, LPARAM l, bool&) -> LRESULT {
        EXPECT_EQ(ThisThread(), owner);
        if (message == WM_APP) {
            // A pointer stays valid: the sender is blocked until this returns.
            ++*reinterpret_cast<int*>(l);
            return static_cast<LRESULT>(w) * 2;
        }
        if (message == WM_APP + 1) PostQuitMessage(static_cast<int>(w));
        return 0;
    });
    std::thread sender([&] {
        int counter = 0;
        sharedCounter = &counter;
        EXPECT_EQ(SendMessage(window.hwnd(), WM_APP, 21, reinterpret_cast<LPARAM>(&counter)), 42);
        EXPECT_EQ(SendMessage(window.hwnd(), WM_APP, 50, reinterpret_cast<LPARAM>(&counter)), 100);
        EXPECT_EQ(counter, 2);
        PostMessage(window.hwnd(), WM_APP + 1, 3, 0);
    });
    MessageLoop loop;
    EXPECT_EQ(loop.Run(), 3);
    sender.join();
}

// A thread blocked in SendMessage still answers messages sent to it, so A -> B -> A and two
// threads sending to each other at once both finish.
TEST_F(WindowTest, ThreadsWaitingInSendMessageAnswerEachOther) {
    TestWindow a;
    std::promise<HWND> bReady;
    std::promise<void> done;
    std::thread worker([&] {
        TestWindow b([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
            if (message == WM_APP) return SendMessage(a.hwnd(), WM_APP, w + 1, 0) + 1000;  // calls back
            if (message == WM_APP + 1) return SendMessage(a.hwnd(), WM_APP + 2, 0, 0);     // crossing send
            if (message == WM_APP + 3) PostQuitMessage(0);
            return 0;
        });
        bReady.set_value(b.hwnd());
        MessageLoop loop;
        loop.Run();
    });
    const HWND b = bReady.get_future().get();
    a.SetHandler([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
        EXPECT_NE(GetWindowThreadId(b), ThisThread());
        if (message == WM_APP) return static_cast<LRESULT>(w) * 10;
        if (message == WM_APP + 2) return 7;
        return 0;
    });
    EXPECT_EQ(SendMessage(b, WM_APP, 4, 0), 1050);
    EXPECT_EQ(SendMessage(b, WM_APP + 1, 0, 0), 7);
    PostMessage(b, WM_APP + 3, 0, 0);
    worker.join();
    EXPECT_FALSE(IsWindow(b));
}

TEST_F(WindowTest, WindowsOfAnEndedThreadAreGoneAndNobodyWaitsForThem) {
    HWND hwnd = 0;
    std::thread([&] {
        static struct : MessageHandler {
            LRESULT WindowProc(HWND, UINT, WPARAM, LPARAM, bool&) override { return 1; }
        } handler;
        hwnd = CreateWindowHandle(&handler);
    }).join();
    ASSERT_NE(hwnd, 0u);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(SendMessage(hwnd, WM_APP, 0, 0), 0);
    EXPECT_FALSE(std::filesystem::exists(MachineFile("run/windows") / std::to_string(hwnd)));
}

TEST_F(WindowTest, ThreadMessagesReachTheThreadsLoopWithoutAWindow) {
    std::promise<DWORD> id;
    std::thread worker([&] {
        MSG msg;
        PeekMessage(msg, PM_NOREMOVE);  // creates the queue, as on Windows
        id.set_value(ThisThread());
        ASSERT_TRUE(GetMessage(msg));
        EXPECT_EQ(msg.hwnd, 0u);
        EXPECT_EQ(msg.message, WM_APP + 7);
        EXPECT_EQ(msg.wParam, 8u);
        EXPECT_EQ(msg.lParam, -9);
        EXPECT_FALSE(GetMessage(msg));  // the posted WM_QUIT
        EXPECT_EQ(msg.message, WM_QUIT);
    });
    const DWORD tid = id.get_future().get();
    EXPECT_TRUE(PostThreadMessage(tid, WM_APP + 7, 8, -9));
    EXPECT_TRUE(PostThreadMessage(tid, WM_QUIT, 0, 0));
    worker.join();
    EXPECT_FALSE(PostThreadMessage(tid, WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

TEST_F(WindowTest, CopyDataCannotBePosted) {
    TestWindow window;
    COPYDATASTRUCT data{1, 0, nullptr};
    EXPECT_FALSE(PostMessage(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
    EXPECT_EQ(GetLastError(), ERROR_MESSAGE_SYNC_ONLY);
}

TEST_F(WindowTest, TimersFireOnlyWhenNothingIsPosted) {
    std::vector<std::pair<UINT, WPARAM>> seen;
    TestWindow window([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
        if (message == WM_TIMER || message == WM_APP) seen.emplace_back(message, w);
        if (message == WM_TIMER) {
            KillTimer(window.hwnd(), 5);
            KillTimer(window.hwnd(), 6);
            PostQuitMessage(0);
        }
        return 0;
    });
    ASSERT_NE(SetTimer(window.hwnd(), 5, 1), 0u);
    ASSERT_NE(SetTimer(window.hwnd(), 6, 1), 0u);
    // Both timers are due long before the loop starts; the posted messages still come first.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PostMessage(window.hwnd(), WM_APP, 1, 0);
    PostMessage(window.hwnd(), WM_APP, 2, 0);
    MessageLoop loop;
    loop.Run();
    ASSERT_EQ(seen.size(), 3u);  // the first WM_TIMER killed the other timer
    EXPECT_EQ(seen[0], std::make_pair(WM_APP, WPARAM{1}));
    EXPECT_EQ(seen[1], std::make_pair(WM_APP, WPARAM{2}));
    EXPECT_EQ(seen[2].first, WM_TIMER);
}

TEST_F(WindowTest, ATimerRepeatsUntilKilledAndSettingItAgainReplacesIt) {
    int ticks = 0;
    TestWindow window([&](UINT message, WPARAM w, LPARAM, bool&) -> LRESULT {
        if (message == WM_TIMER && w == 3 && ++ticks == 3) {
            EXPECT_TRUE(KillTimer(window.hwnd(), 3));
            PostQuitMessage(0);
        }
        return 0;
    });
    ASSERT_EQ(SetTimer(window.hwnd(), 3, 500), 3u);
    ASSERT_EQ(SetTimer(window.hwnd(), 3, 10), 3u);  // same id: the earlier interval is gone
    MessageLoop loop;
    loop.Run();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(KillTimer(window.hwnd(), 3));  // one timer only, and it is killed

    ASSERT_NE(SetTimer(window.hwnd(), 4, 10), 0u);
    DestroyWindow(window.hwnd());  // takes its timers with it
    EXPECT_EQ(TimeUntilNextTimer().count(), -1);
}

TEST_F(WindowTest, TheWakeDescriptorSignalsWorkFromOtherThreads) {
    std::vector<LPARAM> seen;
    TestWindow window([&](UINT message, WPARAM, LPARAM l, bool&) -> LRESULT {
        if (message == WM_APP) seen.push_back(l);
        return 0;
    });
    const int fd = GetQueueWakeFd();
    MSG msg;
    while (PeekMessage(msg, PM_REMOVE)) DispatchMessage(msg);
    std::thread([&] { PostMessage(window.hwnd(), WM_APP, 0, 11); }).join();
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, -1), 1);

    MessageLoop loop;
    auto due = loop.DispatchDue();
    EXPECT_FALSE(due.quit);
    EXPECT_EQ(seen, std::vector<LPARAM>{11});
    EXPECT_EQ(due.nextDue.count(), -1);  // no timers: wait for the descriptor only
    EXPECT_EQ(::poll(&p, 1, 0), 0);      // drained

    SetTimer(window.hwnd(), 1, 60000);
    due = loop.DispatchDue();
    EXPECT_GT(due.nextDue.count(), 0);

    PostQuitMessage(3010);
    EXPECT_EQ(::poll(&p, 1, -1), 1);
    due = loop.DispatchDue();
    EXPECT_TRUE(due.quit);
    EXPECT_EQ(due.exitCode, 3010);
}

}  // namespace
