#pragma once
// A speed limit shared by transfers: a token bucket that the readers of
// their bodies draw on. A reader that has taken more than the limit allows
// waits before it reads on, and curl, not read from, lets the connection's
// window close, so the server sends no faster. The limit may change, or go,
// while transfers run: a wait looks at it again every kSliceMs. Any thread.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace inet {

class RateLimit {
public:
    // A waiting reader looks at the limit (and the handle's closing) this often.
    static constexpr std::int64_t kSliceMs = 100;

    // Bytes a second for all the transfers together; 0 or less: none.
    void setBytesPerSecond(std::int64_t rate);
    std::int64_t bytesPerSecond() const;

    // `bytes` were read; returns how long to wait before reading on (0: not
    // at all). `nowMs` is a steady clock in milliseconds.
    std::int64_t take(std::size_t bytes, std::int64_t nowMs);
    // How long, from `nowMs`, until the bytes taken so far are paid for.
    std::int64_t waitLeft(std::int64_t nowMs);

private:
    void refill(std::int64_t nowMs);

    mutable std::mutex mutex_;
    std::int64_t rate_ = 0;
    // Bytes that may be read at once; negative: owed. At most a second's worth.
    double tokens_ = 0;
    std::int64_t lastMs_ = 0;
    bool started_ = false;
};

}  // namespace inet
