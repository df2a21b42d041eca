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

#include "download/files/DlFileErrors.h"
#include "download/files/DlFileNames.h"
#include "download/engine/DlHeaderParsing.h"
#include "download/texts/DlTexts.h"
#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"
#include "download/engine/ItemTransferRules.h"
#include "download/files/PartFile.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/engine/TDlDownloads.h"
#include "download/inet/InetConnection.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetRange.h"
#include "download/inet/InetRequest.h"
#include "download/inet/InetRequestUrl.h"
#include "download/inet/InetSession.h"
#include "platform/TickCount.h"

namespace dl {

namespace {

bool isRedirectStatus(std::int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

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
    if (item_.IsLink && !IsHttpScheme(parts_.scheme)) {
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
        const auto number = ParseDecimal(status, DecimalOverflow::Saturate);
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
    item_.ContentType = TrimBlanks(QueryHeader(request, inet::kQueryContentType));
    if (!Accepted()) item_.FailItem(kErrorPrecondFailed, kTextPrecondFailed);
    ParseSetCookies(QueryHeader(request, inet::kQueryRawHeaders), item_.ReceivedCookies,
                    item_.StripCookieAttributes);
    if (const auto length = ParseDecimal(QueryHeader(request, inet::kQueryContentLength), DecimalOverflow::Saturate)) length_ = *length;
    const std::string modified = QueryHeader(request, inet::kQueryLastModified);
    if (const auto date = LastModifiedDate(modified)) item_.Date = *date;
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
        const Carrying carrying = ok || IsBrokenLine(error) ? ContinueAfterStop(request) : Carrying::NotContinued;
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

}  // namespace dl
