#include "download/inet/InetRateLimit.h"

#include <algorithm>
#include <cmath>

namespace inet {

void RateLimit::setBytesPerSecond(std::int64_t rate) {
    std::lock_guard lock(mutex_);
    rate_ = std::max<std::int64_t>(0, rate);
    // A new limit starts even: nothing owed, nothing saved up.
    tokens_ = 0;
    started_ = false;
}

std::int64_t RateLimit::bytesPerSecond() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

void RateLimit::refill(std::int64_t nowMs) {
    if (!started_) {
        started_ = true;
        lastMs_ = nowMs;
        return;
    }
    const std::int64_t elapsed = std::max<std::int64_t>(0, nowMs - lastMs_);
    lastMs_ = std::max(lastMs_, nowMs);
    tokens_ = std::min(static_cast<double>(rate_), tokens_ + static_cast<double>(rate_) * elapsed / 1000.0);
}

std::int64_t RateLimit::take(std::size_t bytes, std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (rate_ <= 0) return 0;
    refill(nowMs);
    tokens_ -= static_cast<double>(bytes);
    return tokens_ >= 0 ? 0 : static_cast<std::int64_t>(std::ceil(-tokens_ * 1000.0 / static_cast<double>(rate_)));
}

std::int64_t RateLimit::waitLeft(std::int64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (rate_ <= 0) return 0;
    refill(nowMs);
    return tokens_ >= 0 ? 0 : static_cast<std::int64_t>(std::ceil(-tokens_ * 1000.0 / static_cast<double>(rate_)));
}

}  // namespace inet
