// The HTTP download manager: transfers on worker threads whose events reach the thread that owns
// the manager through a hidden message-only window.
//
// Threads. Each request has a connect thread and then a read thread. Everything else (opening
// the request, every callback, the timers, deletion) runs on the thread that constructed the
// manager, inside its message loop. A worker thread reaches that thread only by posting to the
// hidden window, and touches nothing but the request's shared state, which it keeps alive: a
// thread still running when its request is deleted (or when shutdown gives up on it after 3 s)
// ends on its own without touching freed memory.
//
// Ids start at 100, so that a request's time-out timer (id = request id) never meets the reaper
// timer (id 30).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "network/receive_buffer.h"
#include "network/transfer.h"
#include "platform/file.h"
#include "platform/window.h"

namespace network {

using platform::HWND;
using platform::UINT;

inline constexpr wchar_t kHttpEventWindowClass[] = L"ziravid_http_event_wnd";
inline constexpr UINT WM_HTTP_EVENT = 0x8030;     // WPARAM request id; LPARAM one of the events below
inline constexpr UINT WM_HTTP_PROGRESS = 0x8031;  // WPARAM fallback percentage / 2
inline constexpr platform::LPARAM kHttpEventConnected = 0;
inline constexpr platform::LPARAM kHttpEventResponse = 1;
inline constexpr platform::LPARAM kHttpEventEnded = 2;
// The receive buffer passed its high-water mark: the owner is asked to drain now.
inline constexpr platform::LPARAM kHttpEventDrain = 3;
inline constexpr platform::UINT_PTR kReaperTimerId = 30;
inline constexpr UINT kReaperIntervalMs = 100;
inline constexpr platform::DWORD kShutdownWaitMs = 3000;
inline constexpr int kFirstRequestId = 100;
inline constexpr std::size_t kReadChunkBytes = 262144;

inline constexpr platform::DWORD kDefaultOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES;
// The security flags the request adds for https: ignore revocation, unknown CA, wrong usage,
// invalid name, invalid date, weak signature. Certificates are verified all the same.
inline constexpr platform::DWORD kIgnoreCertificateFlags = 0x00013380;

// How the owner treats a transfer.
enum DownloadKind : int {
    kDownloadSingleFile = 1,
    kDownloadPackage = 2,
    kDownloadUriRequest = 3,
    kDownloadReportUpload = 4,
    kDownloadFallback = 5,
    kDownloadSelfUpdate = 6,
};

// The target file of a download, opened by the owner before the start. Shared by the owner and
// the read thread (which closes it when the fallback takes over), so every call is locked.
class DownloadFile {
public:
    explicit DownloadFile(platform::File file) : file_(std::move(file)) {}
    // Opens `path` for writing at its end (a resumed download) or truncated.
    static std::shared_ptr<DownloadFile> Open(std::wstring_view path, bool append);
    bool IsValid() const;
    bool Write(std::string_view bytes);
    void Close();

private:
    mutable std::mutex mutex_;
    platform::File file_;
};

struct DownloadContext {
    int downloadKind = 0;
    std::wstring localFile;
    UINT successMessage = 0;
    UINT failureMessage = 0;
    bool notify = false;
    std::int64_t startOffset = 0;
    std::shared_ptr<DownloadFile> fileHandle;  // null: none
};

struct HttpRequestTask {
    std::string postData;
    int verbType = 0;  // 0 GET, 1 and 2 POST, 3 DELETE
    std::wstring url;
    std::int64_t startPosition = 0;
    std::wstring userAgent = L"VEDIVIR";
    std::wstring customHeaders;
    platform::DWORD openFlags = kDefaultOpenFlags;
    UINT timeoutMs = 0;  // 0: none
    std::wstring proxyHost;
    int proxyPort = 80;
    std::wstring proxyUserName;
    std::wstring proxyPassword;
    DownloadContext context;
};

// Filled on the owner's thread when the response headers are in (and the read result at the end).
struct HttpResponseInfo {
    platform::DWORD statusCode = 0;
    std::int64_t contentLength = 0;
    std::wstring lastModified;
    std::wstring server;
    std::wstring rawHeaders;
    bool lastReadResult = false;
    std::shared_ptr<TransferRequest> request;
};

namespace inner {

// A worker thread that is never joined: it runs detached and reports its end, so a request can
// be deleted (or given up on) while it still runs.
class WorkerThread {
public:
    void Start(std::function<void()> body);
    bool Started() const { return state_ != nullptr; }
    bool Running() const;
    // True when it ended before the deadline (or never started).
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

struct RequestShared;

}  // namespace inner

class FCHttpRequestManager;

class FCHttpRequest {
public:
    FCHttpRequest(int id, HWND ownerWindow, const HttpRequestTask& task, std::shared_ptr<HttpTransport> transport,
                  std::size_t bufferCapacity = inner::CReceiveBuffer::kDefaultCapacity,
                  std::size_t bufferHighWater = inner::CReceiveBuffer::kDefaultHighWater);
    virtual ~FCHttpRequest();
    FCHttpRequest(const FCHttpRequest&) = delete;
    FCHttpRequest& operator=(const FCHttpRequest&) = delete;

    int RequestId() const;
    const HttpRequestTask& Task() const;
    // The task's download kind, or 5 once the fallback has taken the transfer over.
    int DownloadKind() const;
    const HttpResponseInfo& Response() const { return response_; }
    std::int64_t ReceivedBytes() const;
    std::chrono::steady_clock::time_point StartTick() const { return startTick_; }
    const UrlParts& Url() const;
    // Moves every buffered byte to `out` (replacing its content).
    void DrainReceiveBuffer(std::string& out);

private:
    friend class FCHttpRequestManager;

    void OnConnected(HttpTransport& transport);
    void OnResponse();
    void OnEnded();
    // Unblocks its threads; the thread to wait for, or null.
    const inner::WorkerThread* Unblock();
    bool ThreadsEnded() const;

    std::shared_ptr<inner::RequestShared> shared_;
    std::chrono::steady_clock::time_point startTick_;
    HttpResponseInfo response_;
    inner::WorkerThread connectThread_;
    inner::WorkerThread readThread_;
};

class FCHttpRequestManager : private platform::MessageHandler {
public:
    explicit FCHttpRequestManager(std::shared_ptr<HttpTransport> transport = CurlTransport());
    virtual ~FCHttpRequestManager();
    FCHttpRequestManager(const FCHttpRequestManager&) = delete;
    FCHttpRequestManager& operator=(const FCHttpRequestManager&) = delete;

    int StartRequest(const HttpRequestTask& task);
    FCHttpRequest* FindRequest(int id) const;
    void CancelRequest(int id);

    HWND EventWindow() const { return window_; }

    // Capacity and high-water mark of the receive buffers of requests started from now on (the
    // download benchmark compares against an unbounded buffer this way).
    void SetReceiveBufferLimits(std::size_t capacity, std::size_t highWater) {
        bufferCapacity_ = capacity;
        bufferHighWater_ = highWater;
    }
    // Requests not deleted yet (running and finished), for owners that wait for a quiet manager.
    std::size_t LiveRequestCount() const { return running_.size() + finished_.size(); }

protected:
    virtual void OnRequestResponse(FCHttpRequest& request);
    virtual void OnRequestFinished(FCHttpRequest& request);
    virtual void OnRequestTimeout(FCHttpRequest& request);
    virtual void OnDirazoraProgress(int value);
    // The request's receive buffer passed its high-water mark.
    virtual void OnRequestDrain(FCHttpRequest& request);

    // Destroys the hidden window, unblocks every request, waits at most 3 s for their threads
    // together and deletes every request; threads still running end on their own. The destructor
    // calls it; an owner calls it first in its own destructor so that nothing of it runs later.
    void Shutdown();

private:
    platform::LRESULT WindowProc(HWND hwnd, UINT message, platform::WPARAM wParam, platform::LPARAM lParam,
                                 bool& handled) override;
    void OnReaperTick();
    void OnTimeoutTick(int id);

    std::list<std::unique_ptr<FCHttpRequest>> running_;
    std::list<std::unique_ptr<FCHttpRequest>> finished_;
    HWND window_ = 0;
    platform::DWORD shutdownWaitMs_ = kShutdownWaitMs;
    int nextRequestId_ = kFirstRequestId;
    std::shared_ptr<HttpTransport> transport_;
    std::size_t bufferCapacity_ = inner::CReceiveBuffer::kDefaultCapacity;
    std::size_t bufferHighWater_ = inner::CReceiveBuffer::kDefaultHighWater;
    bool reaperRunning_ = false;
    bool shutDown_ = false;
};

}  // namespace network
