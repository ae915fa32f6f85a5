// Windows addressed from another process: synchronous WM_COPYDATA in both directions, posting,
// and handles of processes that have ended. The other process is a fork() of this test that runs
// its own window and message loop; it reports its handle through a pipe and its verdict through
// its exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/machine.h"
#include "platform/message_loop.h"
#include "platform/window.h"
#include "support/temp_machine.h"
#include "window_test_support.h"

namespace {

using namespace platform;
using velmo_test::TestWindow;

class WindowIpcTest : public velmo_test::WindowFixture {};

constexpr UINT kPing = WM_APP + 10;   // child posts kPong back to wParam with lParam + 1
constexpr UINT kPong = WM_APP + 11;
constexpr ULONG_PTR kEcho = 1;        // child answers by sending "echo:<data>" back to the sender
constexpr ULONG_PTR kChecksum = 2;    // child answers with the sum of the bytes
constexpr ULONG_PTR kEchoAnswer = 3;

std::string Bytes(LPARAM lParam) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    return std::string(static_cast<const char*>(data->lpData), data->cbData);
}

LRESULT SendCopyData(HWND to, HWND from, ULONG_PTR command, const std::string& bytes) {
    COPYDATASTRUCT data{command, static_cast<DWORD>(bytes.size()), bytes.data()};
    return SendMessage(to, WM_COPYDATA, from, reinterpret_cast<LPARAM>(&data));
}

// A child process: creates a window with `handler`, writes its handle to the pipe, runs the
// loop (or not) and ends with `_exit`, never returning into the test framework.
class Child {
public:
    using Body = std::function<int(TestWindow& window)>;

    explicit Child(Body body) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            int code = 100;
            {
                TestWindow window;
                HWND hwnd = window.hwnd();
                if (::write(fds[1], &hwnd, sizeof hwnd) == sizeof hwnd) code = body(window);
            }
            ::_exit(code);
        }
        ::close(fds[1]);
        if (pid_ > 0 && ::read(fds[0], &hwnd_, sizeof hwnd_) != sizeof hwnd_) hwnd_ = 0;
        ::close(fds[0]);
    }
    ~Child() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    HWND hwnd() const { return hwnd_; }
    // The child's exit code, or -1 when it did not end normally.
    int Wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    HWND hwnd_ = 0;
    bool waited_ = false;
};

// The child's window: answers kEcho by sending back to the sender while the sender waits.
int RunServingChild(TestWindow& window) {
    int failures = 0;
    window.SetHandler([&](UINT message, WPARAM w, LPARAM l, bool& handled) -> LRESULT {
        switch (message) {
        case WM_COPYDATA: {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
            if (data->dwData == kEcho) {
                const HWND sender = static_cast<HWND>(w);
                const LRESULT answer = SendCopyData(sender, window.hwnd(), kEchoAnswer, "echo:" + Bytes(l));
                return answer + 1000;
            }
            if (data->dwData == kChecksum) {
                LRESULT sum = 0;
                for (unsigned char c : Bytes(l)) sum += c;
                return sum;
            }
            ++failures;
            return -1;
        }
        case kPing:
            if (!PostMessage(static_cast<HWND>(w), kPong, 0, l + 1)) ++failures;
            return 0;
        case WM_DESTROY:
            PostQuitMessage(failures);
            return 0;
        default:
            handled = false;  // WM_CLOSE destroys the window
            return 0;
        }
    });
    MessageLoop loop;
    return loop.Run();
}

TEST_F(WindowIpcTest, CopyDataTravelsSynchronouslyInBothDirections) {
    Child child(RunServingChild);
    ASSERT_NE(child.hwnd(), 0u);
    EXPECT_TRUE(IsWindow(child.hwnd()));

    std::string received;
    WPARAM receivedFrom = 0;
    TestWindow parent([&](UINT message, WPARAM w, LPARAM l, bool&) -> LRESULT {
        if (message == WM_COPYDATA && reinterpret_cast<const COPYDATASTRUCT*>(l)->dwData == kEchoAnswer) {
            received = Bytes(l);
            receivedFrom = w;
            return 77;
        }
        if (message == kPong) PostQuitMessage(static_cast<int>(l));
        return 0;
    });

    // The child's handler sends back to us while we wait for its answer; ours is part of it.
    EXPECT_EQ(SendCopyData(child.hwnd(), parent.hwnd(), kEcho, "{\"id\":\"a b\"} \xC3\xBC"), 1077);
    EXPECT_EQ(received, "echo:{\"id\":\"a b\"} \xC3\xBC");
    EXPECT_EQ(receivedFrom, child.hwnd());

    // Large data arrives whole; no data arrives as zero bytes.
    std::string big(3 << 20, '\0');
    LRESULT sum = 0;
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + 3);
        sum += static_cast<unsigned char>(big[i]);
    }
    EXPECT_EQ(SendCopyData(child.hwnd(), parent.hwnd(), kChecksum, big), sum);
    EXPECT_EQ(SendCopyData(child.hwnd(), parent.hwnd(), kChecksum, ""), 0);

    // A posted message with plain values, and a post back.
    ASSERT_TRUE(PostMessage(child.hwnd(), kPing, parent.hwnd(), 41));
    MessageLoop loop;
    EXPECT_EQ(loop.Run(), 42);

    COPYDATASTRUCT data{kEcho, 0, nullptr};
    EXPECT_FALSE(PostMessage(child.hwnd(), WM_COPYDATA, parent.hwnd(), reinterpret_cast<LPARAM>(&data)));
    EXPECT_EQ(GetLastError(), ERROR_MESSAGE_SYNC_ONLY);

    ASSERT_TRUE(PostMessage(child.hwnd(), WM_CLOSE, 0, 0));
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_FALSE(IsWindow(child.hwnd()));
}

// Socket paths longer than a socket address can hold (a prefix deep in a home folder) still work.
TEST_F(WindowIpcTest, WindowsOfADeepPrefixAreReachable) {
    UseMachine(machine_.root() / std::string(120, 'd') / "machine");
    Child child(RunServingChild);
    ASSERT_NE(child.hwnd(), 0u);
    ASSERT_GT((MachineFile("run/windows") / std::to_string(child.hwnd())).string().size(), 108u);
    EXPECT_TRUE(IsWindow(child.hwnd()));
    EXPECT_EQ(SendCopyData(child.hwnd(), 0, kChecksum, "\x01\x02"), 3);
    ASSERT_TRUE(PostMessage(child.hwnd(), WM_CLOSE, 0, 0));
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_FALSE(IsWindow(child.hwnd()));
}

TEST_F(WindowIpcTest, AHandleOfAProcessThatDiedIsNoWindow) {
    // The child ends without destroying its window: its socket file stays behind, unanswered.
    Child child([](TestWindow&) -> int { ::_exit(0); });
    const HWND hwnd = child.hwnd();
    ASSERT_NE(hwnd, 0u);
    ASSERT_EQ(child.Wait(), 0);
    ASSERT_TRUE(std::filesystem::exists(MachineFile("run/windows") / std::to_string(hwnd)));

    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(SendCopyData(hwnd, 0, kEcho, "x"), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(PostMessage(hwnd, WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowIpcTest, AWindowDestroyedWhileASendWaitsAnswersNoWindow) {
    Child child([](TestWindow& window) -> int {
        window.SetHandler([&](UINT message, WPARAM, LPARAM, bool&) -> LRESULT {
            if (message == WM_COPYDATA) {
                // Ends the process inside the call: the sender must not wait forever.
                ::_exit(0);
            }
            return 0;
        });
        MessageLoop loop;
        return loop.Run();
    });
    ASSERT_NE(child.hwnd(), 0u);
    EXPECT_EQ(SendCopyData(child.hwnd(), 0, kEcho, "x"), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
