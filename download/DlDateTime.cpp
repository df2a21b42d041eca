#include "download/DlDateTime.h"

#include <cmath>

#include "download/TDlPersistent.h"

namespace dl {

namespace {

// Days from 1 January 1970 to the given civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

const long long kEpochOffset = daysFromCivil(1899, 12, 30);

// The civil date of a day count from 1 January 1970 (proleptic Gregorian).
void civilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

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
