#include "download/inet/InetRequest.h"

#include <algorithm>

#include "download/inet/InetErrors.h"
#include "download/inet/InetExchange.h"
#include "download/inet/InetRequestUrl.h"
#include "download/inet/InetUrl.h"
#include "download/values/AsciiCase.h"

namespace inet {

namespace {

std::string hostForUrl(const std::string& host) {
    if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
    return host;
}

std::string serverUrl(const char* scheme, const Connection& connection, const std::string& path) {
    std::string url = std::string(scheme) + "://" + hostForUrl(connection.host()) + ":" +
                      std::to_string(connection.port());
    if (path.empty() || path.front() != '/') url += '/';
    return url + path;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::vector<std::shared_ptr<AbortSignal>> signalsOf(const std::shared_ptr<Session>& session,
                                                    const std::shared_ptr<Connection>& connection) {
    std::vector<std::shared_ptr<AbortSignal>> signals{session->signal()};
    if (connection) signals.push_back(connection->signal());
    return signals;
}

}  // namespace

Request::Request(std::shared_ptr<Session> session, std::shared_ptr<Connection> connection, int handleType)
    : session_(std::move(session)),
      connection_(std::move(connection)),
      handleType_(handleType),
      exchange_(std::make_unique<Exchange>(signalsOf(session_, connection_))) {
    if (connection_) {
        userName_ = connection_->userName();
        password_ = connection_->password();
    }
}

Request::~Request() = default;

Result<std::unique_ptr<Request>> Request::openHttp(std::shared_ptr<Connection> connection, const std::string& verb,
                                                   const std::string& objectName, const std::string& referer,
                                                   std::uint32_t flags) {
    if (!connection || connection->closed()) return dl::kErrStopped;
    if (connection->service() != Service::Http) return dl::kErrIncorrectHandleType;
    std::unique_ptr<Request> request(new Request(connection->session(), connection, kHandleHttpRequest));
    request->url_ = serverUrl("http", *connection, objectName);
    request->verb_ = verb.empty() ? "GET" : verb;
    request->referer_ = referer;
    request->flags_ = flags;
    request->protocols_ = "http,https";
    if (flags & kFlagPragmaNoCache) request->headers_.push_back("Pragma: no-cache");
    return request;
}

Result<std::unique_ptr<Request>> Request::openUrl(std::shared_ptr<Session> session, const std::string& url,
                                                  std::uint32_t flags, const std::vector<std::string>& headers) {
    if (!session || session->closed()) return dl::kErrStopped;
    const auto parts = crackUrl(url);
    if (!parts) return url.find("://") == std::string::npos ? dl::kErrUnrecognizedScheme : dl::kErrInvalidUrl;
    int handleType = 0;
    std::string protocols;
    if (parts->scheme == "http" || parts->scheme == "https") {
        handleType = kHandleHttpRequest;
        protocols = "http,https";
    } else if (parts->scheme == "file") {
        handleType = kHandleFileRequest;
        protocols = "file";
    } else if (parts->scheme == "ftp") {
        handleType = kHandleFtpFile;
        protocols = "ftp";
    } else {
        return dl::kErrUnrecognizedScheme;
    }
    std::unique_ptr<Request> request(new Request(session, nullptr, handleType));
    request->url_ = url;
    request->flags_ = flags;
    request->protocols_ = protocols;
    if (flags & kFlagPragmaNoCache && handleType == kHandleHttpRequest)
        request->headers_.push_back("Pragma: no-cache");
    if (handleType == kHandleHttpRequest) {
        for (const std::string& line : headers) {
            if (auto added = request->addHeader(line); !added) return added.error();
        }
    }
    if (auto performed = request->perform(handleType == kHandleHttpRequest && !(flags & kFlagNoAutoRedirect));
        !performed)
        return performed.error();
    return request;
}

Result<std::unique_ptr<Request>> Request::openFtpFile(std::shared_ptr<Connection> connection,
                                                      const std::string& path, std::uint32_t flags) {
    if (!connection || connection->closed()) return dl::kErrStopped;
    if (connection->service() != Service::Ftp) return dl::kErrIncorrectHandleType;
    std::unique_ptr<Request> request(new Request(connection->session(), connection, kHandleFtpFile));
    request->url_ = serverUrl("ftp", *connection, path);
    request->flags_ = flags;
    request->protocols_ = "ftp";
    if (auto performed = request->perform(false); !performed) return performed.error();
    return request;
}

Result<void> Request::addHeader(const std::string& line) {
    // A line break inside would smuggle in further headers.
    if (line.find_first_of("\r\n") != std::string::npos || line.find(':') == std::string::npos)
        return dl::kErrInvalidHeader;
    headers_.push_back(line);
    return {};
}

Result<void> Request::send(const std::string& body) {
    if (handleType_ != kHandleHttpRequest || sent_) return dl::kErrIncorrectHandleState;
    body_ = body;
    hasBody_ = !body.empty();
    return perform(!(flags_ & kFlagNoAutoRedirect));
}

Result<void> Request::performOnce() {
    ExchangeSetup setup;
    setup.url = url_;
    setup.verb = verb_;
    setup.hasBody = hasBody_;
    setup.body = body_;
    setup.headers = headers_;
    setup.userName = userName_;
    setup.password = password_;
    setup.referer = referer_;
    setup.agent = session_->agent();
    setup.settings = session_->settings();
    if (connection_) {
        setup.proxyUserName = connection_->proxyUserName();
        setup.proxyPassword = connection_->proxyPassword();
    }
    setup.protocols = protocols_;
    const int attempts = std::max(1, setup.settings.connectAttempts);
    for (int attempt = 1;; ++attempt) {
        if (auto started = exchange_->start(setup); !started) return started;
        auto head = exchange_->waitForHead();
        if (head || attempt >= attempts || !exchange_->failedToConnect() || exchange_->aborted()) return head;
    }
}

Result<void> Request::perform(bool followRedirects) {
    sent_ = true;
    for (int hop = 0;; ++hop) {
        if (auto answered = performOnce(); !answered) return answered;
        if (!followRedirects || !isRedirect(exchange_->status())) return {};
        const Result<bool> followed = followRedirect(hop);
        if (!followed) return followed.error();
        if (!*followed) return {};
    }
}

Result<bool> Request::followRedirect(int hop) {
    // Without a Location that makes a URL the redirect stays the answer;
    // the caller tells it apart (it is no song).
    const auto location = exchange_->header("Location");
    if (!location || location->find_first_not_of(" \t") == std::string::npos) return false;
    const auto next = combineUrl(url_, encodeUnsafeBytes(*location));
    const auto nextParts = next ? crackUrl(*next) : std::nullopt;
    if (!nextParts) return false;
    // Like the platform: a redirect may switch between http and https only.
    if (hop >= kMaxRedirects || (nextParts->scheme != "http" && nextParts->scheme != "https"))
        return dl::kErrRedirectFailed;
    const auto currentParts = crackUrl(url_);
    if (!currentParts || !dl::SameText(currentParts->host, nextParts->host)) {
        // Credentials are for the server they were given for.
        userName_.clear();
        password_.clear();
    }
    const int status = exchange_->status();
    if ((status == 303 && verb_ != "HEAD") || ((status == 301 || status == 302) && verb_ == "POST")) {
        verb_ = "GET";
        body_.clear();
        hasBody_ = false;
        headers_.erase(std::remove_if(headers_.begin(), headers_.end(),
                                      [](const std::string& h) { return dl::StartsWithText(h, "content-type:"); }),
                       headers_.end());
    }
    url_ = *next;
    redirected_ = true;
    return true;
}

Result<std::string> Request::queryInfo(int level, std::size_t bufferSize) const {
    if (handleType_ != kHandleHttpRequest) return dl::kErrIncorrectHandleType;
    if (!sent_ || !exchange_->headComplete()) return dl::kErrIncorrectHandleState;
    std::optional<std::string> text;
    switch (level) {
        case kQueryStatusCode:
            if (exchange_->status() > 0) text = std::to_string(exchange_->status());
            break;
        case kQueryLocation:
            text = exchange_->header("Location");
            break;
        case kQueryContentType:
            text = exchange_->header("Content-Type");
            break;
        case kQueryContentLength:
            text = exchange_->header("Content-Length");
            break;
        case kQueryLastModified:
            text = exchange_->header("Last-Modified");
            break;
        // Sent more than once, it reads as a list no reader takes: the
        // answer asks for no particular wait.
        case kQueryRetryAfter:
            text = exchange_->combinedHeader("Retry-After");
            break;
        // Sent more than once, these read as one line joined by ", ", as a
        // list field combines: a repeated Content-Range or ETag then names no
        // range and matches no tag, instead of the first one passing.
        case kQueryAcceptRanges:
            text = exchange_->combinedHeader("Accept-Ranges");
            break;
        case kQueryContentRange:
            text = exchange_->combinedHeader("Content-Range");
            break;
        case kQueryETag:
            text = exchange_->combinedHeader("ETag");
            break;
        case kQueryRawHeaders:
            if (!exchange_->statusLine().empty()) {
                std::string raw = exchange_->statusLine();
                raw += '\0';
                for (const auto& [name, value] : exchange_->headers()) {
                    raw += name;
                    raw += ": ";
                    raw += value;
                    raw += '\0';
                }
                text = std::move(raw);
            }
            break;
        default:
            break;
    }
    if (!text) return dl::kErrHeaderNotFound;
    if (text->size() + 1 > bufferSize) return dl::kErrInsufficientBuffer;
    return std::move(*text);
}

Result<std::size_t> Request::read(char* buffer, std::size_t size, std::size_t room) {
    if (!sent_) return dl::kErrIncorrectHandleState;
    return exchange_->read(buffer, size, room);
}

Result<FtpFileInfo> ftpFindFirstFile(const std::shared_ptr<Connection>& connection, const std::string& path) {
    if (!connection || connection->closed()) return dl::kErrStopped;
    Exchange exchange(signalsOf(connection->session(), connection));
    ExchangeSetup setup;
    setup.url = serverUrl("ftp", *connection, path);
    setup.userName = connection->userName();
    setup.password = connection->password();
    setup.agent = connection->session()->agent();
    setup.settings = connection->session()->settings();
    setup.protocols = "ftp";
    setup.headOnly = true;
    if (auto started = exchange.start(setup); !started) return started.error();
    if (auto ended = exchange.waitForEnd(); !ended) return ended.error();
    FtpFileInfo info;
    info.size = exchange.contentLength().value_or(0);
    if (auto time = exchange.fileTime()) info.modified = static_cast<std::time_t>(*time);
    return info;
}

}  // namespace inet
