#include "tests/support/RangeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
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

RangeServer::RangeServer(Setup setup) : setup_(std::move(setup)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) throw std::runtime_error("socket() failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 16) != 0) {
        ::close(listener_);
        throw std::runtime_error("cannot listen on loopback");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        ::close(listener_);
        throw std::runtime_error("eventfd() failed");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

RangeServer::~RangeServer() { stop(); }

std::string RangeServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RangeServer::stop() {
    if (stopping_.exchange(true)) return;
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        // A send the client does not read returns at once.
        for (const int fd : connections_) {
            if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        }
        threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
    ::close(listener_);
    ::close(wakeFd_);
}

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
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return answersEnded_ >= count; });
}

void RangeServer::acceptLoop() {
    for (;;) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        // The client closed a connection before it opened this one, so its
        // end is already there to see: those still open are held by it.
        std::size_t open = 1;
        for (const int other : connections_) {
            if (other < 0) continue;
            pollfd p{other, POLLRDHUP, 0};
            if (::poll(&p, 1, 0) == 0) ++open;
        }
        maxOpen_ = std::max(maxOpen_, open);
        const std::size_t slot = connections_.size();
        connections_.push_back(fd);
        threads_.emplace_back([this, slot, fd] {
            serve(slot, fd);
            std::lock_guard done(mutex_);
            connections_[slot] = -1;
            ::close(fd);
            ++answersEnded_;
            changed_.notify_all();
        });
    }
}

bool RangeServer::sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        if (stopping_) return false;
        const ssize_t n = ::send(fd, data, std::min<std::size_t>(size, 256 * 1024), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void RangeServer::holdUntilClientGoes(int fd) {
    char buffer[4096];
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
    }
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

bool RangeServer::holdUntilReleased(int fd, const std::string& target) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (releasedAll_ || released_.count(target) > 0) return true;
        }
        // Looked at again every few milliseconds: the verdicts wait on the
        // client, never on this pace.
        pollfd p[2] = {{fd, POLLRDHUP, 0}, {wakeFd_, POLLIN, 0}};
        const int r = ::poll(p, 2, 5);
        if (r < 0 && errno != EINTR) return false;
        if (r > 0) return false;  // the client went, or the server stops
    }
}

bool RangeServer::sendBody(int fd, const std::string& body, std::uint64_t from, std::uint64_t to) {
    const auto start = Clock::now();
    const std::size_t pieceSize = setup_.bytesPerSecond != 0 ? 64 * 1024 : 256 * 1024;
    for (std::uint64_t at = from; at < to;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(to - at, pieceSize));
        if (!sendAll(fd, body.data() + at, piece)) return false;
        at += piece;
        bodyBytesSent_ += piece;
        if (setup_.bytesPerSecond == 0) continue;
        // Ahead of the rate: wait until the bytes sent are due, or the server stops.
        const auto due = start + std::chrono::microseconds((at - from) * 1000000 / setup_.bytesPerSecond);
        const auto ahead = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        if (ahead > 0) {
            pollfd p{wakeFd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(ahead)) > 0) return false;
        }
    }
    return true;
}

void RangeServer::serve(std::size_t, int fd) {
    // The request head, bounded in size and time.
    std::string head;
    const auto deadline = Clock::now() + kHeadWait;
    while (head.find("\r\n\r\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || head.size() > kMaxHead) return;
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int r = ::poll(p, 2, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || p[1].revents) return;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<std::size_t>(n));
    }
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
        sendAll(fd, answer.data(), answer.size());
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
            sendAll(fd, answer.data(), answer.size());
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
    if (!sendAll(fd, answer.data(), answer.size())) return;

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
        if (!sendBody(fd, body, from, setup_.holdAt) || !holdUntilReleased(fd, request.target)) return;
        from = setup_.holdAt;
    }
    if (!sendBody(fd, body, from, cut)) return;
    if (drops && setup_.drop == Drop::Stall) {
        holdUntilClientGoes(fd);
        return;
    }
    // An orderly end: the client reads every byte sent before it.
    ::shutdown(fd, SHUT_WR);
}

}  // namespace testsupport
