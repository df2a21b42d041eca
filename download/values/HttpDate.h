#pragma once
// The one reader of HTTP dates on the download road. Its callers want
// different leniency, so each names its own: the Last-Modified date a file
// is stamped with is read as loosely as servers write it, while a date that
// decides how long to wait (Retry-After) must be exactly one of the forms
// HTTP defines.
#include <cstdint>
#include <optional>
#include <string_view>

namespace dl {

// A date and a time of day as a header gives them, in GMT.
struct HttpDateFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const HttpDateFields&) const = default;
};

enum class HttpDateLeniency {
    // The tokens of the RFC 1123 form in their order, blanks between them
    // skipped: whatever stands first (the weekday), an optional ":" and ",",
    // the day, an optional "-", the month name in any case, an optional "-",
    // the year (plus 1900 below 100), then hour, minute and second, each an
    // integer with an optional ":" after it; the zone and the rest are not
    // read. Nothing when the day (1 to 31) or the month is not there; raises
    // EConvertError when a number is missing or out of range. The fields are
    // not checked further: whether the date exists is the caller's question.
    Tolerant,
    // Exactly one of the three forms: IMF-fixdate "Sun, 06 Nov 1994 08:49:37
    // GMT", the obsolete "Sunday, 06-Nov-94 08:49:37 GMT" (the year taken in
    // 1970 to 2069) and the C asctime form "Sun Nov  6 08:49:37 1994". Nothing
    // for any other text or for a date or time that does not exist; never
    // raises.
    Strict,
};

std::optional<HttpDateFields> ReadHttpDate(std::string_view text, HttpDateLeniency leniency);

// Seconds since 1970 (UTC) of the fields, read as a proleptic Gregorian
// date; the fields are not checked.
std::int64_t SecondsSinceEpoch(const HttpDateFields& date);

}  // namespace dl
