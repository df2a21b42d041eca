#pragma once
// How one download item's transfer stands: its state, its figures, what the
// answer said, and the bytes received. Written by the item's download
// thread; the handlers on the UI thread read it while that thread waits for
// them, and the few fields other threads read at any time are atomic.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/engine/ItemData.h"
#include "download/engine/TDlCookiesList.h"
#include "download/values/DlDateTime.h"

namespace dl {

class TDlHTMLObject;

enum TDlItemState : std::uint8_t { dsWaiting = 0, dsRunning = 1, dsFinished = 2, dsFailed = 3 };

class ItemProgress {
public:
    std::int32_t ErrorCode = 0;
    std::atomic<std::int32_t> Percent{0};
    std::string ErrorMessage;
    std::atomic<TDlItemState> State{dsWaiting};
    // The announced length after the headers, then the bytes received so far.
    std::atomic<std::uint32_t> Size{0};
    std::string ContentType;
    TDateTime Date = 0;  // Last-Modified; 0 = none
    TDlCookiesList ReceivedCookies;
    std::shared_ptr<TDlHTMLObject> PageDocument;
    std::string Location;
    std::atomic<bool> HeaderPhase{false};
    // The received bytes: in memory, or in a part file in SaveFolder.
    ItemData Data;
    std::int32_t StatusCode = 0;

    // The address the response came from, after the redirects followed;
    // empty before an answer.
    const std::string& ResponseURL() const { return responseURL_; }
    void SetResponseURL(std::string url) { responseURL_ = std::move(url); }
    // During a pause before another attempt that the run tells
    // (AttemptRules::tellPauses): its length; 0 otherwise. Written by the
    // download thread before the report that tells it.
    std::int64_t RetryPauseMs() const { return retryPauseMs_; }
    void SetRetryPauseMs(std::int64_t pause) { retryPauseMs_ = pause; }

private:
    std::string responseURL_;
    std::int64_t retryPauseMs_ = 0;
};

}  // namespace dl
