#pragma once
// How a search backs off from a service it cannot reach: after a failed
// fetch the next page waits, longer with each failure in a row, and a run of
// failures ends the search. A page that arrives (with or without songs)
// starts the count again.
#include <chrono>

namespace search {

struct FetchBackOff {
    static constexpr std::chrono::milliseconds kFirstPause{500};
    static constexpr std::chrono::milliseconds kLongestPause{5000};
    static constexpr int kFailuresToGiveUp = 9;

    // Tests shorten the pauses; the number of failures stays.
    std::chrono::milliseconds firstPause = kFirstPause;
    std::chrono::milliseconds longestPause = kLongestPause;

    // The pause after the `failuresInARow`-th failure in a row (from 1): the
    // first pause, doubled for each failure before it, at most the longest.
    std::chrono::milliseconds pauseAfter(int failuresInARow) const;
    bool givesUpAfter(int failuresInARow) const { return failuresInARow >= kFailuresToGiveUp; }
};

}  // namespace search
