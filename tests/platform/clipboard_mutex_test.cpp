// The machine's clipboard and named mutexes across threads and processes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clipboard.h"
#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/mutex.h"
#include "support/temp_machine.h"

using namespace platform;

namespace {

using Clipboard = velmo_test::MachineTest;

TEST_F(Clipboard, SetGetAndEmpty) {
    std::wstring text = L"stale";
    ASSERT_TRUE(GetClipboardText(text));
    EXPECT_EQ(text, L"");  // a new machine's clipboard is empty

    const std::wstring guide = L"howtoTag:{\"id\":\"hearthview2024\",\"n\u00e4me\":\"\U0001F600\"}\r\nline 2";
    ASSERT_TRUE(SetClipboardText(guide));
    ASSERT_TRUE(GetClipboardText(text));
    EXPECT_EQ(text, guide);

    ASSERT_TRUE(SetClipboardText(std::wstring(L"cut here\0hidden", 15)));
    ASSERT_TRUE(GetClipboardText(text));
    EXPECT_EQ(text, L"cut here");

    ASSERT_TRUE(EmptyClipboard());
    ASSERT_TRUE(GetClipboardText(text));
    EXPECT_EQ(text, L"");
    EXPECT_TRUE(EmptyClipboard());  // emptying an empty clipboard is fine
}

TEST_F(Clipboard, ReadersNeverSeeAHalfWrittenText) {
    const std::wstring a(20000, L'a'), b(30000, L'b');
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop) {
            std::wstring text;
            if (!GetClipboardText(text) || !(text.empty() || text == a || text == b)) ++bad;
        }
    });
    std::thread writerA([&] {
        for (int i = 0; i < 100; ++i) SetClipboardText(a);
    });
    std::thread writerB([&] {
        for (int i = 0; i < 100; ++i) SetClipboardText(b);
    });
    writerA.join();
    writerB.join();
    stop = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    std::wstring last;
    ASSERT_TRUE(GetClipboardText(last));
    EXPECT_TRUE(last == a || last == b);
}

using NamedMutexTest = velmo_test::MachineTest;

TEST_F(NamedMutexTest, SecondHandleInTheProcessSeesTheFirst) {
    auto first = CreateNamedMutex(L"VelmoInstallerMutex");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    auto second = CreateNamedMutex(L"VelmoInstallerMutex");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    struct Case {
        const wchar_t* name;
        DWORD error;
    } cases[] = {
        {L"Local\\VelmoInstallerMutex", ERROR_ALREADY_EXISTS},  // the session's namespace is the default one
        {L"velmoinstallermutex", ERROR_SUCCESS},                // names are case-sensitive
        {L"Global\\VelmoInstallerMutex", ERROR_SUCCESS},
        {L"Other/name with\\odd:chars*", ERROR_SUCCESS},
        {L"", ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SetLastError(12345);
        auto h = CreateNamedMutex(c.name);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
    first.reset();
    EXPECT_NE(CreateNamedMutex(L"VelmoInstallerMutex"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // the second handle still holds the name
    second.reset();
    EXPECT_NE(CreateNamedMutex(L"VelmoInstallerMutex"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(NamedMutexTest, HeldByAnotherProcessUntilThatProcessIsKilled) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child takes the name through our own code and never releases it: only its death can.
        ::close(ready[0]);
        auto held = CreateNamedMutex(L"Local\\VelmoHeldElsewhere");
        char status = held && GetLastError() == ERROR_SUCCESS ? 'y' : 'n';
        if (::write(ready[1], &status, 1) != 1) ::_exit(2);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char status = 0;
    ASSERT_EQ(::read(ready[0], &status, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(status, 'y');

    auto probe = CreateNamedMutex(L"VelmoHeldElsewhere");
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    probe.reset();

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    auto after = CreateNamedMutex(L"VelmoHeldElsewhere");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(NamedMutexTest, OfManyRacingCreatorsExactlyOneSeesTheNameFree) {
    constexpr int kThreads = 8;
    std::atomic<int> free{0};
    std::vector<std::unique_ptr<NamedMutex>> handles(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            handles[i] = CreateNamedMutex(L"Raced");
            if (handles[i] && GetLastError() == ERROR_SUCCESS) ++free;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(free.load(), 1);
}

}  // namespace
