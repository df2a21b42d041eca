#pragma once
// A song's speed and the time it still needs, from the bytes received over
// the last few seconds: a moving window, so that a line that slows down or
// speeds up shows it within the window rather than averaged over the whole
// song.
#include <array>
#include <cstdint>
#include <optional>

namespace app {

class ReceivedRate {
public:
    // The span the speed is measured over, and the least span that gives one.
    static constexpr std::int64_t kWindowMs = 5000;
    static constexpr std::int64_t kLeastSpanMs = 500;

    // `received` bytes held at `nowMs` (any steady clock). A count that goes
    // down (the song started over) starts the window again.
    void add(std::int64_t nowMs, std::int64_t received);
    void clear() { count_ = 0; }
    // Whether the window has its base: the first count given since it was
    // made or cleared. Counts before it (bytes kept from before, or held
    // when the transfer began) are never speed.
    bool hasBase() const { return count_ > 0; }

    // Bytes per second over the window; nothing before it spans kLeastSpanMs.
    std::optional<double> bytesPerSecond() const;
    // Seconds until `total` bytes are held at the current speed; nothing
    // without a total, a speed, or while nothing arrives.
    std::optional<std::int64_t> secondsLeft(std::int64_t total) const;

private:
    struct Sample {
        std::int64_t ms = 0;
        std::int64_t received = 0;
    };
    // Samples at least kWindowMs / (kSlots - 1) apart: a bounded ring, what
    // ever the rate of reports.
    static constexpr int kSlots = 21;
    const Sample& at(int i) const { return samples_[(first_ + i) % kSlots]; }

    std::array<Sample, kSlots> samples_{};
    int first_ = 0;
    int count_ = 0;
    Sample latest_;
};

}  // namespace app
