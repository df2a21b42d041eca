#pragma once
// How long an answer asks to be left alone before it is asked again: the
// Retry-After header, as delta-seconds or as an HTTP date. The text comes
// from the server, so it is read strictly: anything else is no request.
#include <cstdint>
#include <optional>
#include <string_view>

namespace dl {

// The seconds to wait from `now` (seconds since 1970, UTC): a decimal
// number (an absurdly large one counts as kRetryAfterCeiling), or an HTTP
// date in any of its three forms (IMF-fixdate "Sun, 06 Nov 1994 08:49:37
// GMT", the obsolete "Sunday, 06-Nov-94 08:49:37 GMT" and the C asctime
// form "Sun Nov  6 08:49:37 1994"), given as the seconds until then, 0 for
// a date already past. Blanks around the value are allowed. Nothing for
// any other text. The date is read by ReadHttpDate, strictly.
std::optional<std::int64_t> RetryAfterSeconds(std::string_view value, std::int64_t now);

// What RetryAfterSeconds gives for a number or a date too far off to count.
constexpr std::int64_t kRetryAfterCeiling = std::int64_t(1) << 40;

}  // namespace dl
