// Windows command lines: splitting (CommandLineToArgvW), quoting (its exact inverse) and the
// command line of this process.
//
// Splitting rules, as Windows applies them:
//   - The first token names the program. It begins with a quotation mark: it runs to the next
//     quotation mark (backslashes are plain characters there) and ends there. Otherwise it runs
//     to the first blank (space or tab).
//   - Every other argument: blanks outside quotes separate; a quotation mark toggles quoting;
//     inside quotes, two quotation marks give one literal mark and quoting goes on (the rules of
//     the 2008 and later runtimes); 2n backslashes before a mark give n backslashes and the mark
//     quotes; 2n+1 backslashes before a mark give n backslashes and a literal mark; backslashes
//     not before a mark are literal.
// An empty command line gives an empty list (this is a splitter, not this process's arguments).
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

struct ProcessArgs {
    std::mutex mutex;
    std::vector<std::wstring> args;
    bool initialized = false;
};

ProcessArgs& Args() {
    static ProcessArgs* args = new ProcessArgs;  // never destroyed: read by late destructors
    return *args;
}

std::wstring ModulePathFromHost() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return {};
    buffer.resize(static_cast<std::size_t>(n));
    return WindowsPathFromHost(std::filesystem::path(buffer));
}

}  // namespace

std::vector<std::wstring> CommandLineToArgv(std::wstring_view line) {
    std::vector<std::wstring> out;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) return out;

    std::wstring program;
    if (line[i] == L'"') {
        ++i;
        while (i < n && line[i] != L'"') program.push_back(line[i++]);
        if (i < n) ++i;  // the closing mark ends the token
    } else {
        while (i < n && !IsBlank(line[i])) program.push_back(line[i++]);
    }
    out.push_back(std::move(program));

    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool quoted = false;
        while (i < n) {
            wchar_t c = line[i];
            if (c == L'\\') {
                std::size_t count = 0;
                while (i < n && line[i] == L'\\') {
                    ++count;
                    ++i;
                }
                if (i < n && line[i] == L'"') {
                    arg.append(count / 2, L'\\');
                    if (count % 2 == 1) {
                        arg.push_back(L'"');
                        ++i;
                    }
                    // An even count leaves the mark for the quoting rules below.
                } else {
                    arg.append(count, L'\\');
                }
                continue;
            }
            if (c == L'"') {
                if (quoted && i + 1 < n && line[i + 1] == L'"') {
                    arg.push_back(L'"');
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            if (!quoted && IsBlank(c)) break;
            arg.push_back(c);
            ++i;
        }
        out.push_back(std::move(arg));
    }
    return out;
}

std::wstring QuoteArgument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    // Backslashes before the closing mark are doubled so that they stay literal.
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

// The program token has its own rules: no escapes, so it is quoted as a whole when it needs it.
// A quotation mark cannot occur in a program name (Windows file names exclude it); it is dropped.
static std::wstring QuoteProgram(std::wstring_view program) {
    std::wstring clean;
    for (wchar_t c : program) {
        if (c != L'"') clean.push_back(c);
    }
    if (clean.empty() || clean.find_first_of(L" \t") != std::wstring::npos) return L"\"" + clean + L"\"";
    return clean;
}

std::wstring BuildCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) out.push_back(L' ');
        out += i == 0 ? QuoteProgram(arguments[i]) : QuoteArgument(arguments[i]);
    }
    return out;
}

void InitProcess(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) args.push_back(WideFromUtf8(argv[i] ? argv[i] : ""));
    // The first token is always the module's own path in Windows form, whatever the caller typed:
    // Windows programs see the path they were started from, and relaunch logic relies on it.
    std::wstring module = ModulePathFromHost();
    if (module.empty() && !args.empty() && !args[0].empty()) module = GetFullPathName(args[0]);
    if (args.empty()) args.push_back(module);
    else if (!module.empty()) args[0] = module;
    ProcessArgs& state = Args();
    std::lock_guard lock(state.mutex);
    state.args = std::move(args);
    state.initialized = true;
}

std::wstring GetCommandLine() {
    ProcessArgs& state = Args();
    std::lock_guard lock(state.mutex);
    if (!state.initialized) {
        // Without InitProcess the program is still known; its arguments are not.
        return BuildCommandLine({ModulePathFromHost()});
    }
    return BuildCommandLine(state.args);
}

}  // namespace platform
