#pragma once
// Small text and date helpers shared by the page-fetch client.
//
// Text is GBK bytes: positions are 1-based byte positions (0 = absent) and
// every search that can land on a delimiter skips the trail byte of a
// double-byte character, so "\\" or "@" inside a Chinese character never
// splits a URL or a header.
//
// Date-time values count days since 30 December 1899, the time of day being
// the fraction.
#include <cstdint>
#include <string>
#include <string_view>

#include "http/NetException.h"

namespace net {

using TDateTime = double;

// A text that must be a number and is not (a port, a range bound, a numeric
// expiry).
class ConversionError : public ENetException {
public:
    using ENetException::ENetException;
    const char* ClassName() const override { return "ConversionError"; }
};

class ENetFailedToRetrieveTimeZoneInfo : public ENetException {
public:
    ENetFailedToRetrieveTimeZoneInfo()
        : ENetException("Failed attempting to retrieve time zone information.") {}
    const char* ClassName() const override { return "ENetFailedToRetrieveTimeZoneInfo"; }
};

// ---- characters and case -------------------------------------------------

// True for a byte that starts a double-byte character of the code page.
bool isLeadByte(unsigned char c);
// Number of bytes of the character starting at index i (1 or 2).
std::size_t charLength(std::string_view text, std::size_t i);

std::string upperAscii(std::string_view text);
bool sameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
// Case-insensitive ordering: <0, 0, >0.
int compareText(std::string_view a, std::string_view b);

// Trimming removes blanks and control characters (every byte <= ' ').
std::string trim(std::string_view text);
std::string trimLeft(std::string_view text);
std::string trimRight(std::string_view text);
// Only ' ' at the right.
std::string trimRightBlanks(std::string_view text);

// ---- searching and cutting -----------------------------------------------

// Position (1-based) of the first occurrence of sub at or after start, only
// at character boundaries; 0 when absent or sub is empty.
std::int32_t textPos(std::string_view sub, std::string_view text, std::int32_t start = 1);

// Cuts the text before the delimiter and returns it; with remove the text
// keeps what follows the delimiter (or becomes empty when there is none).
std::string CutToken(std::string& text, std::string_view delimiter, bool remove = true,
                     bool caseSensitive = true);

// Last position at or before start (-1: the end) where sub occurs, compared
// case-insensitively; 0 when none.
std::int32_t LastPos(std::string_view sub, std::string_view text, std::int32_t start = -1);

// Turns every "\\" into "/", except a trail byte of a double-byte character.
void NormalizeSlashes(std::string& text);

// Wraps line so that no piece exceeds maxCol columns where it can be broken
// at one of breakChars (outside double quotes); pieces are joined by
// breakText, and an existing breakText in the line is kept as a break.
std::string WrapText(std::string_view line, std::string_view breakText, std::string_view breakChars,
                     std::int32_t maxCol);

// ---- numbers ---------------------------------------------------------------

// Decimal integers: an optional sign and at least one digit, nothing else.
bool tryStrToInt32(std::string_view text, std::int32_t& value);
bool tryStrToInt64(std::string_view text, std::int64_t& value);
bool tryStrToUInt32(std::string_view text, std::uint32_t& value);  // digits only
std::int32_t strToInt32Def(std::string_view text, std::int32_t fallback);
// Throw ConversionError "'<text>' is not a valid integer value".
std::int32_t strToInt32(std::string_view text);
std::uint32_t strToUInt32(std::string_view text);

// ---- date-time values ------------------------------------------------------

inline constexpr double kSecondsPerDay = 86400.0;

bool tryEncodeDate(int year, int month, int day, TDateTime& value);  // years 1..9999
bool tryEncodeTime(int hour, int minute, int second, TDateTime& value);  // hour < 24 ...

struct DateTimeParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int dayOfWeek = 0;  // 0 = Sunday
};
// Splits a value rounded to whole milliseconds; false when the date lies
// outside years 1..9999 or the value is not finite.
bool decodeDateTime(TDateTime value, DateTimeParts& parts);

// The current local date-time.
TDateTime nowLocal();

// ---- HTTP date texts -------------------------------------------------------

std::int32_t DayOfWeekIndex(std::string_view text);  // "SUN".."SAT" -> 1..7, else 0
std::int32_t MonthIndex(std::string_view text);      // "JAN".."DEC" -> 1..12, else 0

// The date as written, without zone; text receives what follows the time.
TDateTime ParseDateText(std::string& text);
// "+hhmm" / "-hhmm" as a fraction of a day; anything else 0.
TDateTime ParseZoneOffset(std::string_view text);
// Local time minus UTC, now, as a fraction of a day.
TDateTime LocalUtcOffset();
// Parses any of the three HTTP date styles into local time; a text that does
// not parse gives LocalUtcOffset() (day 0 in UTC).
TDateTime ParseHttpDate(std::string_view text);
// The same, but false (value untouched) for a text that does not parse.
bool TryParseHttpDate(std::string_view text, TDateTime& value);

std::string ZoneOffsetText(TDateTime offset, bool useGMT);
// "Sun, 6 Nov 1994 08:49:37 +0800": the local value and the local offset.
// Throw ConversionError for a value outside years 1..9999.
std::string FormatHttpDate(TDateTime value, bool useGMT = false);
// "Sun, 06 Nov 1994 08:49:37 GMT", the value written unchanged.
std::string FormatHttpDateGMT(TDateTime value);

}  // namespace net
