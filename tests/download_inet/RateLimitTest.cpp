// The speed limit's bucket on a clock of the test's own: how long a reader
// waits after the bytes it took, what a second of not reading saves up (no
// more than a second's worth), and a limit changed or lifted between reads.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "download/inet/InetRateLimit.h"

using inet::RateLimit;

TEST(RateLimit, ReadersWaitForWhatTheyOwe) {
    struct Step {
        std::int64_t at;       // ms
        std::size_t take;      // bytes read then (0: only asks how long to wait)
        std::int64_t wait;     // ms to wait from then on
    };
    struct Case {
        const char* name;
        std::int64_t rate;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"no limit: never a wait", 0, {{0, 1 << 20, 0}, {1, 1 << 20, 0}}},
        {"the first bytes are owed at once", 1000, {{0, 500, 500}, {250, 0, 250}, {500, 0, 0}}},
        {"paid off, then saved up for a while", 1000, {{0, 1000, 1000}, {1000, 0, 0}, {1500, 400, 0}, {1500, 200, 100}}},
        {"not more than a second's worth saved up", 1000, {{0, 1, 1}, {60000, 1000, 0}, {60000, 1000, 1000}}},
        {"two readers owe together", 2048, {{0, 1024, 500}, {0, 1024, 1000}, {400, 0, 600}}},
        {"a clock that goes back saves nothing", 1000, {{1000, 100, 100}, {500, 0, 100}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RateLimit limit;
        limit.setBytesPerSecond(c.rate);
        EXPECT_EQ(limit.bytesPerSecond(), c.rate);
        for (const Step& step : c.steps) {
            const std::int64_t wait = step.take > 0 ? limit.take(step.take, step.at) : limit.waitLeft(step.at);
            EXPECT_EQ(wait, step.wait) << "at " << step.at;
        }
    }
}

TEST(RateLimit, AChangedLimitHoldsFromThenOn) {
    RateLimit limit;
    limit.setBytesPerSecond(1000);
    EXPECT_EQ(limit.take(10000, 0), 10000);
    // Lifted: what was owed is forgiven, the reader goes on at once.
    limit.setBytesPerSecond(0);
    EXPECT_EQ(limit.waitLeft(1), 0);
    EXPECT_EQ(limit.take(1 << 30, 2), 0);
    // Set again, and lower: nothing carried over from before.
    limit.setBytesPerSecond(100);
    EXPECT_EQ(limit.take(50, 3), 500);
    EXPECT_EQ(limit.waitLeft(503), 0);
    // A negative rate is no limit.
    limit.setBytesPerSecond(-5);
    EXPECT_EQ(limit.bytesPerSecond(), 0);
    EXPECT_EQ(limit.take(100, 600), 0);
}
