#include "search/pipeline/FetchBackOff.h"

#include <algorithm>

namespace search {

std::chrono::milliseconds FetchBackOff::pauseAfter(int failuresInARow) const {
    std::chrono::milliseconds pause = firstPause;
    for (int i = 1; i < failuresInARow && pause < longestPause; ++i) pause *= 2;
    return std::min(pause, longestPause);
}

}  // namespace search
