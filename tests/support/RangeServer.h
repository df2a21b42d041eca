#pragma once
// A loopback HTTP/1.1 server of one file that answers a request for the
// whole file, or for the rest of it ("Range: bytes=N-", with or without
// "If-Range"), and misbehaves as it is told: it drops the connection (or
// falls silent) at given offsets of the file, ignores ranges, refuses them
// with 416, lies in its Content-Range, changes the file between requests,
// or leaves requests unanswered. Each connection carries one request. It
// records the requests and counts the body bytes it sent. Plain C++, for
// the tests and the benchmarks alike; every wait is bounded or ended by
// stop().
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

// `size` bytes of a pattern that repeats only every 251 bytes and differs by `seed`.
std::shared_ptr<const std::string> patternBody(std::size_t size, unsigned seed = 0);
// `size` bytes of MPEG-1 layer III frames (128 kbps, 44.1 kHz, 417 bytes
// each; the last one cut) whose payloads are that pattern: a song as the
// downloads list accepts one.
std::shared_ptr<const std::string> songBody(std::size_t size, unsigned seed = 0);

class RangeServer {
public:
    struct Version {
        std::shared_ptr<const std::string> body;
        std::string etag;          // sent as it is (quotes included); empty: none
        std::string lastModified;  // empty: none
    };
    enum class Ranges {
        Honoured,  // 206 with the rest
        Ignored,   // 200 with the whole file
        Refused,   // 416
    };
    // How a 206 goes wrong.
    enum class Lie {
        None,
        StartsLater,           // claims (and sends) the rest from one byte further on
        StartsEarlier,         // from one byte before
        OtherTotal,            // a whole length one byte longer
        NoContentRange,        // no Content-Range at all
        NoTotal,               // "bytes N-M/*"
        Malformed,             // "bytes N-M" without a length
        TwoContentRanges,      // the right one, then another
        LengthDiffers,         // a Content-Length one byte short of the range
        MoreThanItSays,        // a range one byte short of what it sends, without a Content-Length
    };
    enum class Drop {
        Close,  // the connection ends (FIN)
        Stall,  // it falls silent until the client goes
    };
    struct Setup {
        Version file;
        // Served from request `changeAt` (0-based) on, when it has a body.
        Version changed;
        std::size_t changeAt = 0;
        // A stale If-Range gets the whole file (200); false: it is ignored.
        bool ifRangeHonoured = true;
        std::string acceptRanges = "bytes";  // empty: no Accept-Ranges header
        Ranges ranges = Ranges::Honoured;
        Lie lie = Lie::None;
        // Offsets of the file, in order: an answer that would send past the
        // next one not yet reached sends up to it and drops there.
        std::vector<std::uint64_t> dropAt;
        Drop drop = Drop::Close;
        // Requests (0-based) closed before any answer.
        std::set<std::size_t> unanswered;
        // Requests (0-based) answered with this status and a short body.
        std::map<std::size_t, int> statusOf;
        // ... and with this Retry-After value.
        std::map<std::size_t, std::string> retryAfterOf;
        // An answer stops after this offset of the file (0: never) until
        // release() lets it go on (or the client goes, or stop()).
        std::uint64_t holdAt = 0;
        // Each connection's body goes at most this fast (0: as fast as it can).
        std::uint64_t bytesPerSecond = 0;
        // A 206 carries at most this many bytes (0: all the rest).
        std::uint64_t rangeCap = 0;
        std::string contentType = "audio/mpeg";
        bool sendLength = true;
    };
    struct Request {
        std::string target;
        std::optional<std::string> range;
        std::optional<std::string> ifRange;
    };

    explicit RangeServer(Setup setup);
    ~RangeServer();
    RangeServer(const RangeServer&) = delete;
    RangeServer& operator=(const RangeServer&) = delete;

    int port() const { return server_.port(); }
    std::string url(const std::string& path) const;
    // Stops accepting, ends every connection (a stalled one too) and joins.
    void stop();

    std::vector<Request> requests() const;
    std::size_t requestCount() const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
    // Connections whose answer has ended (sent, dropped, or left by the client).
    bool waitForAnswersEnded(std::size_t count, std::chrono::milliseconds limit) const;
    // Body bytes sent, all answers together.
    std::uint64_t bodyBytesSent() const { return bodyBytesSent_.load(); }
    // Answers held at holdAt to this target (all of them: "") go on, now
    // and from now on.
    void release(const std::string& target = std::string());
    // The most connections the client held open at once, as the server saw
    // them when each new one came (one the client has closed counts no more,
    // even before its answer has ended).
    std::size_t maxOpenConnections() const;

private:
    void serve(LoopbackConnection& connection);
    // Sends `size` bytes of the body from `from`, counting them, at the set rate.
    bool sendBody(LoopbackConnection& connection, const std::string& body, std::uint64_t from, std::uint64_t size);
    // Waits until the target is released; false when the client went or the server stops.
    bool holdUntilReleased(LoopbackConnection& connection, const std::string& target);
    // Counts the connection among those the client holds, and the most at once.
    void opened(int fd);
    void closed(int fd);

    const Setup setup_;
    std::atomic<std::uint64_t> bodyBytesSent_{0};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Request> requests_;
    std::size_t nextDrop_ = 0;
    std::set<std::string> released_;
    bool releasedAll_ = false;
    std::set<int> open_;
    std::size_t maxOpen_ = 0;
    LoopbackServer server_;  // last: its threads use the members above
};

}  // namespace testsupport
