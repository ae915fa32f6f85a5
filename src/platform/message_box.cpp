#include "platform/message_box.h"

#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <mutex>

#include "platform/text.h"

namespace platform {
namespace {

struct Hooks {
    std::mutex mutex;
    MessageBoxBackend backend;
    MessageBoxObserver observer;
};

Hooks& TheHooks() {
    static Hooks* hooks = new Hooks;  // never destroyed: a box may come from a late destructor
    return *hooks;
}

// Button ids of each button set, left to right.
struct ButtonSet {
    int ids[3];
    int count;
};
constexpr ButtonSet kButtonSets[] = {
    {{IDOK}, 1},                          // MB_OK
    {{IDOK, IDCANCEL}, 2},                // MB_OKCANCEL
    {{IDABORT, IDRETRY, IDIGNORE}, 3},    // MB_ABORTRETRYIGNORE
    {{IDYES, IDNO, IDCANCEL}, 3},         // MB_YESNOCANCEL
    {{IDYES, IDNO}, 2},                   // MB_YESNO
    {{IDRETRY, IDCANCEL}, 2},             // MB_RETRYCANCEL
    {{IDCANCEL, IDTRYAGAIN, IDCONTINUE}, 3},  // MB_CANCELTRYCONTINUE
};

void WriteToStderr(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

int DefaultButton(UINT type) {
    const UINT set = type & MB_TYPEMASK;
    if (set >= std::size(kButtonSets)) return IDOK;
    const ButtonSet& buttons = kButtonSets[set];
    const int index = static_cast<int>((type & MB_DEFMASK) >> 8);
    return index < buttons.count ? buttons.ids[index] : buttons.ids[0];
}

std::wstring MessageBoxLine(std::wstring_view text, std::wstring_view caption) {
    std::wstring line(caption);
    line += L": ";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            line += L' ';
        } else {
            line += c;
        }
    }
    return line;
}

int MessageBox(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type) {
    MessageBoxBackend backend;
    MessageBoxObserver observer;
    {
        std::lock_guard lock(TheHooks().mutex);
        backend = TheHooks().backend;
        observer = TheHooks().observer;
    }
    if (backend) return backend(owner, text, caption, type);
    const std::wstring line = MessageBoxLine(text, caption);
    // One write call, so lines of several threads or processes never interleave.
    WriteToStderr(Utf8FromWide(line) + "\n");
    if (observer) observer(line);
    return DefaultButton(type);
}

void SetMessageBoxBackend(MessageBoxBackend backend) {
    std::lock_guard lock(TheHooks().mutex);
    TheHooks().backend = std::move(backend);
}

void SetMessageBoxObserver(MessageBoxObserver observer) {
    std::lock_guard lock(TheHooks().mutex);
    TheHooks().observer = std::move(observer);
}

}  // namespace platform
