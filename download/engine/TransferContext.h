#pragma once
// What the transfer of one item may ask of the run it is part of, and what
// it gives back. The download thread hands a context to each transfer; the
// transfer reaches nothing else of the run, so a run of another kind (one
// that tries a song again, one without a window) can give its own.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
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
    // Another attempt at the item, a request for the rest of a song whose
    // line broke: the pause before it, or nothing when the item may not be
    // tried again. Each call spends one of the item's further attempts
    // (AttemptRules); asked as the pause begins.
    virtual std::optional<std::chrono::milliseconds> FurtherAttempt() = 0;
    // The item has ended and asks to leave the run (RemoveWhenDone).
    virtual void LeaveQueue(TDlDownloadItem& item) = 0;
};

// How often, and after what pauses, an item is tried again within a run:
// one budget of further attempts and one schedule of pauses for every
// kind of attempt (ItemAttempts.h).
struct AttemptRules {
    // Further attempts after the first, of every kind; 0: none.
    int maxFurther = 3;
    // The pause before the first, second and third further attempt (the
    // last one again for any beyond).
    std::array<std::chrono::milliseconds, 3> pauses{std::chrono::seconds(1), std::chrono::seconds(3),
                                                    std::chrono::seconds(9)};
    // A Retry-After up to this long is waited for instead of the schedule's
    // pause; a longer one fails the item at once.
    std::chrono::seconds maxRetryAfter{60};
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
    // It went on from the bytes an earlier transfer kept (and did not start over).
    bool fromKept = false;
    // An answer showed the bytes held to be of another file (a 206 of
    // another whole length): they are gone, and the song is to start over.
    bool startsOver = false;
    // Percent as the bytes held made it, before the end made it 100.
    std::int32_t percentHeld = 0;
    // An answer that failed the item asked to be left alone this many
    // seconds (Retry-After).
    std::optional<std::int64_t> retryAfter;
    // Further attempts made, of every kind (set by ItemAttempts).
    std::int32_t retries = 0;
};

}  // namespace dl
