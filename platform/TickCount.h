#pragma once
#include <chrono>
#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock, wrapping at 2^32 like a 32-bit tick counter.
inline std::uint32_t tickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Milliseconds elapsed from `start` to `now`, correct across one wrap.
inline std::uint32_t ticksBetween(std::uint32_t start, std::uint32_t now) {
    return now - start;
}

}  // namespace platform
