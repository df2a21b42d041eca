#include "download/engine/ItemTransfer.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

#include "download/engine/DlHeaderParsing.h"
#include "download/engine/ItemTransferRules.h"
#include "download/engine/RetryAfter.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/files/DlFileErrors.h"
#include "download/files/DlFileNames.h"
#include "download/files/PartFile.h"
#include "download/inet/InetConnection.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetRange.h"
#include "download/inet/InetRequest.h"
#include "download/inet/InetRequestUrl.h"
#include "download/inet/InetSession.h"
#include "download/texts/DlTexts.h"
#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"
#include "platform/TickCount.h"

namespace dl {

namespace {

bool isRedirectStatus(std::int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Lines as a string list reads them: at CR LF, CR or LF.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

inet::UrlComponents splitUrl(const std::string& url) {
    return inet::crackUrl(url).value_or(inet::UrlComponents{});
}

// Closes and forgets the item's handles when the guarded part ends, however.
class HandlesClosed {
public:
    explicit HandlesClosed(std::function<void()> close) : close_(std::move(close)) {}
    ~HandlesClosed() { close_(); }
    HandlesClosed(const HandlesClosed&) = delete;
    HandlesClosed& operator=(const HandlesClosed&) = delete;

private:
    std::function<void()> close_;
};

}  // namespace

TransferOutcome Transfer(TDlDownloadItem& item, TransferContext& context) {
    return ItemTransfer(item, context).Run();
}

void RecordTransferError(TDlDownloadItem& item, const inet::Error& error) {
    if (item.Progress.State == dsFailed) return;
    item.Progress.ErrorCode = error.code;
    if (item.Stopped() && item.Progress.ErrorCode == kErrNone) item.Progress.ErrorCode = kErrStopped;
    item.Progress.ErrorMessage = InternetErrorText(item.Progress.ErrorCode);
    if (item.Progress.ErrorCode == kErrExtendedError) item.Progress.ErrorMessage = error.serverReply;
}

std::string QueryHeader(const inet::Request& request, int level) {
    return request.queryInfo(level, kHeaderBuffer).value_or(std::string());
}

bool ItemTransfer::ConnectedTestPasses() const {
    return item_.Request.Options.ForceInternetCheck || TDlInternetOptions::IsConnectedToInternet() ||
           TDlInternetOptions::IsLocalURL(item_.Request.URL);
}

void ItemTransfer::FailNotConnected() { item_.FailItem(kErrServerRefused, kTextNotConnected); }

TransferOutcome ItemTransfer::Run() {
    if (item_.Progress.State != dsWaiting) return {};
    item_.Progress.HeaderPhase = false;
    item_.SetStopped(false);
    item_.Progress.State = dsRunning;
    // A Stop (of the run, or of this item) that came after this item was
    // handed out but before it ran skipped it (it was not running yet): it
    // ends as stopped at once.
    if (context_.IsStopping() || item_.CancelRequested()) item_.SetStopped(true);
    if (!ConnectedTestPasses()) {
        FailNotConnected();
    } else {
        try {
            Guarded();
        } catch (const std::exception& e) {
            item_.FailItem(kErrException, e.what());
        } catch (...) {
            item_.FailItem(kErrException, "Unknown exception");
        }
    }
    Settle();
    return Outcome();
}

void ItemTransfer::Settle() {
    if (item_.Stopped()) EndStopped();
    if (item_.Progress.State != dsFailed) item_.Progress.State = dsFinished;
    // What a failed transfer wrote of its file goes (an older file of the
    // name stays), unless it is kept for a later run to continue.
    keptBytes_ = 0;
    if (item_.Progress.State == dsFailed && item_.Progress.Data.InFile()) {
        if (ShouldKeep()) {
            keptBytes_ = item_.Progress.Data.Size();
            kept_ = item_.Progress.Data.Keep(identity_) == 0;
        } else {
            item_.Progress.Data.Clear();
        }
    }
    if (!kept_) keptBytes_ = 0;
    percentHeld_ = item_.Progress.Percent;
    item_.Progress.Percent = 100;
}

TransferOutcome ItemTransfer::Outcome() const {
    TransferOutcome outcome;
    outcome.ran = true;
    outcome.stopped = item_.Stopped();
    outcome.state = item_.Progress.State;
    outcome.errorCode = item_.Progress.ErrorCode;
    outcome.statusCode = item_.Progress.StatusCode;
    outcome.continuations = continuations_;
    outcome.kept = kept_;
    outcome.keptBytes = keptBytes_;
    outcome.total = length_;
    outcome.fromKept = fromKept_;
    outcome.fromKeptHere = fromKeptHere_;
    outcome.startsOver = startsOver_;
    outcome.percentHeld = percentHeld_;
    outcome.retryAfter = retryAfter_;
    return outcome;
}

// A stopped item did not finish: it fails, with 6 "Stopped" unless it
// already failed for a reason of its own (a limit, a file that cannot be
// written) or the platform reported one before the stop.
void ItemTransfer::EndStopped() {
    if (item_.Progress.State == dsFailed && item_.Progress.ErrorCode != kErrNone &&
        item_.Progress.ErrorCode != kErrOperationCancelled && item_.Progress.ErrorCode != kErrStopped)
        return;
    item_.FailItem(kErrStopped);
}

void ItemTransfer::Guarded() {
    context_.Report(item_, ItemReport::Start);
    session_ = inet::Session::open(item_.Request.Options.AgentName());
    item_.Progress.Date = 0;
    session_->setRateLimit(item_.Request.Options.RateLimit);
    item_.SetInternetHandle(session_);
    HandlesClosed closed([this] { item_.CloseHandles(); });
    if (!item_.Request.Options.UseDefaultOptions) {
        TDlInternetOptions::ApplyInternetOptions(*session_, item_.Request.Options);
        if (!ConnectedTestPasses()) {
            FailNotConnected();
            return;
        }
    }
    item_.Progress.ReceivedCookies.Clear();
    url_ = inet::browserUrl(item_.Request.URL);
    parts_ = splitUrl(url_);
    // What a page refers to is fetched over the web only: never a local
    // file or another scheme.
    if (item_.Request.IsLink && !IsHttpScheme(parts_.scheme)) {
        item_.FailItem(kErrUnrecognizedScheme);
        return;
    }
    TakeUpKeptPart();

    Opened opened = OpenRequest();
    if (!opened || item_.Progress.State == dsFailed) {
        RecordTransferError(item_, opened.error());
        item_.Progress.State = dsFailed;
        return;
    }
    std::unique_ptr<inet::Request> request = std::move(opened.value());
    if (request->handleType() == inet::kHandleHttpRequest) {
        ReadHeaders(*request);
    } else if (request->handleType() == inet::kHandleFileRequest && SameText(parts_.scheme, "FILE")) {
        ReadFileHeaders();
    }
    if (item_.Progress.State == dsFailed) return;
    if (length_ > kMaxSize || item_.Progress.Data.Size() > kMaxSize) {
        item_.FailItem(kErrConnectionAborted);
        return;
    }
    // The whole song's length, also when the bytes come after those held.
    item_.Progress.Size = static_cast<std::uint32_t>(length_);
    item_.Progress.HeaderPhase = true;
    context_.Report(item_, ItemReport::AfterHeaders);  // the component's limits apply here
    item_.Progress.HeaderPhase = false;
    if (item_.Progress.State == dsRunning && !item_.Request.CheckOnly && !PassesSizeLimit(length_)) return;
    // From here the bytes of the song held so far: those continued count.
    if (!item_.Request.CheckOnly) item_.Progress.Size = static_cast<std::uint32_t>(item_.Progress.Data.Size());
    if (!item_.Request.CheckOnly && !item_.Stopped() && item_.Progress.State == dsRunning) ReadBody(request);
}

// ---- the request -------------------------------------------------------------

ItemTransfer::Opened ItemTransfer::OpenRequest() {
    if (SameText(parts_.scheme, "HTTP")) return OpenHttp();
    if (SameText(parts_.scheme, "FTP")) return OpenFtp();
    if (item_.Stopped()) return kErrStopped;
    return inet::Request::openUrl(session_, url_, inet::kFlagMakePersistent | inet::kFlagNeedFile, RangeHeaders());
}

std::string ItemTransfer::RequestBody() const {
    if (const auto* text = std::get_if<std::string>(&item_.Request.PostData)) return *text;
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&item_.Request.PostData))
        return std::string(bytes->begin(), bytes->end());
    return {};
}

ItemTransfer::Opened ItemTransfer::OpenHttp() {
    if (item_.Stopped()) return kErrStopped;
    auto connection = inet::Connection::connect(session_, parts_.host, parts_.port, item_.Request.UserName,
                                                item_.Request.Password, inet::Service::Http);
    if (!connection) return connection.error();
    item_.SetConnectionHandle(*connection);
    TDlInternetOptions::ApplyProxyCredentials(**connection, item_.Request.Options);
    std::uint32_t flags = inet::kFlagKeepConnection;
    if (item_.Request.Reload) flags |= inet::kFlagReload | inet::kFlagPragmaNoCache;
    if (item_.Request.NoRedirect) flags |= inet::kFlagNoAutoRedirect;
    const std::string referer = item_.Request.Referer.empty() ? parts_.urlPath : item_.Request.Referer;
    // The query goes with the path (a song address may be "...?id=7"); a fragment never does.
    std::string objectName = parts_.urlPath + parts_.extraInfo;
    objectName = objectName.substr(0, objectName.find('#'));
    if (item_.Stopped()) return kErrStopped;
    const std::string verb = item_.Request.Method == dmPost ? "POST" : "GET";
    Opened request = inet::Request::openHttp(*connection, verb, objectName, referer, flags);
    if (!request) return request;
    // A header that cannot be added is left out.
    SendCookies(**request);
    const std::string body = RequestBody();
    if (!item_.Stopped() && !body.empty())
        (void)(*request)->addHeader("CONTENT-TYPE:application/x-www-form-urlencoded");
    for (const std::string& line : RangeHeaders()) (void)(*request)->addHeader(line);
    if (item_.Stopped()) return kErrStopped;
    if (auto sent = (*request)->send(body); !sent) return sent.error();
    if (item_.Stopped()) return kErrStopped;
    return request;
}

void ItemTransfer::SendCookies(inet::Request& request) const {
    if (item_.Request.SendCookies.Empty()) return;
    std::string header = "Cookie: ";
    bool first = true;
    for (std::size_t i = 0; i < item_.Request.SendCookies.Count(); ++i) {
        const std::string name = item_.Request.SendCookies.Name(i);
        if (SameText(name, "expires") || SameText(name, "path")) continue;
        if (!first) header += "; ";
        header += name + "=" + item_.Request.SendCookies.Value(i);
        first = false;
    }
    (void)request.addHeader(header);
}

ItemTransfer::Opened ItemTransfer::OpenFtp() {
    if (item_.Stopped()) return kErrStopped;
    auto connection = inet::Connection::connect(session_, parts_.host, parts_.port, item_.Request.UserName,
                                                item_.Request.Password, inet::Service::Ftp);
    if (!connection) return connection.error();
    item_.SetConnectionHandle(*connection);
    if (const auto found = inet::ftpFindFirstFile(*connection, parts_.urlPath)) {
        item_.Progress.Date = 0;
        if (found->modified) {
            try {
                item_.Progress.Date = LocalDateTimeOf(*found->modified);
            } catch (const std::exception&) {
                item_.Progress.Date = 0;
            }
        }
        length_ = static_cast<std::uint64_t>(std::max<std::int64_t>(found->size, 0));
    } else if (item_.Request.CheckOnly) {
        RecordTransferError(item_, found.error());
        item_.Progress.State = dsFailed;
    }
    // A failed item opens nothing more; it has its error.
    if (item_.Progress.State == dsFailed) return std::unique_ptr<inet::Request>();
    return inet::Request::openFtpFile(*connection, parts_.urlPath, inet::kFlagReload);
}

// ---- the head of the answer ----------------------------------------------------

bool ItemTransfer::Accepted() const {
    if (item_.Progress.ContentType.empty()) return true;
    bool accepted = true;
    if (!item_.Request.AcceptTypes.empty()) {
        const auto lines = linesOf(item_.Request.AcceptTypes);
        accepted = std::any_of(lines.begin(), lines.end(),
                               [&](const std::string& line) { return SameText(line, item_.Progress.ContentType); });
    }
    if (accepted) {
        accepted = std::none_of(item_.Request.RejectTypes.begin(), item_.Request.RejectTypes.end(),
                                [&](const std::string& type) { return SameText(type, item_.Progress.ContentType); });
    }
    return accepted;
}

void ItemTransfer::ReadHeaders(inet::Request& request) {
    const std::string status = QueryHeader(request, inet::kQueryStatusCode);
    const bool ranged = rangeFrom_ > 0;
    if (!status.empty()) {
        const auto number = ParseDecimal(status, DecimalOverflow::Saturate);
        item_.Progress.StatusCode = number && *number <= 999 ? static_cast<std::int32_t>(*number) : 0;
        if (item_.Progress.StatusCode != 200 && item_.Progress.StatusCode != 302 &&
            !(ranged && item_.Progress.StatusCode == 206)) {
            item_.FailItem(kErrServerRefused, HttpStatusText(item_.Progress.StatusCode));
            NoteRetryAfter(request);
            // A server that cannot serve now says nothing against the bytes held.
            if (ranged && !IsRetriedStatus(item_.Progress.StatusCode) && item_.Progress.StatusCode < 500)
                heldTrusted_ = false;
        }
    }
    const std::string location = QueryHeader(request, inet::kQueryLocation);
    item_.Progress.SetResponseURL(request.redirected() ? request.finalUrl() : item_.Request.URL);
    item_.Progress.Location = location.empty() ? item_.Progress.ResponseURL() : location;
    // A redirect that was not followed for want of a usable Location is no
    // answer: its body must not pass for the song.
    if (isRedirectStatus(item_.Progress.StatusCode) &&
        (location.find_first_not_of(" \t") == std::string::npos || !inet::combineUrl(request.finalUrl(), location)))
        item_.FailItem(kErrServerRefused, kTextRedirectWithoutLocation);
    item_.Progress.ContentType = TrimBlanks(QueryHeader(request, inet::kQueryContentType));
    if (!Accepted()) item_.FailItem(kErrPrecondFailed);
    ParseSetCookies(QueryHeader(request, inet::kQueryRawHeaders), item_.Progress.ReceivedCookies,
                    item_.Request.StripCookieAttributes);
    if (const auto length = ParseDecimal(QueryHeader(request, inet::kQueryContentLength), DecimalOverflow::Saturate))
        length_ = *length;
    const std::string modified = QueryHeader(request, inet::kQueryLastModified);
    if (const auto date = LastModifiedDate(modified)) item_.Progress.Date = *date;
    if (item_.Progress.State == dsFailed) return;
    // A kept part file was asked to be continued.
    if (ranged) {
        switch (JudgeRangeAnswer(request, false)) {
            case RangeAnswer::Appends:
                ++continuations_;
                return;
            case RangeAnswer::StartsOver:
                StartOver();
                break;
            case RangeAnswer::Refused:
                return;
        }
    }
    TakeIdentity(request);
}

void ItemTransfer::NoteRetryAfter(const inet::Request& request) {
    if (!IsRetriedStatus(item_.Progress.StatusCode)) return;
    const std::string value = QueryHeader(request, inet::kQueryRetryAfter);
    if (!value.empty()) retryAfter_ = RetryAfterSeconds(value, static_cast<std::int64_t>(std::time(nullptr)));
}

void ItemTransfer::ReadFileHeaders() {
    std::string path = parts_.urlPath;
    if (path.rfind("\\\\", 0) == 0) path.erase(0, 2);
    if (path.find(':') != std::string::npos && !path.empty() && (path.front() == '/' || path.front() == '\\'))
        path.erase(0, 1);
    std::error_code ignored;
    const std::string full = std::filesystem::absolute(path, ignored).lexically_normal().string();
    struct stat info {};
    if (::stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        length_ = static_cast<std::uint64_t>(info.st_size);
        try {
            item_.Progress.Date = LocalDateTimeOf(info.st_mtime);
        } catch (const std::exception&) {
            item_.Progress.Date = 0;
        }
    }
}

bool ItemTransfer::PassesSizeLimit(std::uint64_t size) {
    if (item_.Request.SizeLimit() == 0 || size <= item_.Request.SizeLimit()) return true;
    item_.SetStopped(true);
    item_.FailItem(kErrSizeLimit);
    return false;
}

// ---- the body ------------------------------------------------------------------

// The bytes cannot be kept: the item fails at once (and still gets its end
// report), reading no further.
void ItemTransfer::FailWriting(int error) { item_.FailItem(FileErrorOf(error)); }

bool ItemTransfer::StartPartFile() {
    int error = MakeFolders(item_.Request.SaveFolder());
    if (error == 0) {
        context_.SweepFolderOnce(item_.Request.SaveFolder(), nullptr);
        if (auto file = PartFile::Create(item_.Request.SaveFolder(), error)) {
            file->SetEarlyWriteback(length_ != 0);
            error = item_.Progress.Data.MoveToFile(std::move(file));
        }
    }
    if (error == 0) return true;
    FailWriting(error);
    return false;
}

// Nothing is had ahead of the bytes: not the announced length in memory nor
// on disk. They go to the part file as they come, but for a page, which is
// held in memory up to its limit.
void ItemTransfer::ReadBody(std::unique_ptr<inet::Request>& request) {
    Reading reading;
    reading.toFile = !item_.Request.SaveFolder().empty();
    reading.page = IsHtmlContentType(item_.Progress.ContentType);
    reading.lastTick = platform::tickCount();
    for (;;) {
        if (!ReadPass(*request, reading)) return;
        switch (AfterPass(request, reading)) {
            case Next::Finish:
                FinishBody(reading);
                return;
            case Next::Settled:
                return;
            case Next::ReadOn:
                reading.lastTick = platform::tickCount();
                break;
        }
    }
}

bool ItemTransfer::ReadPass(inet::Request& request, Reading& reading) {
    std::size_t n = 0;
    do {
        const std::uint32_t at = item_.Progress.Size;
        if (!ReadyFor(at, reading)) return false;
        // Read straight to the bytes' place (memory, or the file's staging
        // buffer): no copy on the way. Bytes that arrive beyond this read
        // wait in place for the next.
        std::size_t room = 0;
        char* place = item_.Progress.Data.WritableTail(kReadChunk, room);
        // Bytes bound for the file never wait in memory beyond what is taken,
        // so they move there with nothing left in place; a page in memory
        // takes none past its limit.
        if (reading.toFile && !item_.Progress.Data.InFile())
            room = std::min(room, reading.page ? kPageInMemoryLimit - at : kReadChunk);
        const inet::Result<std::size_t> got = request.read(place, std::min(room, kReadChunk), room);
        reading.ok = got.has_value();
        reading.error = got.error();
        n = got.value_or(0);
        if (reading.ok && n > 0) {
            const Taken taken = TakeBytes(at, n, reading);
            if (taken == Taken::Settled) return false;
            if (taken == Taken::Refused) break;
        }
    } while (!item_.Stopped() && reading.ok && n > 0);
    return true;
}

bool ItemTransfer::ReadyFor(std::uint32_t at, const Reading& reading) {
    // The part file (and its folder) is made with the first bytes: an empty
    // answer leaves nothing behind. A page waits in memory up to its limit.
    if (reading.toFile && !item_.Progress.Data.InFile() && at > 0 && (!reading.page || at >= kPageInMemoryLimit))
        return StartPartFile();
    return true;
}

ItemTransfer::Taken ItemTransfer::TakeBytes(std::uint32_t at, std::size_t n, Reading& reading) {
    if (at + static_cast<std::uint64_t>(n) > kMaxSize) {
        item_.FailItem(kErrConnectionAborted);
        return Taken::Refused;
    }
    // More than the range its answer announced: that answer lied, and none
    // of it may join the bytes held.
    if (rangeEnd_ != 0 && at + static_cast<std::uint64_t>(n) > rangeEnd_) {
        heldTrusted_ = false;
        UpdateLiveIdentity();
        item_.FailItem(kErrServerRefused, HttpStatusText(item_.Progress.StatusCode));
        return Taken::Refused;
    }
    const std::uint32_t now = platform::tickCount();
    context_.CountTraffic(platform::ticksBetween(reading.lastTick, now), static_cast<std::int64_t>(n));
    reading.lastTick = now;
    const std::uint32_t size = at + static_cast<std::uint32_t>(n);
    item_.Progress.Size = size;
    if (length_ != 0)
        item_.Progress.Percent = static_cast<std::int32_t>(std::nearbyint(static_cast<double>(size) / length_ * 100));
    if (const int error = item_.Progress.Data.Commit(n)) {
        FailWriting(error);
        return Taken::Settled;
    }
    // Never more than this one read past the limit.
    if (!PassesSizeLimit(size)) return Taken::Settled;
    if (!item_.Stopped() && platform::ticksBetween(reading.lastReport, now) > kReportInterval) {
        reading.lastReport = now;
        context_.Report(item_, ItemReport::Reading);
    }
    return Taken::Yes;
}

ItemTransfer::Next ItemTransfer::AfterPass(std::unique_ptr<inet::Request>& request, const Reading& reading) {
    if (item_.Stopped() || item_.Progress.State == dsFailed) return Next::Finish;
    // A range that ended before the song did: the rest is still to come.
    const bool shortRange = reading.ok && rangeEnd_ != 0 && item_.Progress.Size < length_;
    if (reading.ok && !shortRange) return Next::Finish;
    const bool mayMend = reading.ok || IsBrokenLine(reading.error.code);
    switch (mayMend ? ContinueAfterStop(request) : Carrying::NotContinued) {
        case Carrying::On:
            return Next::ReadOn;
        case Carrying::Ended:
            return Next::Settled;
        case Carrying::NotContinued:
            break;
    }
    if (!shortRange) return Next::Finish;
    item_.FailItem(kErrConnectionAborted);
    return Next::Settled;
}

void ItemTransfer::FinishBody(const Reading& reading) {
    if (!reading.ok) {
        RecordTransferError(item_, reading.error);
        if (item_.Progress.ErrorCode != kErrNone) item_.Progress.State = dsFailed;
    }
    if (item_.Stopped() && item_.Progress.ErrorCode == kErrNone) RecordTransferError(item_, reading.error);
    if (reading.ok && !item_.Stopped() && item_.Progress.State != dsFailed) {
        if (const int error = item_.Progress.Data.Flush()) FailWriting(error);
    }
}

}  // namespace dl
