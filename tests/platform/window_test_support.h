// A window whose handler is a lambda, for the window and message-loop tests.
#pragma once

#include <functional>
#include <utility>

#include "platform/window.h"
#include "support/temp_machine.h"

namespace velmo_test {

class TestWindow : public platform::MessageHandler {
public:
    using Handler = std::function<platform::LRESULT(platform::UINT, platform::WPARAM, platform::LPARAM, bool&)>;

    explicit TestWindow(Handler handler = {}) : handler_(std::move(handler)) { hwnd_ = platform::CreateWindowHandle(this); }
    ~TestWindow() {
        if (platform::IsWindow(hwnd_) && platform::GetWindowThreadId(hwnd_) != 0) platform::DestroyWindow(hwnd_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    platform::HWND hwnd() const { return hwnd_; }
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    platform::LRESULT WindowProc(platform::HWND, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam, bool& handled) override {
        if (!handler_) {
            handled = false;
            return 0;
        }
        return handler_(message, wParam, lParam, handled);
    }

private:
    Handler handler_;
    platform::HWND hwnd_ = 0;
};

// Every test leaves the thread's queue empty, so that a stray message or quit of one test (a
// failing one, typically) cannot decide the next.
class WindowFixture : public MachineTest {
protected:
    void TearDown() override {
        platform::MSG msg;
        while (platform::PeekMessage(msg, platform::PM_REMOVE)) {
        }
    }
};

}  // namespace velmo_test
