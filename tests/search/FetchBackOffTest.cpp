#include <gtest/gtest.h>

#include "search/pipeline/FetchBackOff.h"

using namespace std::chrono_literals;

// The pause after each failure in a row: doubling from the first, never
// beyond the longest; the ninth failure in a row gives up.
TEST(FetchBackOff, PausesGrowToTheLongestAndTheNinthFailureGivesUp) {
    const search::FetchBackOff backOff;
    const std::vector<std::pair<int, std::chrono::milliseconds>> pauses = {
        {1, 500ms}, {2, 1000ms}, {3, 2000ms}, {4, 4000ms}, {5, 5000ms}, {8, 5000ms}, {1000, 5000ms}};
    for (const auto& [failures, pause] : pauses) EXPECT_EQ(backOff.pauseAfter(failures), pause) << failures;
    EXPECT_FALSE(backOff.givesUpAfter(8));
    EXPECT_TRUE(backOff.givesUpAfter(9));
    // Shortened for tests, the same shape.
    const search::FetchBackOff quick{1ms, 4ms};
    EXPECT_EQ(quick.pauseAfter(3), 4ms);
    EXPECT_EQ(quick.pauseAfter(30), 4ms);
}
