#include "download/engine/ItemAttempts.h"

#include <algorithm>

#include "download/engine/ItemTransfer.h"
#include "download/engine/ItemTransferRules.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/texts/DlTexts.h"

namespace dl {

std::optional<std::chrono::milliseconds> ItemAttempts::Spend(const TransferOutcome::Retry& reason) {
    if (spent_ >= rules_.maxFurther) return std::nullopt;
    reasons_.push_back(reason);
    const std::size_t index = std::min<std::size_t>(static_cast<std::size_t>(spent_), rules_.pauses.size() - 1);
    ++spent_;
    if (pausing_) pausing_();
    return rules_.pauses[index];
}

std::optional<std::chrono::milliseconds> ItemAttempts::FurtherAttempt() {
    return Spend({TransferOutcome::Retry::Kind::RestOfBrokenLine, 0, 0});
}

std::optional<std::chrono::milliseconds> ItemAttempts::RetryPause(TDlDownloadItem& item,
                                                                   const TransferOutcome& outcome) {
    if (!outcome.ran || outcome.stopped || item.Progress.State != dsFailed || item.Request.Method != dmGet)
        return std::nullopt;
    const bool refusedForNow =
        item.Progress.ErrorCode == kErrServerRefused && IsRetriedStatus(item.Progress.StatusCode);
    if (!refusedForNow && !IsBrokenLine(item.Progress.ErrorCode) && !outcome.startsOver) return std::nullopt;
    if (spent_ >= rules_.maxFurther) return std::nullopt;
    const TransferOutcome::Retry reason{TransferOutcome::Retry::Kind::WholeAgain, item.Progress.ErrorCode,
                                        item.Progress.StatusCode};
    if (refusedForNow && outcome.retryAfter) {
        const std::chrono::seconds asked(*outcome.retryAfter);
        if (asked > rules_.maxRetryAfter) {
            // Longer than it is worth waiting here: the item fails now and says why.
            refusedRetryAfter_ = *outcome.retryAfter;
            item.Progress.ErrorMessage += " (Retry-After: " + std::to_string(*outcome.retryAfter) + " s)";
            return std::nullopt;
        }
        Spend(reason);
        return std::chrono::duration_cast<std::chrono::milliseconds>(asked);
    }
    return Spend(reason);
}

TransferOutcome ItemAttempts::Run(TDlDownloadItem& item) {
    AttemptsSoFar soFar;
    const bool carried = item.Request.CarriedAttempts().has_value();
    if (carried) {
        soFar = *item.Request.CarriedAttempts();
        spent_ = soFar.spent;
        reasons_ = soFar.reasons;
    }
    TransferOutcome outcome = Transfer(item, *this);
    if (carried) {
        soFar.continuations = outcome.fromKept ? soFar.continuations + outcome.continuations : outcome.continuations;
        soFar.chainUnbroken = soFar.chainUnbroken && outcome.fromKept;
    } else {
        // The first attempt tells where the bytes began, as long as every
        // later one went on from them.
        soFar.continuations = outcome.continuations;
        soFar.beganKept = outcome.fromKept;
        soFar.keptHere = outcome.fromKeptHere;
    }
    while (const auto pause = RetryPause(item, outcome)) {
        if (rules_.handBackAbove && *pause > *rules_.handBackAbove) {
            // Its owner spends this one, and the song's place with it.
            soFar.spent = spent_;
            soFar.reasons = reasons_;
            outcome.retryIn = *pause;
            outcome.soFar = soFar;
            break;
        }
        // Still going as far as anyone can see: a stop ends the pause.
        item.Progress.State = dsRunning;
        if (rules_.tellPauses) {
            item.Progress.SetRetryPauseMs(std::max<std::int64_t>(1, pause->count()));
            run_.Report(item, ItemReport::Pausing);
        }
        const bool stopped = item.PauseUnlessStopped(*pause) || run_.IsStopping() || item.CancelRequested();
        if (rules_.tellPauses) {
            item.Progress.SetRetryPauseMs(0);
            if (!stopped) run_.Report(item, ItemReport::Pausing);
        }
        if (stopped) {
            item.SetStopped(true);
            item.FailItem(kErrStopped);
            outcome.stopped = true;
            outcome.state = dsFailed;
            outcome.errorCode = kErrStopped;
            break;
        }
        // The answer of the attempt before is forgotten; what it kept stays
        // on the disk for this one to take up.
        item.ResetForAnotherAttempt(outcome.percentHeld);
        outcome = Transfer(item, *this);
        soFar.continuations = outcome.fromKept ? soFar.continuations + outcome.continuations : outcome.continuations;
        soFar.chainUnbroken = soFar.chainUnbroken && outcome.fromKept;
    }
    outcome.continuations = soFar.continuations;
    using KeptFrom = TransferOutcome::KeptFrom;
    outcome.keptFrom = !(soFar.beganKept && soFar.chainUnbroken)
                           ? KeptFrom::None
                           : (soFar.keptHere ? KeptFrom::ThisProgram : KeptFrom::EarlierProgram);
    outcome.retries = spent_;
    outcome.retryReasons = reasons_;
    outcome.refusedRetryAfter = refusedRetryAfter_;
    outcome.message = item.Progress.ErrorMessage;
    outcome.url = item.Request.URL;
    outcome.received = item.Progress.Data.Size();
    outcome.failure = outcome.ran ? ClassOfFailure(outcome.errorCode, outcome.statusCode) : FailureClass::None;
    return outcome;
}

}  // namespace dl
