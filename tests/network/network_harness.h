// What the network tests share: a log capture, an owner window with a download sink that
// records what it is told, a bounded message-loop wait, and a scripted transport.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "network/download_sink.h"
#include "network/transfer.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "platform/window.h"
#include "util/log.h"

namespace velmo_test {

inline constexpr platform::UINT kSuccessMessage = platform::WM_APP + 101;
inline constexpr platform::UINT kFailureMessage = platform::WM_APP + 102;

// Every log line written while it lives.
class LogCapture {
public:
    LogCapture() {
        util::SetDebuggerOutput([this](std::wstring_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { util::SetDebuggerOutput(nullptr); }
    bool Contains(std::wstring_view text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& line : lines_)
            if (line.find(text) != std::wstring::npos) return true;
        return false;
    }
    int Count(std::wstring_view text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto& line : lines_)
            if (line.find(text) != std::wstring::npos) ++n;
        return n;
    }
    std::string Dump() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string all;
        for (const auto& line : lines_) all += platform::Utf8FromWide(line) + "\n";
        return all;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::wstring> lines_;
};

// The owner's window: records the messages posted to it and forwards the progress timer.
class OwnerWindow : public platform::MessageHandler {
public:
    OwnerWindow() { hwnd_ = platform::CreateWindowHandle(this); }
    ~OwnerWindow() { platform::DestroyWindow(hwnd_); }
    platform::HWND hwnd() const { return hwnd_; }

    std::function<void()> onProgressTimer;
    std::vector<platform::MSG> messages;

    // The first success or failure message, if any.
    const platform::MSG* Outcome() const {
        for (const auto& m : messages)
            if (m.message == kSuccessMessage || m.message == kFailureMessage) return &m;
        return nullptr;
    }

    platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam, bool& handled) override {
        if (message == platform::WM_TIMER) {
            if (wParam == network::kProgressTimerId && onProgressTimer) onProgressTimer();
            return 0;
        }
        if (message == platform::WM_DESTROY || message == platform::WM_NCDESTROY) {
            handled = false;
            return 0;
        }
        messages.push_back(platform::MSG{hwnd, message, wParam, lParam});
        return 0;
    }

private:
    platform::HWND hwnd_ = 0;
};

// A download sink that records its callbacks.
class RecordingSink : public network::DownloadSink {
public:
    explicit RecordingSink(velmo_test::OwnerWindow& owner,
                           std::shared_ptr<network::HttpTransport> transport = network::CurlTransport())
        : DownloadSink(owner.hwnd(), std::move(transport)) {
        owner.onProgressTimer = [this] { OnProgressTimer(); };
    }

    std::vector<int> responses, finished, timeouts, drains, fallbackProgress;
    std::vector<std::pair<int, int>> progress;  // (kind, value)

    using DownloadSink::CancelRequest;

protected:
    void OnRequestResponse(network::FCHttpRequest& r) override {
        responses.push_back(r.RequestId());
        DownloadSink::OnRequestResponse(r);
    }
    void OnRequestFinished(network::FCHttpRequest& r) override {
        finished.push_back(r.RequestId());
        DownloadSink::OnRequestFinished(r);
    }
    void OnRequestTimeout(network::FCHttpRequest& r) override { timeouts.push_back(r.RequestId()); }
    void OnRequestDrain(network::FCHttpRequest& r) override {
        drains.push_back(r.RequestId());
        DownloadSink::OnRequestDrain(r);
    }
    void OnDirazoraProgress(int value) override { fallbackProgress.push_back(value); }
    void ShowDownloadProgress(int kind, int value) override { progress.emplace_back(kind, value); }
};

// Runs the calling thread's messages until `done` holds or `limit` passed; true when done.
inline bool RunUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60)) {
    struct Ticker : platform::MessageHandler {
        platform::LRESULT WindowProc(platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM,
                                     bool&) override {
            return 0;
        }
    } ticker;
    platform::HWND hwnd = platform::CreateWindowHandle(&ticker);
    platform::SetTimer(hwnd, 1, 20);
    platform::MessageLoop* loop = platform::MessageLoop::Current();
    std::unique_ptr<platform::MessageLoop> own;
    if (!loop) {
        own = std::make_unique<platform::MessageLoop>();
        loop = own.get();
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    loop->RunUntil([&] { return done() || std::chrono::steady_clock::now() >= deadline; });
    platform::DestroyWindow(hwnd);
    return done();
}

// A download task of the shape the owners build.
inline network::HttpRequestTask DownloadTask(const std::wstring& url, int kind, const std::wstring& localFile,
                                             std::int64_t startOffset = 0) {
    network::HttpRequestTask task;
    task.url = url;
    task.startPosition = startOffset;
    task.context.downloadKind = kind;
    task.context.localFile = localFile;
    task.context.successMessage = kSuccessMessage;
    task.context.failureMessage = kFailureMessage;
    task.context.notify = true;
    task.context.startOffset = startOffset;
    if (!localFile.empty()) task.context.fileHandle = network::DownloadFile::Open(localFile, startOffset != 0);
    return task;
}

// A transport whose requests follow a script: a failing send, a send that blocks until the test
// releases it (ignoring Close, as a thread that does not return), a body in chunks.
class ScriptedTransport : public network::HttpTransport {
public:
    struct Script {
        bool sendFails = false;
        platform::DWORD sendError = network::ERROR_INTERNET_CANNOT_CONNECT;
        bool sendBlocksUntilReleased = false;
        platform::DWORD status = 200;
        std::wstring headers;  // raw block after the status line
        std::vector<std::string> chunks;
        bool bodyFails = false;  // the read after the last chunk fails
        bool bodyWaitsForClose = false;
    };

    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        Script script;
        std::vector<std::wstring> sentHeaders;
        bool released = false;
        int liveRequests = 0;
        int sendsEntered = 0;
    };

    explicit ScriptedTransport(Script script) : shared_(std::make_shared<Shared>()) { shared_->script = std::move(script); }

    const std::shared_ptr<Shared>& shared() const { return shared_; }
    void Release() {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->released = true;
        shared_->changed.notify_all();
    }
    // Evaluates `pred` on the shared state under its lock.
    bool Holds(const std::function<bool(const Shared&)>& pred) const {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return pred(*shared_);
    }
    // Waits (bounded) until `pred` holds on the shared state.
    bool WaitFor(const std::function<bool(const Shared&)>& pred, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        return shared_->changed.wait_for(lock, limit, [&] { return pred(*shared_); });
    }

    std::shared_ptr<network::TransferRequest> OpenRequest(const std::shared_ptr<network::TransferConnection>& connection,
                                                          std::wstring_view, std::wstring_view,
                                                          platform::DWORD) override {
        if (!connection) {
            platform::SetLastError(platform::ERROR_INVALID_HANDLE);
            return nullptr;
        }
        return std::make_shared<Request>(shared_);
    }

private:
    class Request : public network::TransferRequest {
    public:
        explicit Request(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            ++shared_->liveRequests;
        }
        ~Request() override {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            --shared_->liveRequests;
            shared_->changed.notify_all();
        }
        platform::DWORD SecurityFlags() const override { return flags_; }
        void SetSecurityFlags(platform::DWORD flags) override { flags_ = flags; }
        bool Send(std::wstring_view headers, std::string_view) override {
            std::unique_lock<std::mutex> lock(shared_->mutex);
            shared_->sentHeaders.emplace_back(headers);
            ++shared_->sendsEntered;
            shared_->changed.notify_all();
            if (shared_->script.sendBlocksUntilReleased)
                shared_->changed.wait(lock, [&] { return shared_->released; });
            if (shared_->script.sendFails) {
                platform::SetLastError(shared_->script.sendError);
                return false;
            }
            return true;
        }
        bool ReceiveResponse() override { return true; }
        platform::DWORD StatusCode() const override { return shared_->script.status; }
        std::wstring RawHeaders() const override {
            return L"HTTP/1.1 " + std::to_wstring(shared_->script.status) + L" X\r\n" + shared_->script.headers + L"\r\n";
        }
        bool QueryHeader(std::wstring_view name, std::wstring& value) const override {
            for (const std::wstring& line : Lines()) {
                auto colon = line.find(L':');
                if (colon != std::wstring::npos && platform::EqualsNoCase(line.substr(0, colon), name)) {
                    value = line.substr(colon + 2);
                    return true;
                }
            }
            return false;
        }
        bool QueryDataAvailable(std::size_t& available) override {
            available = next_ < shared_->script.chunks.size() ? shared_->script.chunks[next_].size() : 0;
            return true;
        }
        bool Read(void* buffer, std::size_t size, std::size_t& read) override {
            read = 0;
            if (next_ < shared_->script.chunks.size()) {
                const std::string& chunk = shared_->script.chunks[next_++];
                read = std::min(size, chunk.size());
                std::memcpy(buffer, chunk.data(), read);
                return true;
            }
            if (shared_->script.bodyWaitsForClose) {
                std::unique_lock<std::mutex> lock(shared_->mutex);
                shared_->changed.wait(lock, [&] { return closed_; });
                platform::SetLastError(network::ERROR_INTERNET_OPERATION_CANCELLED);
                return false;
            }
            if (shared_->script.bodyFails) {
                platform::SetLastError(network::ERROR_INTERNET_CONNECTION_RESET);
                return false;
            }
            return true;
        }
        void Close() override {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            closed_ = true;
            shared_->changed.notify_all();
        }

    private:
        std::vector<std::wstring> Lines() const {
            std::vector<std::wstring> lines;
            std::wstring_view rest = shared_->script.headers;
            while (!rest.empty()) {
                auto end = rest.find(L"\r\n");
                lines.emplace_back(rest.substr(0, end));
                if (end == std::wstring_view::npos) break;
                rest.remove_prefix(end + 2);
            }
            return lines;
        }
        std::shared_ptr<Shared> shared_;
        platform::DWORD flags_ = 0;
        std::size_t next_ = 0;
        bool closed_ = false;
    };

    std::shared_ptr<Shared> shared_;
};

}  // namespace velmo_test
