#pragma once
// What the transfer of one item may ask of the run it is part of, and what
// it gives back. The download thread hands a context to each transfer; the
// transfer reaches nothing else of the run, so a run of another kind (one
// that tries a song again, one without a window) can give its own.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "download/engine/TDlDownloadItem.h"
#include "download/engine/TransferOutcome.h"

namespace dl {

struct AskedDownload;

// The reports an item gets, in this order.
enum class ItemReport : std::uint8_t {
    Start,         // the transfer begins
    AfterHeaders,  // the answer's head is read (HeaderPhase is set): limits apply here
    Reading,       // during the body, at most every 500 ms; dropped while one is still pending
    End,           // the transfer has ended; a stopped item gets none
    Pausing,       // a pause before another attempt begins or ends (RetryPauseMs), when the run tells them
};

class TransferContext {
public:
    virtual ~TransferContext() = default;

    // Hands the report to the UI thread and returns when its handler has
    // run. The handler may fail the item or stop it.
    virtual void Report(TDlDownloadItem& item, ItemReport report) = 0;
    // The run is being stopped: an item handed out before the stop ends as
    // stopped.
    virtual bool IsStopping() const = 0;
    // `bytes` arrived, `elapsedMs` after the bytes before them.
    virtual void CountTraffic(std::uint32_t elapsedMs, std::int64_t bytes) = 0;
    // The part files that programs which ended in the middle left in
    // `folder`, and kept ones no longer worth keeping, are removed: once per
    // run and folder. `asked` is the download that runs there (KeptPart.h).
    virtual void SweepFolderOnce(const std::string& folder, const AskedDownload* asked) = 0;
    // Another attempt at the item, a request for the rest of a song whose
    // line broke: the pause before it, or nothing when the item may not be
    // tried again. Each call spends one of the item's further attempts
    // (AttemptRules, ItemAttempts.h); asked as the pause begins.
    virtual std::optional<std::chrono::milliseconds> FurtherAttempt() = 0;
    // The item has ended and asks to leave the run (RemoveWhenDone).
    virtual void LeaveQueue(TDlDownloadItem& item) = 0;
};

}  // namespace dl
