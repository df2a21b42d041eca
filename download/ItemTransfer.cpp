#include "download/ItemTransfer.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

#include "download/DlFileErrors.h"
#include "download/DlFileNames.h"
#include "download/DlHeaderParsing.h"
#include "download/DlTexts.h"
#include "download/PartFile.h"
#include "download/TDlDownloadItem.h"
#include "download/TDlDownloads.h"
#include "download/inet/InetConnection.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetRange.h"
#include "download/inet/InetRequest.h"
#include "download/inet/InetRequestUrl.h"
#include "download/inet/InetSession.h"
#include "platform/TickCount.h"

namespace dl {

namespace {

// Size is a 32-bit count: a body that would pass it fails instead of wrapping.
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::uint32_t>::max();

std::string trimBlanks(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// The whole text as a non-negative decimal number; one too large for 64
// bits reads as the largest.
std::optional<std::uint64_t> decimal(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10
                    ? std::numeric_limits<std::uint64_t>::max()
                    : value * 10 + digit;
    }
    return value;
}

bool isRedirectStatus(std::int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isHttpScheme(const std::string& scheme) { return SameText(scheme, "http") || SameText(scheme, "https"); }

constexpr const char* kTextRedirectWithoutLocation = "Redirect without location";

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

// A stop in the middle of a body that asking for the rest may mend: the
// connection dropped, was reset or fell silent past the data time limit.
bool isBrokenLine(int error) {
    return error == inet::kErrTimeout || error == inet::kErrConnectionAborted || error == inet::kErrConnectionReset;
}

// A request for the rest that got no answer for the same reasons, or could
// not reach the server at all: worth another attempt after a longer pause.
bool isUnanswered(int error) {
    return isBrokenLine(error) || error == inet::kErrCannotConnect || error == inet::kErrNameNotResolved ||
           error == inet::kErrInvalidServerResponse;
}

// A validator or address that can go into a request header as it is.
bool fitsInHeader(const std::string& text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < ' ' || byte == 0x7F;
    });
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

void RecordTransferError(TDlDownloadItem& item) {
    if (item.State == dsFailed) return;
    item.ErrorCode = inet::lastError();
    if (item.Stopped && item.ErrorCode == 0) item.ErrorCode = kErrorStopped;
    item.ErrorMessage = InternetErrorText(item.ErrorCode);
    if (item.ErrorCode == inet::kErrExtendedError) {
        int error = 0;
        item.ErrorMessage = inet::lastResponseInfo(error);
        item.ErrorCode = error;
    }
}

std::string QueryHeader(const inet::Request& request, int level) {
    return request.queryInfo(level, kHeaderBuffer).value_or(std::string());
}

bool ItemTransfer::ConnectedTestPasses() const {
    return item_.Options.ForceInternetCheck || TDlInternetOptions::IsConnectedToInternet() ||
           TDlInternetOptions::IsLocalURL(item_.URL);
}

void ItemTransfer::FailNotConnected() { item_.FailItem(kErrorNotConnected, kTextNotConnected); }

void ItemTransfer::Notify(bool droppable) {
    if (TDlDownloads* downloads = item_.Collection()) downloads->NotifyItem(item_, droppable);
}

void ItemTransfer::Run() {
    if (item_.State != dsWaiting) return;
    item_.HeaderPhase = false;
    item_.Stopped = false;
    item_.State = dsRunning;
    // A Stop that came after this item was handed out but before it ran
    // skipped it (it was not running yet): it ends as stopped at once.
    if (TDlDownloads* downloads = item_.Collection(); downloads && downloads->Stopping) item_.Stopped = true;
    inet::setLastError(0);
    if (!ConnectedTestPasses()) {
        FailNotConnected();
    } else {
        try {
            Guarded();
        } catch (const std::exception& e) {
            item_.FailItem(kErrorException, e.what());
        } catch (...) {
            item_.FailItem(kErrorException, "Unknown exception");
        }
    }
    if (item_.Stopped) EndStopped();
    if (item_.State != dsFailed) item_.State = dsFinished;
    item_.Continuations = continuations_;
    // What a failed transfer wrote of its file goes (an older file of the
    // name stays), unless it is kept for a later run to continue.
    if (item_.State == dsFailed && item_.Data.InFile()) {
        if (ShouldKeep())
            item_.Data.Keep(identity_);
        else
            item_.Data.Clear();
    }
    item_.Percent = 100;
    // The end report: the component writes the file here. A stopped item gets none.
    if (!item_.Stopped) Notify(false);
    if (item_.RemoveWhenDone) {
        if (TDlDownloads* downloads = item_.Collection()) downloads->QueueRemoval(item_);
    }
}

// A stopped item did not finish: it fails, with 6 "Stopped" unless it
// already failed for a reason of its own (a limit, a file that cannot be
// written) or the platform reported one before the stop.
void ItemTransfer::EndStopped() {
    if (item_.State == dsFailed && item_.ErrorCode != 0 && item_.ErrorCode != inet::kErrOperationCancelled &&
        item_.ErrorCode != kErrorStopped)
        return;
    item_.FailItem(kErrorStopped, kTextStopped);
}

void ItemTransfer::Guarded() {
    Notify(false);  // the start report
    std::shared_ptr<inet::Session> session = inet::Session::open(item_.Options.AgentName());
    item_.Date = 0;
    if (!session) {
        RecordTransferError(item_);
        item_.State = dsFailed;
        return;
    }
    session_ = session;
    item_.KeepInternetHandle(session);
    HandlesClosed closed([this] { item_.CloseHandles(); });
    if (!item_.Options.UseDefaultOptions) {
        TDlInternetOptions::ApplyInternetOptions(*session, item_.Options);
        if (!ConnectedTestPasses()) {
            FailNotConnected();
            return;
        }
    }
    item_.ReceivedCookies.Clear();
    url_ = inet::browserUrl(item_.URL);
    parts_ = splitUrl(url_);
    // What a page refers to is fetched over the web only: never a local
    // file or another scheme.
    if (item_.IsLink && !isHttpScheme(parts_.scheme)) {
        item_.FailItem(inet::kErrUnrecognizedScheme, InternetErrorText(inet::kErrUnrecognizedScheme));
        return;
    }
    TakeUpKeptPart();

    std::unique_ptr<inet::Request> request = OpenRequest();
    if (!request || item_.State == dsFailed) {
        RecordTransferError(item_);
        item_.State = dsFailed;
        return;
    }

    if (request->handleType() == inet::kHandleHttpRequest) {
        ReadHeaders(*request);
    } else if (request->handleType() == inet::kHandleFileRequest && SameText(parts_.scheme, "FILE")) {
        ReadFileHeaders();
    }
    if (item_.State == dsFailed) return;
    if (length_ > kMaxSize || item_.Data.Size() > kMaxSize) {
        item_.FailItem(inet::kErrConnectionAborted, InternetErrorText(inet::kErrConnectionAborted));
        return;
    }
    // The whole song's length, also when the bytes come after those held.
    item_.Size = static_cast<std::uint32_t>(length_);
    item_.HeaderPhase = true;
    Notify(false);  // the after-headers report: the component's limits apply here
    item_.HeaderPhase = false;
    if (item_.State == dsRunning && !item_.CheckOnly && !PassesSizeLimit(length_)) return;
    // From here the bytes of the song held so far: those continued count.
    if (!item_.CheckOnly) item_.Size = static_cast<std::uint32_t>(item_.Data.Size());
    if (!item_.CheckOnly && !item_.Stopped && item_.State == dsRunning) ReadBody(request);
}

std::unique_ptr<inet::Request> ItemTransfer::OpenRequest() {
    if (SameText(parts_.scheme, "HTTP")) return OpenHttp(session_);
    if (SameText(parts_.scheme, "FTP")) return OpenFtp(session_);
    if (item_.Stopped) return nullptr;
    return inet::Request::openUrl(session_, url_, inet::kFlagMakePersistent | inet::kFlagNeedFile, RangeHeaders());
}

std::string ItemTransfer::RequestBody() const {
    if (const auto* text = std::get_if<std::string>(&item_.PostData)) return *text;
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&item_.PostData))
        return std::string(bytes->begin(), bytes->end());
    return {};
}

std::unique_ptr<inet::Request> ItemTransfer::OpenHttp(const std::shared_ptr<inet::Session>& session) {
    const std::string verb = item_.Method == dmPost ? "POST" : "GET";
    std::shared_ptr<inet::Connection> connection;
    if (!item_.Stopped) {
        connection = inet::Connection::connect(session, parts_.host, parts_.port, item_.UserName, item_.Password,
                                               inet::Service::Http);
        if (connection) item_.KeepConnectionHandle(connection);
    }
    std::unique_ptr<inet::Request> request;
    if (connection) {
        TDlInternetOptions::ApplyProxyCredentials(*connection, item_.Options);
        std::uint32_t flags = inet::kFlagKeepConnection;
        if (item_.Reload) flags |= inet::kFlagReload | inet::kFlagPragmaNoCache;
        if (item_.NoRedirect) flags |= inet::kFlagNoAutoRedirect;
        const std::string referer = item_.Referer.empty() ? parts_.urlPath : item_.Referer;
        // The query goes with the path (a song address may be "...?id=7"); a fragment never does.
        std::string objectName = parts_.urlPath + parts_.extraInfo;
        objectName = objectName.substr(0, objectName.find('#'));
        if (!item_.Stopped) request = inet::Request::openHttp(connection, verb, objectName, referer, flags);
    }
    const std::string body = RequestBody();
    if (request && !item_.SendCookies.Empty()) {
        std::string header = "Cookie: ";
        bool first = true;
        for (std::size_t i = 0; i < item_.SendCookies.Count(); ++i) {
            const std::string name = item_.SendCookies.Name(i);
            if (SameText(name, "expires") || SameText(name, "path")) continue;
            if (!first) header += "; ";
            header += name + "=" + item_.SendCookies.Value(i);
            first = false;
        }
        request->addHeader(header);
    }
    if (request && !item_.Stopped && !body.empty()) request->addHeader("CONTENT-TYPE:application/x-www-form-urlencoded");
    if (request) {
        for (const std::string& line : RangeHeaders()) request->addHeader(line);
    }
    bool sent = false;
    if (request && !item_.Stopped) sent = request->send(body);
    // The caller records what went wrong: the last error stays as the send left it.
    if (item_.Stopped || !sent) request.reset();
    return request;
}

std::unique_ptr<inet::Request> ItemTransfer::OpenFtp(const std::shared_ptr<inet::Session>& session) {
    std::shared_ptr<inet::Connection> connection;
    if (!item_.Stopped) {
        connection = inet::Connection::connect(session, parts_.host, parts_.port, item_.UserName, item_.Password,
                                               inet::Service::Ftp);
        if (connection) item_.KeepConnectionHandle(connection);
    }
    if (!connection) return nullptr;
    if (const auto found = inet::ftpFindFirstFile(connection, parts_.urlPath)) {
        item_.Date = 0;
        if (found->modified) {
            try {
                item_.Date = LocalDateTimeOf(*found->modified);
            } catch (const std::exception&) {
                item_.Date = 0;
            }
        }
        length_ = static_cast<std::uint64_t>(std::max<std::int64_t>(found->size, 0));
    } else if (item_.CheckOnly) {
        RecordTransferError(item_);
        item_.State = dsFailed;
    }
    if (item_.State == dsFailed) return nullptr;
    return inet::Request::openFtpFile(connection, parts_.urlPath, inet::kFlagReload);
}

bool ItemTransfer::Accepted() const {
    if (item_.ContentType.empty()) return true;
    bool accepted = true;
    if (!item_.AcceptTypes.empty()) {
        const auto lines = linesOf(item_.AcceptTypes);
        accepted = std::any_of(lines.begin(), lines.end(),
                               [&](const std::string& line) { return SameText(line, item_.ContentType); });
    }
    if (accepted) {
        accepted = std::none_of(item_.RejectTypes.begin(), item_.RejectTypes.end(),
                                [&](const std::string& type) { return SameText(type, item_.ContentType); });
    }
    return accepted;
}

void ItemTransfer::ReadHeaders(inet::Request& request) {
    const std::string status = QueryHeader(request, inet::kQueryStatusCode);
    const bool ranged = rangeFrom_ > 0;
    if (!status.empty()) {
        const auto number = decimal(status);
        item_.StatusCode = number && *number <= 999 ? static_cast<std::int32_t>(*number) : 0;
        if (item_.StatusCode != 200 && item_.StatusCode != 302 && !(ranged && item_.StatusCode == 206)) {
            item_.FailItem(kErrorNotConnected, HttpStatusText(item_.StatusCode));
            // A server that cannot serve now says nothing against the bytes held.
            if (ranged && item_.StatusCode < 500) heldTrusted_ = false;
        }
    }
    const std::string location = QueryHeader(request, inet::kQueryLocation);
    item_.ResponseURL = request.redirected() ? request.finalUrl() : item_.URL;
    item_.Location = location.empty() ? item_.ResponseURL : location;
    // A redirect that was not followed for want of a usable Location is no
    // answer: its body must not pass for the song.
    if (isRedirectStatus(item_.StatusCode) &&
        (location.find_first_not_of(" \t") == std::string::npos || !inet::combineUrl(request.finalUrl(), location)))
        item_.FailItem(kErrorNotConnected, kTextRedirectWithoutLocation);
    item_.ContentType = trimBlanks(QueryHeader(request, inet::kQueryContentType));
    if (!Accepted()) item_.FailItem(kErrorPrecondFailed, kTextPrecondFailed);
    ParseSetCookies(QueryHeader(request, inet::kQueryRawHeaders), item_.ReceivedCookies,
                    item_.StripCookieAttributes);
    if (const auto length = decimal(QueryHeader(request, inet::kQueryContentLength))) length_ = *length;
    const std::string modified = QueryHeader(request, inet::kQueryLastModified);
    if (!modified.empty()) {
        try {
            item_.Date = ParseLastModified(modified);
        } catch (const std::exception&) {
            // Left as it was.
        }
    }
    if (item_.State == dsFailed) return;
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
            item_.Date = LocalDateTimeOf(info.st_mtime);
        } catch (const std::exception&) {
            item_.Date = 0;
        }
    }
}

bool ItemTransfer::PassesSizeLimit(std::uint64_t size) {
    if (item_.SizeLimit == 0 || size <= item_.SizeLimit) return true;
    item_.Stopped = true;
    item_.FailItem(kErrorSizeLimit, kTextSizeLimit);
    return false;
}

// The bytes cannot be kept: the item fails at once (and still gets its end
// report), reading no further.
void ItemTransfer::FailWriting(int error) {
    const FileFailure failure = FileFailureOf(error);
    item_.FailItem(failure.code, failure.text);
}

bool ItemTransfer::StartPartFile() {
    int error = MakeFolders(item_.SaveFolder);
    if (error == 0) {
        if (TDlDownloads* downloads = item_.Collection()) downloads->SweepFolderOnce(item_.SaveFolder);
        if (auto file = PartFile::Create(item_.SaveFolder, error)) error = item_.Data.MoveToFile(std::move(file));
    }
    if (error == 0) return true;
    FailWriting(error);
    return false;
}

void ItemTransfer::ReadBody(std::unique_ptr<inet::Request>& request) {
    // Nothing is had ahead of the bytes: not the announced length in memory
    // nor on disk. They go to the part file as they come, but for a page,
    // which is held in memory up to its limit.
    const bool toFile = !item_.SaveFolder.empty();
    const bool page = IsHtmlContentType(item_.ContentType);
    std::uint32_t t = platform::tickCount();
    std::uint32_t lastReport = 0;
    bool ok = true;
    std::size_t n = 0;
    for (;;) {
        do {
            const std::uint32_t at = item_.Size;
            // The part file (and its folder) is made with the first bytes: an
            // empty answer leaves nothing behind.
            if (toFile && !item_.Data.InFile() && at > 0 && (!page || at >= kPageInMemoryLimit) && !StartPartFile())
                return;
            // Read straight to the bytes' place (memory, or the file's staging
            // buffer): no copy on the way. Bytes that arrive beyond this read
            // wait in place for the next.
            std::size_t room = 0;
            char* place = item_.Data.WritableTail(kReadChunk, room);
            // Bytes bound for the file never wait in memory beyond what is taken,
            // so they move there with nothing left in place; a page in memory
            // takes none past its limit.
            if (toFile && !item_.Data.InFile()) room = std::min(room, page ? kPageInMemoryLimit - at : kReadChunk);
            ok = request->read(place, std::min(room, kReadChunk), room, n);
            if (ok && n > 0) {
                if (at + static_cast<std::uint64_t>(n) > kMaxSize) {
                    item_.FailItem(inet::kErrConnectionAborted, InternetErrorText(inet::kErrConnectionAborted));
                    break;
                }
                // More than the range its answer announced: that answer lied,
                // and none of it may join the bytes held.
                if (rangeEnd_ != 0 && at + static_cast<std::uint64_t>(n) > rangeEnd_) {
                    heldTrusted_ = false;
                    item_.FailItem(kErrorNotConnected, HttpStatusText(item_.StatusCode));
                    break;
                }
                const std::uint32_t now = platform::tickCount();
                if (TDlDownloads* downloads = item_.Collection())
                    downloads->AddTraffic(platform::ticksBetween(t, now), static_cast<std::int64_t>(n));
                t = now;
                const std::uint32_t size = at + static_cast<std::uint32_t>(n);
                item_.Size = size;
                if (length_ != 0)
                    item_.Percent =
                        static_cast<std::int32_t>(std::nearbyint(static_cast<double>(size) / length_ * 100));
                if (const int error = item_.Data.Commit(n)) {
                    FailWriting(error);
                    return;
                }
                // Never more than this one read past the limit.
                if (!PassesSizeLimit(size)) return;
                if (!item_.Stopped && platform::ticksBetween(lastReport, now) > kReportInterval) {
                    lastReport = now;
                    Notify(true);
                }
            }
        } while (!item_.Stopped && ok && n > 0);
        if (item_.Stopped || item_.State == dsFailed) break;
        // A range that ended before the song did: the rest is still to come.
        const bool shortRange = ok && rangeEnd_ != 0 && item_.Size < length_;
        if (ok && !shortRange) break;
        const int error = ok ? 0 : inet::lastError();
        const Carrying carrying = ok || isBrokenLine(error) ? ContinueAfterStop(request) : Carrying::NotContinued;
        if (carrying == Carrying::Ended) return;
        if (carrying == Carrying::NotContinued) {
            if (shortRange) {
                item_.FailItem(inet::kErrConnectionAborted, InternetErrorText(inet::kErrConnectionAborted));
                return;
            }
            inet::setLastError(error);
            break;
        }
        t = platform::tickCount();
    }
    if (!ok) {
        RecordTransferError(item_);
        if (item_.ErrorCode != 0) item_.State = dsFailed;
    }
    if (item_.Stopped && item_.ErrorCode == 0) RecordTransferError(item_);
    if (ok && !item_.Stopped && item_.State != dsFailed) {
        if (const int error = item_.Data.Flush()) FailWriting(error);
    }
}

// ---- continuing where the transfer stopped ------------------------------------

bool ItemTransfer::MayContinue() const {
    return item_.ContinueTransfer && item_.Method == dmGet && !item_.IsLink && !item_.CheckOnly &&
           RequestBody().empty() && isHttpScheme(parts_.scheme);
}

void ItemTransfer::TakeUpKeptPart() {
    if (item_.SaveFolder.empty() || item_.KeepName.empty()) return;
    TDlDownloads* downloads = item_.Collection();
    const bool continuing = MayContinue();
    const AskedDownload asked{item_.URL, item_.KeepName, continuing};
    if (downloads) downloads->SweepFolderOnce(item_.SaveFolder, &asked);
    if (!continuing || item_.Stopped) return;
    auto kept = dl::TakeUpKeptPart(item_.SaveFolder, item_.URL, item_.KeepName, std::time(nullptr));
    if (!kept) return;
    identity_ = kept->identity;
    // Across runs only with a validator the server can check it by.
    if (IfRangeValidator().empty() || item_.Data.MoveToFile(std::move(kept->file)) != 0) {
        if (kept->file) kept->file->Remove();
        item_.Data.Clear();
        identity_ = PartIdentity();
        return;
    }
    rangeFrom_ = identity_.held;
    continuable_ = true;
}

std::string ItemTransfer::IfRangeValidator() const {
    if (fitsInHeader(identity_.etag) && !inet::isWeakEntityTag(identity_.etag)) return identity_.etag;
    if (fitsInHeader(identity_.lastModified)) return identity_.lastModified;
    return {};
}

std::vector<std::string> ItemTransfer::RangeHeaders() const {
    if (rangeFrom_ == 0) return {};
    return inet::rangeRequestHeaders(rangeFrom_, IfRangeValidator());
}

ItemTransfer::RangeAnswer ItemTransfer::JudgeRangeAnswer(const inet::Request& request, bool afterStop) {
    const auto refused = [this] {
        heldTrusted_ = false;
        item_.FailItem(kErrorNotConnected, HttpStatusText(item_.StatusCode));
        return RangeAnswer::Refused;
    };
    if (item_.StatusCode == 200) {
        // The whole file again: the song starts over with it, unless what
        // comes now is a page where a song was coming.
        if (afterStop && IsHtmlContentType(item_.ContentType)) return refused();
        return RangeAnswer::StartsOver;
    }
    if (item_.StatusCode >= 500) {
        // A server that cannot serve now says nothing against the bytes held.
        item_.FailItem(kErrorNotConnected, HttpStatusText(item_.StatusCode));
        return RangeAnswer::Refused;
    }
    if (item_.StatusCode != 206) return refused();
    // The rest, and only if it is the rest of the very file the bytes held
    // came from: from the first byte missing, of the same whole length, with
    // the same validators, and no more bytes than it says.
    const auto range = inet::parseContentRange(QueryHeader(request, inet::kQueryContentRange));
    if (!range || range->first != rangeFrom_ || !range->total) return refused();
    if (identity_.length != 0 && *range->total != identity_.length) return refused();
    if (const auto length = decimal(QueryHeader(request, inet::kQueryContentLength));
        length && *length != range->count())
        return refused();
    const std::string etag = QueryHeader(request, inet::kQueryETag);
    const std::string modified = QueryHeader(request, inet::kQueryLastModified);
    if ((!etag.empty() && etag != identity_.etag) || (!modified.empty() && modified != identity_.lastModified))
        return refused();
    if (IsHtmlContentType(item_.ContentType)) return refused();
    identity_.length = *range->total;
    length_ = *range->total;
    rangeEnd_ = range->last + 1;
    if (item_.Date == 0 && !identity_.lastModified.empty()) {
        try {
            item_.Date = ParseLastModified(identity_.lastModified);
        } catch (const std::exception&) {
            // No date, then.
        }
    }
    return RangeAnswer::Appends;
}

void ItemTransfer::TakeIdentity(const inet::Request& request) {
    identity_ = PartIdentity();
    identity_.url = item_.URL;
    identity_.name = item_.KeepName;
    identity_.etag = QueryHeader(request, inet::kQueryETag);
    identity_.lastModified = QueryHeader(request, inet::kQueryLastModified);
    identity_.length = length_;
    heldTrusted_ = true;
    rangeEnd_ = 0;
    // Only a song's whole answer is continued, and only when the server
    // does not rule it out and the rest can be told to be of the same file:
    // by its validator, or at least by its length.
    const std::string ranges = QueryHeader(request, inet::kQueryAcceptRanges);
    continuable_ = MayContinue() && item_.StatusCode == 200 && !IsHtmlContentType(item_.ContentType) &&
                   !SameText(trimBlanks(ranges), "none") && (length_ != 0 || !IfRangeValidator().empty());
}

void ItemTransfer::StartOver() {
    // What was continued before counts for nothing now.
    continuations_ = 0;
    item_.Data.Clear();
    item_.Size = 0;
    item_.Percent = 0;
    rangeFrom_ = 0;
    rangeEnd_ = 0;
}

void ItemTransfer::ReadContinuationHead(inet::Request& request) {
    if (request.handleType() != inet::kHandleHttpRequest) {
        item_.FailItem(inet::kErrInvalidServerResponse, InternetErrorText(inet::kErrInvalidServerResponse));
        return;
    }
    const auto status = decimal(QueryHeader(request, inet::kQueryStatusCode));
    item_.StatusCode = status && *status <= 999 ? static_cast<std::int32_t>(*status) : 0;
    item_.ContentType = trimBlanks(QueryHeader(request, inet::kQueryContentType));
    switch (JudgeRangeAnswer(request, true)) {
        case RangeAnswer::Appends:
            ++continuations_;
            break;
        case RangeAnswer::StartsOver: {
            StartOver();
            const auto length = decimal(QueryHeader(request, inet::kQueryContentLength));
            length_ = length.value_or(0);
            const std::string modified = QueryHeader(request, inet::kQueryLastModified);
            item_.Date = 0;
            if (!modified.empty()) {
                try {
                    item_.Date = ParseLastModified(modified);
                } catch (const std::exception&) {
                    // No date, then.
                }
            }
            TakeIdentity(request);
            break;
        }
        case RangeAnswer::Refused:
            return;
    }
    if (!Accepted()) {
        item_.FailItem(kErrorPrecondFailed, kTextPrecondFailed);
        return;
    }
    if (length_ > kMaxSize) {
        item_.FailItem(inet::kErrConnectionAborted, InternetErrorText(inet::kErrConnectionAborted));
        return;
    }
    // The limit holds over the whole song, whatever answer brings its rest.
    PassesSizeLimit(length_);
}

// Kept for a later run: what a song's transfer wrote before the line broke
// or the user stopped it, when the server can be asked for the rest of that
// very file; not what a limit refused, nor what could not be written.
bool ItemTransfer::ShouldKeep() const {
    const std::int32_t code = item_.ErrorCode;
    const bool lineOrStop = code == kErrorStopped || code == kErrorNotConnected || code >= 12000;
    const std::uint64_t held = item_.Data.Size();
    return continuable_ && heldTrusted_ && lineOrStop && !item_.KeepName.empty() && held > 0 &&
           (identity_.length == 0 || held < identity_.length) && !IfRangeValidator().empty();
}

bool ItemTransfer::PauseBeforeContinuing() {
    std::chrono::milliseconds pause{500};
    if (TDlDownloads* downloads = item_.Collection()) {
        pause = downloads->ContinuePause;
        if (downloads->RunPointHook) downloads->RunPointHook(2);
    }
    pause *= 1 << std::min(continuationAttempts_, 10);
    ++continuationAttempts_;
    return session_->signal()->waitFor(pause) || item_.Stopped;
}

ItemTransfer::Carrying ItemTransfer::ContinueAfterStop(std::unique_ptr<inet::Request>& request) {
    if (!continuable_ || !heldTrusted_ || item_.Size == 0 || continuationAttempts_ >= kMaxContinuations ||
        (length_ != 0 && item_.Size >= length_))
        return Carrying::NotContinued;
    // The bytes held are on the disk before the rest is asked for.
    if (!item_.SaveFolder.empty() && !item_.Data.InFile() && !StartPartFile()) return Carrying::Ended;
    if (const int error = item_.Data.Flush()) {
        FailWriting(error);
        return Carrying::Ended;
    }
    request.reset();  // its connection goes
    while (continuationAttempts_ < kMaxContinuations) {
        if (PauseBeforeContinuing()) return Carrying::Ended;  // stopped: Run ends it as such
        rangeFrom_ = item_.Size;
        rangeEnd_ = 0;
        inet::setLastError(0);
        request = OpenRequest();
        if (!request) {
            if (item_.Stopped) return Carrying::Ended;
            const int error = inet::lastError();
            if (isUnanswered(error) && continuationAttempts_ < kMaxContinuations) continue;
            RecordTransferError(item_);
            item_.State = dsFailed;
            return Carrying::Ended;
        }
        ReadContinuationHead(*request);
        if (item_.State == dsFailed) return Carrying::Ended;
        return Carrying::On;
    }
    return Carrying::Ended;
}

}  // namespace dl
