#include "network/http_request.h"

#include <algorithm>
#include <condition_variable>
#include <thread>
#include <vector>

#include "network/curl_fallback.h"
#include "platform/text.h"
#include "util/log.h"
#include "util/text_helpers.h"

namespace network {

namespace inner {

struct WorkerThread::State {
    mutable std::mutex mutex;
    mutable std::condition_variable ended;
    bool done = false;
};

void WorkerThread::Start(std::function<void()> body) {
    auto state = std::make_shared<State>();
    state_ = state;
    std::thread([state, body = std::move(body)]() mutable {
        body();
        body = nullptr;  // what the body kept alive is released before the end is reported
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->done = true;
        }
        state->ended.notify_all();
    }).detach();
}

bool WorkerThread::Running() const {
    if (!state_) return false;
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->done;
}

bool WorkerThread::WaitUntil(std::chrono::steady_clock::time_point deadline) const {
    if (!state_) return true;
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->ended.wait_until(lock, deadline, [&] { return state_->done; });
}

// What the worker threads touch. They hold it, so it outlives the request object if need be.
struct RequestShared {
    RequestShared(std::size_t capacity, std::size_t highWater) : buffer(capacity, highWater) {}
    int id = 0;
    HWND window = 0;
    HttpRequestTask task;
    UrlParts url;
    bool urlCracked = false;
    std::shared_ptr<HttpTransport> transport;
    CReceiveBuffer buffer;
    std::atomic<std::int64_t> received{0};
    std::atomic<int> kind{0};
    std::atomic<bool> aborted{false};
    std::atomic<bool> lastReadResult{false};
    std::atomic<long> fallbackStatus{-1};

    std::mutex handleMutex;
    std::shared_ptr<TransferSession> session;
    std::shared_ptr<TransferConnection> connection;
    std::shared_ptr<TransferRequest> request;

    std::shared_ptr<TransferRequest> Request() {
        std::lock_guard<std::mutex> lock(handleMutex);
        return request;
    }
};

}  // namespace inner

namespace {

const wchar_t* VerbText(int verbType) {
    switch (verbType) {
        case 1:
        case 2:
            return L"POST";
        case 3:
            return L"DELETE";
        default:
            return L"GET";
    }
}

std::int64_t ParseInt64(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (value > (INT64_MAX - 9) / 10) return value;
        value = value * 10 + (text[i] - L'0');
    }
    return value;
}

void RunConnectThread(const std::shared_ptr<inner::RequestShared>& s) {
    std::shared_ptr<TransferSession> session;
    {
        std::lock_guard<std::mutex> lock(s->handleMutex);
        session = s->session;
    }
    std::shared_ptr<TransferConnection> connection;
    if (s->urlCracked) connection = ConnectTransfer(session, s->url.host, s->url.port, s->url.secure());
    {
        std::lock_guard<std::mutex> lock(s->handleMutex);
        s->connection = connection;
    }
    platform::PostMessage(s->window, WM_HTTP_EVENT, static_cast<platform::WPARAM>(s->id), kHttpEventConnected);
}

void RunFallback(const std::shared_ptr<inner::RequestShared>& s) {
    if (s->task.context.fileHandle) s->task.context.fileHandle->Close();
    s->kind.store(kDownloadFallback);
    LoadSystemProxy();
    HWND window = s->window;
    std::weak_ptr<inner::RequestShared> weak = s;
    FallbackProgress progress = [window, weak](std::int64_t received, std::int64_t expected) -> int {
        auto shared = weak.lock();
        if (!shared || shared->aborted.load()) return 1;
        if (expected == 0) return 0;
        int percent = static_cast<int>((received * 100 / expected) % 100);
        if (percent != 0) platform::PostMessage(window, WM_HTTP_PROGRESS, static_cast<platform::WPARAM>(percent / 2), 0);
        return 0;
    };
    long status = CurlDownload(platform::Utf8FromWide(s->task.url), s->task.context.localFile, progress);
    s->fallbackStatus.store(status);
    util::LogDebug(L"Curl retry result:%d", static_cast<int>(status));
}

void RunReadThread(const std::shared_ptr<inner::RequestShared>& s) {
    std::wstring headers = s->task.customHeaders;
    if (s->task.startPosition != 0) headers += util::Format(L"Range: bytes=%lld-\r\n", s->task.startPosition);
    std::shared_ptr<TransferRequest> request = s->Request();
    platform::DWORD error = 0;
    if (!request) {
        error = platform::ERROR_INVALID_HANDLE;
    } else if (!request->SendRequest(headers, s->task.postData)) {
        error = platform::GetLastError();
        if (error == 0) error = ERROR_INTERNET_INTERNAL_ERROR;
    }
    if (error != 0) util::LogDebug(L"---------------------HttpSendRequest-----------------------  error:%d\n", error);

    if (error != 0) {
        // A request that was cancelled or shut down is not worth a second transfer.
        if (!s->aborted.load()) {
            util::LogDebug(L"Use curl retry! status error:%d", 0);
            RunFallback(s);
        }
    } else {
        platform::PostMessage(s->window, WM_HTTP_EVENT, static_cast<platform::WPARAM>(s->id), kHttpEventResponse);
        std::vector<char> chunk(kReadChunkBytes);
        bool ok = true;
        while (true) {
            std::size_t read = 0;
            ok = request->Read(chunk.data(), chunk.size(), read);
            if (!ok || read == 0) break;
            s->received.fetch_add(static_cast<std::int64_t>(read));
            auto stored = s->buffer.Append(std::string_view(chunk.data(), read));
            if (stored == inner::CReceiveBuffer::AppendResult::Closed) {
                ok = false;
                break;
            }
            if (stored == inner::CReceiveBuffer::AppendResult::StoredHigh)
                platform::PostMessage(s->window, WM_HTTP_EVENT, static_cast<platform::WPARAM>(s->id), kHttpEventDrain);
        }
        s->lastReadResult.store(ok);
    }
    platform::PostMessage(s->window, WM_HTTP_EVENT, static_cast<platform::WPARAM>(s->id), kHttpEventEnded);
}

}  // namespace

// ---- DownloadFile ----

std::shared_ptr<DownloadFile> DownloadFile::Open(std::wstring_view path, bool append) {
    platform::File file = platform::File::Open(path, platform::GENERIC_WRITE, platform::FILE_SHARE_READ,
                                               append ? platform::OPEN_ALWAYS : platform::CREATE_ALWAYS);
    if (!file.IsValid()) return nullptr;
    if (append && !file.Seek(0, platform::FILE_END)) return nullptr;
    return std::make_shared<DownloadFile>(std::move(file));
}

bool DownloadFile::IsValid() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.IsValid();
}

bool DownloadFile::Write(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.IsValid()) return false;
    std::size_t done = 0;
    // One host write is at most 2 GiB; large drains go in parts.
    while (done < bytes.size()) {
        std::size_t part = std::min<std::size_t>(bytes.size() - done, 1u << 30);
        if (!file_.Write(bytes.data() + done, part)) return false;
        done += part;
    }
    return true;
}

void DownloadFile::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    file_.Close();
}

// ---- FCHttpRequest ----

FCHttpRequest::FCHttpRequest(int id, HWND ownerWindow, const HttpRequestTask& task,
                             std::shared_ptr<HttpTransport> transport, std::size_t bufferCapacity,
                             std::size_t bufferHighWater)
    : shared_(std::make_shared<inner::RequestShared>(bufferCapacity, bufferHighWater)), startTick_(std::chrono::steady_clock::now()) {
    auto& s = *shared_;
    s.id = id;
    s.window = ownerWindow;
    s.task = task;
    s.kind.store(task.context.downloadKind);
    s.transport = std::move(transport);
    s.urlCracked = CrackUrl(s.task.url, s.url);

    SessionOptions options;
    options.userAgent = s.task.userAgent;
    if (!s.task.proxyHost.empty()) {
        options.access = ProxyAccess::Named;
        options.proxy = util::Format(L"%s:%d", s.task.proxyHost, s.task.proxyPort);
    }
    if (!s.task.proxyUserName.empty()) options.proxyUserName = s.task.proxyUserName;
    if (!s.task.proxyPassword.empty()) options.proxyPassword = s.task.proxyPassword;
    s.session = OpenTransferSession(std::move(options));

    std::shared_ptr<inner::RequestShared> keep = shared_;
    connectThread_.Start([keep] { RunConnectThread(keep); });
    if (s.task.timeoutMs != 0) platform::SetTimer(ownerWindow, static_cast<platform::UINT_PTR>(id), s.task.timeoutMs);
}

FCHttpRequest::~FCHttpRequest() {
    platform::KillTimer(shared_->window, static_cast<platform::UINT_PTR>(shared_->id));
    shared_->aborted.store(true);
    shared_->buffer.Close();
    std::lock_guard<std::mutex> lock(shared_->handleMutex);
    if (shared_->request) shared_->request->Close();
    if (shared_->connection) shared_->connection->Close();
    if (shared_->session) shared_->session->Close();
}

int FCHttpRequest::RequestId() const { return shared_->id; }
const HttpRequestTask& FCHttpRequest::Task() const { return shared_->task; }
int FCHttpRequest::DownloadKind() const { return shared_->kind.load(); }
std::int64_t FCHttpRequest::ReceivedBytes() const { return shared_->received.load(); }
const UrlParts& FCHttpRequest::Url() const { return shared_->url; }
void FCHttpRequest::DrainReceiveBuffer(std::string& out) { shared_->buffer.Drain(out); }

void FCHttpRequest::OnConnected(HttpTransport& transport) {
    auto& s = *shared_;
    std::shared_ptr<TransferConnection> connection;
    {
        std::lock_guard<std::mutex> lock(s.handleMutex);
        connection = s.connection;
    }
    platform::DWORD flags = s.task.openFlags;
    if (s.url.secure()) flags |= INTERNET_FLAG_SECURE;
    std::shared_ptr<TransferRequest> request =
        connection ? transport.OpenRequest(connection, VerbText(s.task.verbType), s.url.object, flags) : nullptr;
    if (request && s.url.secure()) request->SetSecurityFlags(request->SecurityFlags() | kIgnoreCertificateFlags);
    {
        std::lock_guard<std::mutex> lock(s.handleMutex);
        s.request = request;
    }
    std::shared_ptr<inner::RequestShared> keep = shared_;
    readThread_.Start([keep] { RunReadThread(keep); });
}

void FCHttpRequest::OnResponse() {
    std::shared_ptr<TransferRequest> request = shared_->Request();
    if (!request) return;
    response_.request = request;
    response_.statusCode = request->StatusCode();
    std::wstring text;
    response_.contentLength = request->QueryHeader(L"Content-Length", text) ? ParseInt64(text) : 0;
    if (request->QueryHeader(L"Last-Modified", text)) response_.lastModified = text;
    if (request->QueryHeader(L"Server", text)) response_.server = text;
    response_.rawHeaders = request->RawHeaders();
}

void FCHttpRequest::OnEnded() {
    response_.lastReadResult = shared_->lastReadResult.load();
    long fallback = shared_->fallbackStatus.load();
    if (fallback >= 0) response_.statusCode = static_cast<platform::DWORD>(fallback);
}

const inner::WorkerThread* FCHttpRequest::Unblock() {
    shared_->aborted.store(true);
    shared_->buffer.Close();
    std::lock_guard<std::mutex> lock(shared_->handleMutex);
    if (readThread_.Running()) {
        if (shared_->request) shared_->request->Close();
        return &readThread_;
    }
    if (connectThread_.Running()) {
        if (shared_->session) shared_->session->Close();
        return &connectThread_;
    }
    return nullptr;
}

bool FCHttpRequest::ThreadsEnded() const { return !connectThread_.Running() && !readThread_.Running(); }

// ---- FCHttpRequestManager ----

FCHttpRequestManager::FCHttpRequestManager(std::shared_ptr<HttpTransport> transport)
    : transport_(std::move(transport)) {
    window_ = platform::CreateWindowHandle(this);
    if (window_ == 0)
        util::LogError(L"The %s window cannot be created, error %d\r\n", kHttpEventWindowClass, platform::GetLastError());
}

FCHttpRequestManager::~FCHttpRequestManager() { Shutdown(); }

int FCHttpRequestManager::StartRequest(const HttpRequestTask& task) {
    if (!reaperRunning_) {
        platform::SetTimer(window_, kReaperTimerId, kReaperIntervalMs);
        reaperRunning_ = true;
    }
    int id = nextRequestId_++;
    running_.push_back(std::make_unique<FCHttpRequest>(id, window_, task, transport_, bufferCapacity_, bufferHighWater_));
    return id;
}

FCHttpRequest* FCHttpRequestManager::FindRequest(int id) const {
    for (const auto& request : running_)
        if (request->RequestId() == id) return request.get();
    return nullptr;
}

void FCHttpRequestManager::CancelRequest(int id) {
    for (auto it = running_.begin(); it != running_.end(); ++it) {
        if ((*it)->RequestId() != id) continue;
        (*it)->Unblock();
        finished_.push_back(std::move(*it));
        running_.erase(it);
        return;
    }
}

void FCHttpRequestManager::OnRequestResponse(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestFinished(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestTimeout(FCHttpRequest&) {}
void FCHttpRequestManager::OnDirazoraProgress(int) {}
void FCHttpRequestManager::OnRequestDrain(FCHttpRequest&) {}

platform::LRESULT FCHttpRequestManager::WindowProc(HWND, UINT message, platform::WPARAM wParam,
                                                   platform::LPARAM lParam, bool& handled) {
    switch (message) {
        case WM_HTTP_EVENT: {
            FCHttpRequest* request = FindRequest(static_cast<int>(wParam));
            if (!request) return 0;  // cancelled or timed out meanwhile
            switch (lParam) {
                case kHttpEventConnected:
                    request->OnConnected(*transport_);
                    break;
                case kHttpEventResponse:
                    request->OnResponse();
                    OnRequestResponse(*request);
                    break;
                case kHttpEventEnded:
                    request->OnEnded();
                    OnRequestFinished(*request);
                    CancelRequest(static_cast<int>(wParam));
                    break;
                case kHttpEventDrain:
                    OnRequestDrain(*request);
                    break;
                default:
                    break;
            }
            return 0;
        }
        case WM_HTTP_PROGRESS:
            OnDirazoraProgress(static_cast<int>(wParam));
            return 0;
        case platform::WM_TIMER:
            if (wParam == kReaperTimerId)
                OnReaperTick();
            else
                OnTimeoutTick(static_cast<int>(wParam));
            return 0;
        default:
            handled = false;
            return 0;
    }
}

void FCHttpRequestManager::OnReaperTick() {
    while (!running_.empty() || !finished_.empty()) {
        auto it = std::find_if(finished_.begin(), finished_.end(), [](const auto& r) { return r->ThreadsEnded(); });
        if (it == finished_.end()) break;
        finished_.erase(it);
    }
    if (running_.empty() && finished_.empty()) {
        platform::KillTimer(window_, kReaperTimerId);
        reaperRunning_ = false;
    }
}

void FCHttpRequestManager::OnTimeoutTick(int id) {
    platform::KillTimer(window_, static_cast<platform::UINT_PTR>(id));
    FCHttpRequest* request = FindRequest(id);
    if (!request) return;
    OnRequestTimeout(*request);
    CancelRequest(id);
}

void FCHttpRequestManager::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (window_ != 0) platform::DestroyWindow(window_);
    std::vector<const inner::WorkerThread*> threads;
    for (auto* list : {&running_, &finished_})
        for (const auto& request : *list)
        {
            request->Unblock();
            for (const inner::WorkerThread* thread : {&request->connectThread_, &request->readThread_})
                if (thread->Running()) threads.push_back(thread);
        }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(shutdownWaitMs_);
    std::size_t stillRunning = 0;
    for (const inner::WorkerThread* thread : threads)
        if (!thread->WaitUntil(deadline)) ++stillRunning;
    if (stillRunning != 0)
        util::LogDebug(L"Download manager shut down with %d transfer thread(s) still running\r\n",
                       static_cast<int>(stillRunning));
    // A thread that still runs holds its request's shared state; it ends on its own.
    running_.clear();
    finished_.clear();
    window_ = 0;
}

}  // namespace network
