#pragma once
// An item tried again: the transfer of one item, and more transfers of it
// when it failed for a moment, within one budget of further attempts and
// one schedule of pauses that it shares with the requests for the rest a
// transfer makes after the line broke. A download thread runs each item it
// takes through one; it is the transfer's context, passing on to the run's
// context all but the attempts.
//
// The rule: a song gets at most AttemptRules::maxFurther further attempts
// in a run, of either kind, the nth after pauses[n-1] (1, 3 and 9 s). A
// transfer spends one for each request for the rest after the line broke or
// fell silent (and one for each such request that got no answer). When the
// transfer fails all the same, the whole item is transferred again, spending
// one more, when it failed
//   - with an answer 408, 429, 500, 502, 503 or 504: after the pause the
//     answer's Retry-After asks for when it asks at most maxRetryAfter (a
//     longer one fails the item at once, RetryAfter telling how long), else
//     the schedule's;
//   - with a line that broke or fell silent (12030, 12031, 12002) that the
//     transfer could not continue (the server takes no ranges, or the bytes
//     came in memory): after the schedule's pause;
//   - with a 206 whose whole length showed the bytes held to be of another
//     file (they are gone then): it starts over, after the schedule's pause.
// A transfer again takes up the part file the failed one kept, so a song
// with a name in a folder asks for the rest, and one without starts over.
// A POST is never sent again. A run may hand a long pause back to the
// item's owner instead of spending it (AttemptRules::handBackAbove); the
// item that takes the song up goes on counting (CarriedAttempts). Stop (of the run, or of the item) ends a
// pause at once and the item as stopped.
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "download/engine/TransferContext.h"

namespace dl {

// How often, and after what pauses, an item is tried again within a run:
// one budget of further attempts and one schedule of pauses for every
// kind of attempt (the rule above).
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
    // Each pause is told to the owner as it begins (a report with the
    // item's RetryPauseMs set) and as it ends (RetryPauseMs 0 again).
    bool tellPauses = false;
    // A pause longer than this is not spent on the download thread: the
    // item ends failed with the pause it is owed (TransferOutcome::retryIn)
    // and the attempts so far, for its owner to take the song up again
    // when the pause is over. Nothing: every pause is spent here.
    std::optional<std::chrono::milliseconds> handBackAbove;
};

class ItemAttempts : public TransferContext {
public:
    // `pausing` is called as each pause begins (a test's hook).
    ItemAttempts(TransferContext& run, const AttemptRules& rules, std::function<void()> pausing = nullptr)
        : run_(run), rules_(rules), pausing_(std::move(pausing)) {}

    // The item's transfers, up to its end: the last one's outcome, with the
    // further attempts and the reason of each, the continuations over the
    // attempts whose bytes it went on from, a Retry-After it refused to wait
    // for, and the item's text, address and bytes as they ended.
    TransferOutcome Run(TDlDownloadItem& item);

    // ---- the transfer's context ----
    void Report(TDlDownloadItem& item, ItemReport report) override { run_.Report(item, report); }
    bool IsStopping() const override { return run_.IsStopping(); }
    void CountTraffic(std::uint32_t elapsedMs, std::int64_t bytes) override { run_.CountTraffic(elapsedMs, bytes); }
    void SweepFolderOnce(const std::string& folder, const AskedDownload* asked) override {
        run_.SweepFolderOnce(folder, asked);
    }
    std::optional<std::chrono::milliseconds> FurtherAttempt() override;
    void LeaveQueue(TDlDownloadItem& item) override { run_.LeaveQueue(item); }

    int Spent() const { return spent_; }

private:
    // The pause before transferring the failed item again; nothing when it
    // is not to be.
    std::optional<std::chrono::milliseconds> RetryPause(TDlDownloadItem& item, const TransferOutcome& outcome);
    // Spends an attempt made for `reason`: its pause by the schedule, or
    // nothing when none is left.
    std::optional<std::chrono::milliseconds> Spend(const TransferOutcome::Retry& reason);

    TransferContext& run_;
    AttemptRules rules_;
    std::function<void()> pausing_;
    int spent_ = 0;
    std::vector<TransferOutcome::Retry> reasons_;
    std::int64_t refusedRetryAfter_ = 0;
};

}  // namespace dl
