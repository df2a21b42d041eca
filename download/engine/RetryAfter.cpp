#include "download/engine/RetryAfter.h"

#include <algorithm>

#include "download/values/HttpDate.h"

namespace dl {

std::optional<std::int64_t> RetryAfterSeconds(std::string_view value, std::int64_t now) {
    const auto begin = value.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return std::nullopt;
    value = value.substr(begin, value.find_last_not_of(" \t") - begin + 1);
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t seconds = 0;
        for (const char c : value) {
            seconds = seconds * 10 + (c - '0');
            if (seconds >= kRetryAfterCeiling) return kRetryAfterCeiling;
        }
        return seconds;
    }
    // A wait is decided by it: only a date exactly as HTTP defines it counts.
    const auto date = ReadHttpDate(value, HttpDateLeniency::Strict);
    if (!date) return std::nullopt;
    return std::clamp<std::int64_t>(SecondsSinceEpoch(*date) - now, 0, kRetryAfterCeiling);
}

}  // namespace dl
