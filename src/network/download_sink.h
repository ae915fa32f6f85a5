// The owner's side of the download manager: what the main window does with a transfer's events
// (header check, report tags, progress, draining into the target file, the success and failure
// messages), as a reusable owner. An owner derives from it, and wires two things: the owner
// window's WM_TIMER with id 3 calls OnProgressTimer, and the success and failure messages of the
// download contexts arrive at that window (WPARAM 0 or the HTTP status, LPARAM 0).
#pragma once

#include <string>
#include <vector>

#include "network/http_request.h"

namespace network {

inline constexpr platform::UINT_PTR kProgressTimerId = 3;
// Transfers at least this long get the slow progress timer.
inline constexpr std::int64_t kLargeTransferBytes = 10000000;

class DownloadSink : public FCHttpRequestManager {
public:
    explicit DownloadSink(HWND ownerWindow, std::shared_ptr<HttpTransport> transport = CurlTransport());
    ~DownloadSink() override;

    HWND OwnerWindow() const { return owner_; }

    // The owner window's progress timer (id 3).
    void OnProgressTimer();

    // The body of kind-3 and kind-4 transfers, appended as it is drained.
    std::string& ResponseBuffer() { return responseBuffer_; }
    // The "x-statistic-id" of the first kind-1 transfer that had one.
    const std::wstring& StatisticId() const { return statisticId_; }
    void SetStatisticId(std::wstring id) { statisticId_ = std::move(id); }
    // The report tags added by this sink, each once.
    const std::vector<std::wstring>& ReportTags() const { return tags_; }

    // The percentage of kinds 2 (already halved) and 6 on a progress tick.
    static int ProgressPercent(int kind, std::int64_t startOffset, std::int64_t received, std::int64_t contentLength);

protected:
    void OnRequestResponse(FCHttpRequest& request) override;
    void OnRequestFinished(FCHttpRequest& request) override;
    void OnRequestDrain(FCHttpRequest& request) override;

    // Hooks for the owner: the download progress bar, the process-wide report tags (the default
    // keeps them in ReportTags only).
    virtual void ShowDownloadProgress(int kind, int value);
    virtual void AddReportTag(const std::wstring& tag);

private:
    void DrainToTarget(FCHttpRequest& request, bool early);

    HWND owner_;
    int progressRequestId_ = 0;
    std::string responseBuffer_;
    std::string drained_;
    std::wstring statisticId_;
    std::vector<std::wstring> tags_;
};

}  // namespace network
