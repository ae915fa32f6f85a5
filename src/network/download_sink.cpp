#include "network/download_sink.h"

#include <algorithm>

#include "platform/file.h"
#include "util/log.h"

namespace network {

namespace {

bool IsTransferStatus(platform::DWORD status) { return status == 200 || status == 201 || status == 206; }

void Post(HWND window, const DownloadContext& context, bool success, platform::DWORD status) {
    if (!context.notify) return;
    UINT message = success ? context.successMessage : context.failureMessage;
    if (message != 0) platform::PostMessage(window, message, success ? 0 : static_cast<platform::WPARAM>(status), 0);
}

}  // namespace

DownloadSink::DownloadSink(HWND ownerWindow, std::shared_ptr<HttpTransport> transport)
    : FCHttpRequestManager(std::move(transport)), owner_(ownerWindow) {}

DownloadSink::~DownloadSink() {
    // No callback may reach this object once its members are gone.
    Shutdown();
    platform::KillTimer(owner_, kProgressTimerId);
}

int DownloadSink::ProgressPercent(int kind, std::int64_t startOffset, std::int64_t received,
                                  std::int64_t contentLength) {
    if (contentLength <= 0) return 0;
    std::int64_t percent = ((startOffset + received) * 100 / (contentLength + startOffset)) % 100;
    return static_cast<int>(kind == kDownloadPackage ? percent / 2 : percent);
}

void DownloadSink::OnRequestResponse(FCHttpRequest& request) {
    const HttpResponseInfo& response = request.Response();
    const DownloadContext& context = request.Task().context;
    util::LogDebug(L"File content length: %lld, Http response Code %d:\r\n", response.contentLength,
                   response.statusCode);
    if (IsTransferStatus(response.statusCode)) {
        if (request.DownloadKind() == kDownloadSingleFile && statisticId_.empty() && response.request) {
            std::wstring id;
            if (response.request->QueryHeader(L"x-statistic-id", id) && !id.empty()) statisticId_ = id;
        }
        progressRequestId_ = request.RequestId();
        platform::SetTimer(owner_, kProgressTimerId, response.contentLength < kLargeTransferBytes ? 100 : 500);
        return;
    }
    platform::DWORD status = response.statusCode;
    util::LogDebug(L"Ticket send status:%d.", status);
    util::LogDebug(L"HTTP Response Code: %d.\r\n", status);
    AddReportTag(util::Format(L"HttpCode-%d", status));
    platform::KillTimer(owner_, kProgressTimerId);
    CancelRequest(request.RequestId());
    util::LogDebug(L"Header url: %s\r\n", request.Task().url);
    if (context.fileHandle) context.fileHandle->Close();
    if (status == 416) {
        bool deleted = platform::DeleteFile(context.localFile);
        util::LogDebug(L"Delete the temp file: %s, ret : %d\r\n", context.localFile, deleted ? 1 : 0);
    }
    Post(owner_, context, false, status);
}

void DownloadSink::OnProgressTimer() {
    FCHttpRequest* request = FindRequest(progressRequestId_);
    if (!request) {
        platform::KillTimer(owner_, kProgressTimerId);
        return;
    }
    int kind = request->DownloadKind();
    const DownloadContext& context = request->Task().context;
    std::int64_t length = request->Response().contentLength;
    if ((kind == kDownloadPackage || kind == kDownloadSelfUpdate) && length > 0)
        ShowDownloadProgress(kind, ProgressPercent(kind, context.startOffset, request->ReceivedBytes(), length));
    if (kind == kDownloadSingleFile || (kind == kDownloadPackage && context.fileHandle && context.fileHandle->IsValid()))
        DrainToTarget(*request, false);
}

void DownloadSink::OnRequestDrain(FCHttpRequest& request) { DrainToTarget(request, true); }

void DownloadSink::DrainToTarget(FCHttpRequest& request, bool early) {
    int kind = request.DownloadKind();
    const DownloadContext& context = request.Task().context;
    if (kind == kDownloadFallback) return;
    request.DrainReceiveBuffer(drained_);
    if (kind == kDownloadUriRequest || kind == kDownloadReportUpload) {
        responseBuffer_ += drained_;
    } else if (context.fileHandle) {
        // Kind 6 is written at the end; an early drain writes its part now so the buffer stays bounded.
        if (kind != kDownloadSelfUpdate || early) context.fileHandle->Write(drained_);
    }
    // Storage stays with the sink for the next drain, unless one drain made it huge.
    if (drained_.capacity() > 4 * inner::CReceiveBuffer::kDefaultCapacity) std::string().swap(drained_);
}

void DownloadSink::OnRequestFinished(FCHttpRequest& request) {
    const HttpResponseInfo& response = request.Response();
    const DownloadContext& context = request.Task().context;
    int kind = request.DownloadKind();
    if (kind == kDownloadFallback) {
        Post(owner_, context, response.statusCode == 200, response.statusCode);
        return;
    }
    util::LogDebug(L"File %s, Http response Code %d:\r\n", context.localFile, response.statusCode);
    request.DrainReceiveBuffer(drained_);
    if (kind == kDownloadUriRequest || kind == kDownloadReportUpload)
        responseBuffer_ += drained_;
    else if (context.fileHandle && (kind != kDownloadPackage || context.fileHandle->IsValid()))
        context.fileHandle->Write(drained_);
    drained_.clear();
    if (context.fileHandle) context.fileHandle->Close();
    bool complete = request.ReceivedBytes() == response.contentLength;
    Post(owner_, context, complete, response.statusCode);
}

void DownloadSink::ShowDownloadProgress(int, int) {}

void DownloadSink::AddReportTag(const std::wstring& tag) {
    if (std::find(tags_.begin(), tags_.end(), tag) == tags_.end()) tags_.push_back(tag);
}

}  // namespace network
