// How long a server asks to be left alone (Retry-After), read from the
// bytes of its header: never a negative wait nor one past the ceiling, a
// number read as it is, and the same answer for the value with blanks
// around it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/engine/RetryAfter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    constexpr std::int64_t kNow = 1700000000;
    const auto seconds = dl::RetryAfterSeconds(text, kNow);
    if (seconds && (*seconds < 0 || *seconds > dl::kRetryAfterCeiling)) std::abort();
    if (dl::RetryAfterSeconds(" \t" + text + "\t ", kNow) != seconds) std::abort();
    // A plain number is itself, up to the ceiling.
    if (!text.empty() && text.size() < 12 && text.find_first_not_of("0123456789") == std::string::npos &&
        seconds != std::min<std::int64_t>(std::stoll(text), dl::kRetryAfterCeiling))
        std::abort();
    // A date a day later reads a day longer, unless it was already past.
    if (seconds && *seconds > 0 && text.find_first_not_of("0123456789 \t") != std::string::npos) {
        const auto earlier = dl::RetryAfterSeconds(text, kNow - 86400);
        if (!earlier || *earlier != std::min<std::int64_t>(*seconds + 86400, dl::kRetryAfterCeiling)) std::abort();
    }
    return 0;
}
