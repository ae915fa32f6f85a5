// Message boxes without a display (one stderr line, the observer, the default button) and with a
// user interface's backend.
#include "platform/message_box.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace platform;

// Everything written to fd 2 while it lives.
class StderrCapture {
public:
    StderrCapture() {
        path_ = std::filesystem::temp_directory_path() / ("velmo-stderr-" + std::to_string(::getpid()));
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(fd_, STDERR_FILENO);
    }
    ~StderrCapture() {
        Restore();
        std::filesystem::remove(path_);
    }
    std::string Text() {
        Restore();
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        ::close(fd_);
        saved_ = -1;
    }
    std::filesystem::path path_;
    int fd_ = -1;
    int saved_ = -1;
};

class MessageBoxTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetMessageBoxBackend({});
        SetMessageBoxObserver({});
    }
};

TEST_F(MessageBoxTest, WithoutABackendItWritesOneLineAndTellsTheObserver) {
    std::vector<std::wstring> observed;
    SetMessageBoxObserver([&](std::wstring_view line) { observed.emplace_back(line); });
    StderrCapture capture;
    const int answer = MessageBox(0, L"Another installation is running.\r\nPlease wait \u00FC\U0001F600",
                                  L"Velmo Installer", MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(capture.Text(), "Velmo Installer: Another installation is running. Please wait \xC3\xBC\xF0\x9F\x98\x80\n");
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(observed,
              std::vector<std::wstring>{L"Velmo Installer: Another installation is running. Please wait \u00FC\U0001F600"});
}

TEST_F(MessageBoxTest, WithoutABackendItAnswersTheDefaultButton) {
    struct Case {
        UINT type;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK},  // no second button: the first one
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO},
        {MB_RETRYCANCEL | MB_ICONERROR, IDRETRY},
        {MB_RETRYCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
        {MB_YESNO | MB_HELP | MB_DEFBUTTON3, IDYES},  // the Help button closes nothing
    };
    for (const Case& c : cases) {
        StderrCapture capture;
        EXPECT_EQ(MessageBox(0, L"t", L"c", c.type), c.answer) << std::hex << c.type;
        EXPECT_EQ(capture.Text(), "c: t\n");
    }
}

TEST_F(MessageBoxTest, ABackendShowsTheBoxInstead) {
    bool observed = false;
    SetMessageBoxObserver([&](std::wstring_view) { observed = true; });
    std::wstring shown;
    HWND shownOwner = 0;
    UINT shownType = 0;
    SetMessageBoxBackend([&](HWND owner, std::wstring_view text, std::wstring_view caption, UINT type) {
        shown = std::wstring(caption) + L"|" + std::wstring(text);
        shownOwner = owner;
        shownType = type;
        return IDNO;
    });
    StderrCapture capture;
    EXPECT_EQ(MessageBox(42, L"Retry?", L"Velmo Installer", MB_YESNO | MB_ICONWARNING), IDNO);
    EXPECT_EQ(capture.Text(), "");
    EXPECT_EQ(shown, L"Velmo Installer|Retry?");
    EXPECT_EQ(shownOwner, 42u);
    EXPECT_EQ(shownType, MB_YESNO | MB_ICONWARNING);
    EXPECT_FALSE(observed);
}

}  // namespace
