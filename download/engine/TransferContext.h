#pragma once
// What the transfer of one item may ask of the run it is part of, and what
// it gives back. The download thread hands a context to each transfer; the
// transfer reaches nothing else of the run, so a run of another kind (one
// that tries a song again, one without a window) can give its own.
#include <chrono>
#include <cstdint>
#include <string>

#include "download/engine/TDlDownloadItem.h"

namespace dl {

struct AskedDownload;

// The reports an item gets, in this order.
enum class ItemReport : std::uint8_t {
    Start,         // the transfer begins
    AfterHeaders,  // the answer's head is read (HeaderPhase is set): limits apply here
    Reading,       // during the body, at most every 500 ms; dropped while one is still pending
    End,           // the transfer has ended; a stopped item gets none
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
    // How long to pause before the first continuation of a song whose
    // transfer stopped (it doubles for each further one); asked as the
    // pause begins.
    virtual std::chrono::milliseconds PauseBeforeContinuing() = 0;
    // The item has ended and asks to leave the run (RemoveWhenDone).
    virtual void LeaveQueue(TDlDownloadItem& item) = 0;
};

// What became of one transfer, for whoever runs it.
struct TransferOutcome {
    // The item was waiting, so it was transferred; otherwise nothing
    // happened to it.
    bool ran = false;
    // Stopped (by Stop, or by a limit): it gets no end report.
    bool stopped = false;
    TDlItemState state = dsWaiting;  // finished or failed, once it ran
    std::int32_t errorCode = 0;      // DownloadErrors.h
    std::int32_t statusCode = 0;     // of the last HTTP answer; 0: none
    std::int32_t continuations = 0;  // answers 206 whose bytes were appended
    // Its bytes were kept for a later run to continue (KeptPart.h).
    bool kept = false;
};

}  // namespace dl
