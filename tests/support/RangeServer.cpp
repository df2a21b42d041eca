#include "tests/support/RangeServer.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace testsupport {

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr auto kHeadWait = std::chrono::seconds(10);

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// "bytes=N-": N; nothing for any other form.
std::optional<std::uint64_t> rangeStart(const std::string& value) {
    const std::string text = trimmed(value);
    if (text.rfind("bytes=", 0) != 0 || text.back() != '-') return std::nullopt;
    const std::string digits = text.substr(6, text.size() - 7);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoull(digits);
}

const char* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 404: return "Not Found";
        case 408: return "Request Timeout";
        case 416: return "Range Not Satisfiable";
        case 429: return "Too Many Requests";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return "Whatever";
    }
}

}  // namespace

std::shared_ptr<const std::string> patternBody(std::size_t size, unsigned seed) {
    auto body = std::make_shared<std::string>(size, '\0');
    for (std::size_t i = 0; i < size; ++i) (*body)[i] = static_cast<char>((i * 7 + seed * 31 + i / 251) % 256);
    return body;
}

std::shared_ptr<const std::string> songBody(std::size_t size, unsigned seed) {
    constexpr std::size_t kFrame = 417;
    auto body = std::make_shared<std::string>(*patternBody(size, seed));
    for (std::size_t at = 0; at + 4 <= size; at += kFrame) {
        (*body)[at] = static_cast<char>(0xFF);
        (*body)[at + 1] = static_cast<char>(0xFB);
        (*body)[at + 2] = static_cast<char>(0x90);
        (*body)[at + 3] = static_cast<char>(0x00);
    }
    return body;
}

RangeServer::RangeServer(Setup setup)
    : setup_(std::move(setup)), server_([this](LoopbackConnection& connection) { serve(connection); }) {}

RangeServer::~RangeServer() { stop(); }

std::string RangeServer::url(const std::string& path) const { return server_.url(path); }

void RangeServer::stop() { server_.stop(); }

std::vector<RangeServer::Request> RangeServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t RangeServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool RangeServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

bool RangeServer::waitForAnswersEnded(std::size_t count, std::chrono::milliseconds limit) const {
    return server_.waitForEnded(count, limit);
}

bool RangeServer::sendBody(LoopbackConnection& connection, const std::string& body, std::uint64_t from,
                           std::uint64_t size) {
    const auto start = Clock::now();
    const std::size_t pieceSize = setup_.bytesPerSecond != 0 ? 64 * 1024 : 256 * 1024;
    for (std::uint64_t at = from; at < from + size;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(from + size - at, pieceSize));
        if (!connection.sendAll(std::string_view(body).substr(at, piece))) return false;
        at += piece;
        bodyBytesSent_ += piece;
        if (setup_.bytesPerSecond == 0) continue;
        // Ahead of the rate: wait until the bytes sent are due.
        const auto due = start + std::chrono::microseconds((at - from) * 1000000 / setup_.bytesPerSecond);
        const auto ahead = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        if (ahead.count() > 0 && !connection.pause(ahead)) return false;
    }
    return true;
}

void RangeServer::release(const std::string& target) {
    std::lock_guard lock(mutex_);
    if (target.empty())
        releasedAll_ = true;
    else
        released_.insert(target);
    changed_.notify_all();
}

std::size_t RangeServer::maxOpenConnections() const {
    std::lock_guard lock(mutex_);
    return maxOpen_;
}

void RangeServer::opened(int fd) {
    std::lock_guard lock(mutex_);
    // The client closed a connection before it opened this one, so its end
    // is already there to see: those still open are held by it.
    std::size_t open = 1;
    for (const int other : open_) {
        pollfd p{other, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) == 0) ++open;
    }
    maxOpen_ = std::max(maxOpen_, open);
    open_.insert(fd);
}

void RangeServer::closed(int fd) {
    std::lock_guard lock(mutex_);
    open_.erase(fd);
}

bool RangeServer::holdUntilReleased(LoopbackConnection& connection, const std::string& target) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (releasedAll_ || released_.count(target) > 0) return true;
        }
        // Looked at again every few milliseconds: the verdicts wait on the
        // client, never on this pace.
        const Wait wait = connection.wait(POLLRDHUP, Clock::now() + std::chrono::milliseconds(5));
        if (wait != Wait::TimedOut) return false;  // the client went, or the server stops
    }
}

void RangeServer::serve(LoopbackConnection& connection) {
    opened(connection.fd());
    struct Closed {
        RangeServer& server;
        int fd;
        ~Closed() { server.closed(fd); }
    } whenDone{*this, connection.fd()};
    // The request head, bounded in size and time.
    std::string head;
    if (!connection.receiveUntil(head, "\r\n\r\n", Clock::now() + kHeadWait, kMaxHead)) return;
    Request request;
    {
        std::size_t lineEnd = head.find("\r\n");
        const std::string requestLine = head.substr(0, lineEnd);
        const std::size_t space = requestLine.find(' ');
        request.target = requestLine.substr(space + 1, requestLine.rfind(' ') - space - 1);
        for (std::size_t at = lineEnd + 2; at < head.size();) {
            const std::size_t end = head.find("\r\n", at);
            const std::string line = head.substr(at, end - at);
            at = end + 2;
            if (line.empty()) break;
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string name = lowerCase(line.substr(0, colon));
            const std::string value = trimmed(line.substr(colon + 1));
            if (name == "range") request.range = value;
            if (name == "if-range") request.ifRange = value;
        }
    }
    std::size_t index = 0;
    {
        std::lock_guard lock(mutex_);
        index = requests_.size();
        requests_.push_back(request);
        changed_.notify_all();
    }
    if (setup_.unanswered.count(index)) return;
    if (const auto status = setup_.statusOf.find(index); status != setup_.statusOf.end()) {
        const auto retryAfter = setup_.retryAfterOf.find(index);
        const std::string answer = "HTTP/1.1 " + std::to_string(status->second) + " " + reason(status->second) +
                                   "\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n" +
                                   (retryAfter == setup_.retryAfterOf.end()
                                        ? std::string()
                                        : "Retry-After: " + retryAfter->second + "\r\n") +
                                   "Connection: close\r\n\r\nerror";
        connection.sendAll(answer);
        return;
    }

    const Version& version = setup_.changed.body && index >= setup_.changeAt ? setup_.changed : setup_.file;
    const std::string& body = *version.body;
    const std::uint64_t total = body.size();
    int status = 200;
    std::uint64_t from = 0;
    std::uint64_t end = total;
    std::string rangeHeaders;
    bool sendLength = setup_.sendLength;
    const auto start = request.range ? rangeStart(*request.range) : std::nullopt;
    if (start && setup_.ranges != Ranges::Ignored) {
        const bool stale = request.ifRange && setup_.ifRangeHonoured &&
                           !(*request.ifRange == version.etag && version.etag.rfind("W/", 0) != 0) &&
                           *request.ifRange != version.lastModified;
        if (setup_.ranges == Ranges::Refused || (!stale && *start >= total)) {
            const std::string answer = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                                       std::to_string(total) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            connection.sendAll(answer);
            return;
        }
        if (!stale) {
            status = 206;
            from = *start;
            if (setup_.rangeCap != 0) end = std::min(total, from + setup_.rangeCap);
            std::uint64_t claimed = from;
            if (setup_.lie == Lie::StartsLater && from + 1 < total) claimed = from + 1;
            if (setup_.lie == Lie::StartsEarlier && from > 0) claimed = from - 1;
            const std::uint64_t last = end - 1;
            const std::string right = "bytes " + std::to_string(claimed) + "-" + std::to_string(last) + "/" +
                                      std::to_string(total);
            switch (setup_.lie) {
                case Lie::None:
                case Lie::StartsLater:
                case Lie::StartsEarlier:
                case Lie::LengthDiffers:
                    rangeHeaders = "Content-Range: " + right + "\r\n";
                    break;
                case Lie::OtherTotal:
                    rangeHeaders = "Content-Range: bytes " + std::to_string(claimed) + "-" + std::to_string(last) +
                                   "/" + std::to_string(total + 1) + "\r\n";
                    break;
                case Lie::NoContentRange:
                    break;
                case Lie::NoTotal:
                    rangeHeaders = "Content-Range: bytes " + std::to_string(claimed) + "-" + std::to_string(last) +
                                   "/*\r\n";
                    break;
                case Lie::Malformed:
                    rangeHeaders = "Content-Range: bytes " + std::to_string(claimed) + "-" + std::to_string(last) +
                                   "\r\n";
                    break;
                case Lie::TwoContentRanges:
                    rangeHeaders = "Content-Range: " + right + "\r\nContent-Range: bytes 0-" + std::to_string(last) +
                                   "/" + std::to_string(total) + "\r\n";
                    break;
                case Lie::MoreThanItSays:
                    rangeHeaders = "Content-Range: bytes " + std::to_string(claimed) + "-" +
                                   std::to_string(last - 1) + "/" + std::to_string(total) + "\r\n";
                    sendLength = false;
                    break;
            }
            from = claimed;
        }
    }
    std::uint64_t length = end - from;
    if (setup_.lie == Lie::LengthDiffers && status == 206) length -= 1;
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    answer += "Content-Type: " + setup_.contentType + "\r\n";
    if (sendLength) answer += "Content-Length: " + std::to_string(length) + "\r\n";
    if (!version.etag.empty()) answer += "ETag: " + version.etag + "\r\n";
    if (!version.lastModified.empty()) answer += "Last-Modified: " + version.lastModified + "\r\n";
    if (!setup_.acceptRanges.empty()) answer += "Accept-Ranges: " + setup_.acceptRanges + "\r\n";
    answer += rangeHeaders + "Connection: close\r\n\r\n";
    if (!connection.sendAll(answer)) return;

    std::uint64_t cut = from + length;
    bool drops = false;
    {
        std::lock_guard lock(mutex_);
        while (nextDrop_ < setup_.dropAt.size() && setup_.dropAt[nextDrop_] < from) ++nextDrop_;
        if (nextDrop_ < setup_.dropAt.size() && setup_.dropAt[nextDrop_] < cut) {
            cut = setup_.dropAt[nextDrop_++];
            drops = true;
        }
    }
    if (setup_.holdAt > from && setup_.holdAt < cut) {
        if (!sendBody(connection, body, from, setup_.holdAt - from) || !holdUntilReleased(connection, request.target))
            return;
        from = setup_.holdAt;
    }
    if (!sendBody(connection, body, from, cut - from)) return;
    if (drops && setup_.drop == Drop::Stall) {
        connection.drainUntilClosed();
        return;
    }
    // An orderly end: the client reads every byte sent before it.
    connection.shutdownWrite();
}

}  // namespace testsupport
