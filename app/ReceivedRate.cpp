#include "app/ReceivedRate.h"

#include <cmath>

namespace app {

void ReceivedRate::add(std::int64_t nowMs, std::int64_t received) {
    if (count_ > 0 && (received < latest_.received || nowMs < latest_.ms)) clear();
    latest_ = {nowMs, received};
    constexpr std::int64_t kStep = kWindowMs / (kSlots - 1);
    if (count_ == 0 || nowMs - at(count_ - 1).ms >= kStep) {
        if (count_ == kSlots) {
            first_ = (first_ + 1) % kSlots;
            --count_;
        }
        samples_[(first_ + count_) % kSlots] = latest_;
        ++count_;
    }
    while (count_ > 1 && at(0).ms < nowMs - kWindowMs) {
        first_ = (first_ + 1) % kSlots;
        --count_;
    }
}

std::optional<double> ReceivedRate::bytesPerSecond() const {
    if (count_ == 0) return std::nullopt;
    const Sample& oldest = at(0);
    const std::int64_t span = latest_.ms - oldest.ms;
    if (span < kLeastSpanMs) return std::nullopt;
    return static_cast<double>(latest_.received - oldest.received) * 1000.0 / static_cast<double>(span);
}

std::optional<std::int64_t> ReceivedRate::secondsLeft(std::int64_t total) const {
    if (total <= 0 || count_ == 0) return std::nullopt;
    if (latest_.received >= total) return 0;
    const std::optional<double> speed = bytesPerSecond();
    if (!speed || *speed <= 0) return std::nullopt;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(total - latest_.received) / *speed));
}

}  // namespace app
