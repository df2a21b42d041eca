#include "tests/support/ProbeServer.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace testsupport {
namespace {

constexpr std::size_t kChunk = 16384;

std::optional<std::string> headerValue(const std::string& head, std::string name) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos) return std::nullopt;
    const auto start = head.find_first_not_of(' ', at + name.size() + 3);
    const auto end = head.find("\r\n", start);
    return head.substr(start, end - start);
}

// "bytes=A-B" or "bytes=A-": [first, last], clipped to `size`.
std::optional<std::pair<std::uint64_t, std::uint64_t>> rangeOf(const std::string& value, std::uint64_t size) {
    if (value.rfind("bytes=", 0) != 0) return std::nullopt;
    const auto dash = value.find('-', 6);
    if (dash == std::string::npos) return std::nullopt;
    try {
        const std::uint64_t first = std::stoull(value.substr(6, dash - 6));
        std::uint64_t last = dash + 1 < value.size() ? std::stoull(value.substr(dash + 1)) : size - 1;
        last = std::min(last, size - 1);
        if (first > last) return std::nullopt;
        return std::make_pair(first, last);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

ProbeServer::ProbeServer(std::map<std::string, Route> routes, std::shared_ptr<Concurrency> shared)
    : routes_(std::move(routes)), shared_(std::move(shared)), server_([this](LoopbackConnection& c) { serve(c); }) {}

ProbeServer::~ProbeServer() { server_.stop(); }

std::vector<ProbeServer::Request> ProbeServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ProbeServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return requested_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

std::uint64_t ProbeServer::bodyBytesSent() const {
    std::lock_guard lock(mutex_);
    return bodyBytesSent_;
}

void ProbeServer::serve(LoopbackConnection& connection) {
    std::string head;
    if (!connection.receiveUntil(head, "\r\n\r\n", Clock::now() + std::chrono::seconds(30), 65536)) return;
    Request request;
    const auto space = head.find(' ');
    request.method = head.substr(0, space);
    request.target = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    request.range = headerValue(head, "Range");
    request.acceptEncoding = headerValue(head, "Accept-Encoding");
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    requested_.notify_all();
    const auto route = routes_.find(request.target);
    Route r;
    if (route == routes_.end()) {
        r.status = 404;
        r.body = "<html>not found</html>";
        r.contentType = "text/html";
    } else {
        r = route->second;
    }
    // Counted from the request's arrival to the answer's first byte: both
    // fall within the client's request, however late this thread runs, so
    // the most at once is never more than the client held.
    struct Counted {
        std::vector<Concurrency*> counts;
        explicit Counted(std::vector<Concurrency*> c) : counts(std::move(c)) {
            for (Concurrency* k : counts) {
                std::lock_guard lock(k->mutex);
                k->most = std::max(k->most, ++k->open);
            }
        }
        ~Counted() {
            for (Concurrency* k : counts) {
                std::lock_guard lock(k->mutex);
                --k->open;
            }
        }
    };
    std::optional<Counted> counted;
    counted.emplace(shared_ ? std::vector<Concurrency*>{own_.get(), shared_.get()} : std::vector<Concurrency*>{own_.get()});
    if (r.delay.count() > 0 && !connection.pause(r.delay)) return;
    counted.reset();

    std::string_view body = r.body;
    int status = r.status;
    std::string extra;
    if (status == 200 && r.honourRange && request.range && !r.body.empty()) {
        if (const auto range = rangeOf(*request.range, r.body.size())) {
            status = 206;
            body = body.substr(range->first, range->second - range->first + 1);
            const std::string asked = request.range->substr(request.range->find('-') + 1);
            extra = "Content-Range: bytes " + std::to_string(range->first) + "-" +
                    (r.rangeAsAsked ? asked : std::to_string(range->second)) + "/" + std::to_string(r.body.size()) +
                    "\r\n";
        } else {
            status = 416;
            body = {};
            extra = "Content-Range: bytes */" + std::to_string(r.body.size()) + "\r\n";
        }
    }
    if (!r.etag.empty()) extra += "ETag: " + r.etag + "\r\n";
    if (!r.lastModified.empty()) extra += "Last-Modified: " + r.lastModified + "\r\n";
    const std::string answer = "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: " + r.contentType +
                               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
                               "Connection: close\r\n\r\n";
    if (!connection.sendAll(answer)) return;
    for (std::size_t at = 0; at < body.size(); at += kChunk) {
        const std::string_view chunk = body.substr(at, kChunk);
        if (!connection.sendAll(chunk, std::chrono::seconds(10))) return;
        std::lock_guard lock(mutex_);
        bodyBytesSent_ += chunk.size();
    }
    connection.shutdownWrite();
    connection.drainUntilClosed();
}

}  // namespace testsupport
