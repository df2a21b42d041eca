#pragma once
// Date-time values as the download engine keeps them: days since
// 30 December 1899 as a double, the time of day being the fraction, in local
// time.
#include <ctime>

#include "download/values/EConvertError.h"

namespace dl {

using TDateTime = double;

// Raises EConvertError for a date or time that does not exist.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);

// The local date-time of an instant.
TDateTime LocalDateTimeOf(std::time_t instant);

// The instant a local date-time names, to the nearest second (the inverse of
// LocalDateTimeOf). A local time that a clock change skipped or repeated is
// read as the system's mktime reads it. Raises EConvertError for a value
// outside the years 1 to 9999.
std::time_t InstantOfLocalDateTime(TDateTime value);

}  // namespace dl
