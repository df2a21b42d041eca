#include "download/values/DlDateTime.h"

#include <cmath>

#include "download/values/EConvertError.h"
#include "platform/CivilDays.h"

namespace dl {

namespace {

using platform::civilFromDays;
using platform::daysFromCivil;
using platform::daysInMonth;

const long long kEpochOffset = daysFromCivil(1899, 12, 30);

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        throw EConvertError("Invalid argument to date encode");
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        throw EConvertError("Invalid argument to time encode");
    const double days = static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month),
                                                          static_cast<unsigned>(day)) - kEpochOffset);
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before the epoch the time of day still counts forward from midnight.
    return days < 0 ? days - time : days + time;
}

TDateTime LocalDateTimeOf(std::time_t instant) {
    std::tm local{};
    localtime_r(&instant, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec);
}

std::time_t InstantOfLocalDateTime(TDateTime value) {
    // Before the epoch the fraction still counts forward from midnight, so
    // the day is the whole part towards zero and the time its absolute rest.
    constexpr double kBeyondYear9999 = 3.0e6;  // days; NaN fails the test too
    if (!(std::fabs(value) < kBeyondYear9999)) throw EConvertError("Invalid argument to date encode");
    double whole = 0;
    const double fraction = std::fabs(std::modf(value, &whole));
    long long seconds = std::llround(fraction * 86400.0);
    long long days = static_cast<long long>(whole) + kEpochOffset;
    if (seconds >= 86400) {  // rounded up to the next midnight
        seconds -= 86400;
        ++days;
    }
    int year = 0, month = 0, day = 0;
    civilFromDays(days, year, month, day);
    if (year < 1 || year > 9999) throw EConvertError("Invalid argument to date encode");
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = static_cast<int>(seconds / 3600);
    local.tm_min = static_cast<int>(seconds / 60 % 60);
    local.tm_sec = static_cast<int>(seconds % 60);
    local.tm_isdst = -1;
    return std::mktime(&local);
}

}  // namespace dl
