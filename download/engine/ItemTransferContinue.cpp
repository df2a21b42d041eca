// Continuing where the transfer of a song stopped: the part file an earlier
// run kept, the request for the rest, what its answer says of the bytes
// held, and the pauses between attempts.
#include "download/engine/ItemTransfer.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "download/engine/DlHeaderParsing.h"
#include "download/engine/ItemTransferRules.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/files/DlFileNames.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetRange.h"
#include "download/inet/InetRequest.h"
#include "download/inet/InetSession.h"
#include "download/texts/DlTexts.h"
#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"

namespace dl {

bool ItemTransfer::MayContinue() const {
    return item_.Request.ContinueTransfer() && item_.Request.Method == dmGet && !item_.Request.IsLink &&
           !item_.Request.CheckOnly && RequestBody().empty() && IsHttpScheme(parts_.scheme);
}

void ItemTransfer::TakeUpKeptPart() {
    if (item_.Request.SaveFolder().empty() || item_.Request.KeepName().empty()) return;
    const bool continuing = MayContinue();
    const AskedDownload asked{item_.Request.URL, item_.Request.KeepName(), continuing};
    context_.SweepFolderOnce(item_.Request.SaveFolder(), &asked);
    if (!continuing || item_.Stopped()) return;
    auto kept =
        dl::TakeUpKeptPart(item_.Request.SaveFolder(), item_.Request.URL, item_.Request.KeepName(), std::time(nullptr));
    if (!kept) return;
    identity_ = kept->identity;
    // A kept part has its length: it is bound for a sync however it ends.
    if (kept->file) kept->file->SetEarlyWriteback(true);
    // Across runs only with a validator the server can check it by.
    if (IfRangeValidator().empty() || item_.Progress.Data.MoveToFile(std::move(kept->file), kept->synced) != 0) {
        if (kept->file) kept->file->Remove();
        item_.Progress.Data.Clear();
        identity_ = PartIdentity();
        return;
    }
    rangeFrom_ = identity_.held;
    continuable_ = true;
    fromKept_ = true;
    fromKeptHere_ = kept->keptHere;
    // From here on it is this run's part file, continuable if it is killed.
    UpdateLiveIdentity();
}

void ItemTransfer::UpdateLiveIdentity() {
    const bool keepable = continuable_ && heldTrusted_ && !item_.Request.KeepName().empty() &&
                          !item_.Request.SaveFolder().empty() && !IfRangeValidator().empty();
    item_.Progress.Data.SetIdentity(keepable ? std::optional<PartIdentity>(identity_) : std::nullopt);
}

std::string ItemTransfer::IfRangeValidator() const {
    if (FitsInHeader(identity_.etag) && !inet::isWeakEntityTag(identity_.etag)) return identity_.etag;
    if (FitsInHeader(identity_.lastModified)) return identity_.lastModified;
    return {};
}

std::vector<std::string> ItemTransfer::RangeHeaders() const {
    if (rangeFrom_ == 0) return {};
    return inet::rangeRequestHeaders(rangeFrom_, IfRangeValidator());
}

ItemTransfer::RangeAnswer ItemTransfer::JudgeRangeAnswer(const inet::Request& request, bool afterStop) {
    const auto refused = [this] {
        heldTrusted_ = false;
        UpdateLiveIdentity();
        item_.FailItem(kErrServerRefused, HttpStatusText(item_.Progress.StatusCode));
        return RangeAnswer::Refused;
    };
    if (item_.Progress.StatusCode == 200) {
        // The whole file again: the song starts over with it, unless what
        // comes now is a page where a song was coming.
        if (afterStop && IsHtmlContentType(item_.Progress.ContentType)) return refused();
        return RangeAnswer::StartsOver;
    }
    if (item_.Progress.StatusCode >= 500 || IsRetriedStatus(item_.Progress.StatusCode)) {
        // A server that cannot serve now says nothing against the bytes held.
        item_.FailItem(kErrServerRefused, HttpStatusText(item_.Progress.StatusCode));
        NoteRetryAfter(request);
        return RangeAnswer::Refused;
    }
    if (item_.Progress.StatusCode != 206) return refused();
    // The rest, and only if it is the rest of the very file the bytes held
    // came from: from the first byte missing, of the same whole length, with
    // the same validators, and no more bytes than it says.
    const auto range = inet::parseContentRange(QueryHeader(request, inet::kQueryContentRange));
    if (!range || range->first != rangeFrom_ || !range->total) return refused();
    // Another whole length: the server's file is not the one the bytes held
    // came from, whatever its validators say. They go, and the song starts
    // over in one of its further attempts.
    if (identity_.length != 0 && *range->total != identity_.length) {
        startsOver_ = true;
        return refused();
    }
    if (const auto length = ParseDecimal(QueryHeader(request, inet::kQueryContentLength), DecimalOverflow::Saturate);
        length && *length != range->count())
        return refused();
    const std::string etag = QueryHeader(request, inet::kQueryETag);
    const std::string modified = QueryHeader(request, inet::kQueryLastModified);
    if ((!etag.empty() && etag != identity_.etag) || (!modified.empty() && modified != identity_.lastModified))
        return refused();
    if (IsHtmlContentType(item_.Progress.ContentType)) return refused();
    identity_.length = *range->total;
    length_ = *range->total;
    rangeEnd_ = range->last + 1;
    if (item_.Progress.Date == 0) item_.Progress.Date = LastModifiedDate(identity_.lastModified).value_or(0);
    UpdateLiveIdentity();
    return RangeAnswer::Appends;
}

void ItemTransfer::TakeIdentity(const inet::Request& request) {
    identity_ = PartIdentity();
    identity_.url = item_.Request.URL;
    identity_.name = item_.Request.KeepName();
    identity_.etag = QueryHeader(request, inet::kQueryETag);
    identity_.lastModified = QueryHeader(request, inet::kQueryLastModified);
    identity_.length = length_;
    heldTrusted_ = true;
    rangeEnd_ = 0;
    // Only a song's whole answer is continued, and only when the server
    // does not rule it out and the rest can be told to be of the same file:
    // by its validator, or at least by its length.
    const std::string ranges = QueryHeader(request, inet::kQueryAcceptRanges);
    continuable_ = MayContinue() && item_.Progress.StatusCode == 200 &&
                   !IsHtmlContentType(item_.Progress.ContentType) && !SameText(TrimBlanks(ranges), "none") &&
                   (length_ != 0 || !IfRangeValidator().empty());
    UpdateLiveIdentity();
}

void ItemTransfer::StartOver() {
    // What was continued before counts for nothing now.
    continuations_ = 0;
    fromKept_ = false;
    fromKeptHere_ = false;
    item_.Progress.Data.Clear();
    item_.Progress.Size = 0;
    item_.Progress.Percent = 0;
    rangeFrom_ = 0;
    rangeEnd_ = 0;
}

void ItemTransfer::ReadContinuationHead(inet::Request& request) {
    if (request.handleType() != inet::kHandleHttpRequest) {
        item_.FailItem(kErrInvalidServerResponse);
        return;
    }
    const auto status = ParseDecimal(QueryHeader(request, inet::kQueryStatusCode), DecimalOverflow::Saturate);
    item_.Progress.StatusCode = status && *status <= 999 ? static_cast<std::int32_t>(*status) : 0;
    item_.Progress.ContentType = TrimBlanks(QueryHeader(request, inet::kQueryContentType));
    switch (JudgeRangeAnswer(request, true)) {
        case RangeAnswer::Appends:
            ++continuations_;
            break;
        case RangeAnswer::StartsOver: {
            StartOver();
            const auto length = ParseDecimal(QueryHeader(request, inet::kQueryContentLength), DecimalOverflow::Saturate);
            length_ = length.value_or(0);
            item_.Progress.Date = LastModifiedDate(QueryHeader(request, inet::kQueryLastModified)).value_or(0);
            TakeIdentity(request);
            break;
        }
        case RangeAnswer::Refused:
            return;
    }
    if (!Accepted()) {
        item_.FailItem(kErrPrecondFailed);
        return;
    }
    if (length_ > kMaxSize) {
        item_.FailItem(kErrConnectionAborted);
        return;
    }
    // The limit holds over the whole song, whatever answer brings its rest.
    PassesSizeLimit(length_);
}

// Kept for a later run: what a song's transfer wrote before the line broke
// or the user stopped it, when the server can be asked for the rest of that
// very file; not what a limit refused, nor what could not be written.
bool ItemTransfer::ShouldKeep() const {
    const std::int32_t code = item_.Progress.ErrorCode;
    const bool lineOrStop = code == kErrStopped || code == kErrServerRefused || IsInternetError(code);
    const std::uint64_t held = item_.Progress.Data.Size();
    return continuable_ && heldTrusted_ && lineOrStop && !item_.Request.KeepName().empty() && held > 0 &&
           (identity_.length == 0 || held < identity_.length) && !IfRangeValidator().empty();
}

bool ItemTransfer::WaitBeforeContinuing(std::chrono::milliseconds pause) {
    return session_->signal()->waitFor(pause) || item_.Stopped();
}

ItemTransfer::Carrying ItemTransfer::ContinueAfterStop(std::unique_ptr<inet::Request>& request) {
    if (!continuable_ || !heldTrusted_ || item_.Progress.Size == 0 || (length_ != 0 && item_.Progress.Size >= length_))
        return Carrying::NotContinued;
    // One of the item's further attempts, shared with its being tried again
    // whole: none left, and the stop stands.
    std::optional<std::chrono::milliseconds> pause = context_.FurtherAttempt();
    if (!pause) return Carrying::NotContinued;
    // The bytes held are on the disk before the rest is asked for.
    if (!item_.Request.SaveFolder().empty() && !item_.Progress.Data.InFile() && !StartPartFile())
        return Carrying::Ended;
    if (const int error = item_.Progress.Data.Flush()) {
        FailWriting(error);
        return Carrying::Ended;
    }
    request.reset();  // its connection goes
    for (;;) {
        if (WaitBeforeContinuing(*pause)) return Carrying::Ended;  // stopped: Run ends it as such
        rangeFrom_ = item_.Progress.Size;
        rangeEnd_ = 0;
        Opened opened = OpenRequest();
        if (!opened) {
            if (item_.Stopped()) return Carrying::Ended;
            // Unanswered: another attempt, when there is one.
            if (IsUnanswered(opened.error().code) && (pause = context_.FurtherAttempt())) continue;
            RecordTransferError(item_, opened.error());
            item_.Progress.State = dsFailed;
            return Carrying::Ended;
        }
        request = std::move(opened.value());
        ReadContinuationHead(*request);
        if (item_.Progress.State == dsFailed) return Carrying::Ended;
        return Carrying::On;
    }
}

}  // namespace dl
