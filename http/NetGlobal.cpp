#include "http/NetGlobal.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "platform/CivilDays.h"
#include "platform/GbkCodec.h"

namespace net {

// ---- characters and case -------------------------------------------------

bool isLeadByte(unsigned char c) { return platform::isGbkLeadByte(c); }

std::size_t charLength(std::string_view text, std::size_t i) {
    if (i + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[i]))) return 2;
    return 1;
}

namespace {

char upperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool isTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string upperAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = upperChar(c);
    return result;
}

bool sameText(std::string_view a, std::string_view b) { return compareText(a, b) == 0; }

int compareText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(upperChar(a[i]));
        const auto cb = static_cast<unsigned char>(upperChar(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string trim(std::string_view text) { return trimLeft(trimRight(text)); }

std::string trimLeft(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isTrimmed(text[i])) ++i;
    return std::string(text.substr(i));
}

std::string trimRight(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && isTrimmed(text[n - 1])) --n;
    return std::string(text.substr(0, n));
}

std::string trimRightBlanks(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && text[n - 1] == ' ') --n;
    return std::string(text.substr(0, n));
}

// ---- searching and cutting -----------------------------------------------

std::int32_t textPos(std::string_view sub, std::string_view text, std::int32_t start) {
    if (sub.empty() || sub.size() > text.size()) return 0;
    const std::size_t first = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
    for (std::size_t i = 0; i + sub.size() <= text.size(); i += charLength(text, i)) {
        if (i >= first && text.compare(i, sub.size(), sub) == 0) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

std::string CutToken(std::string& text, std::string_view delimiter, bool remove, bool caseSensitive) {
    const std::int32_t pos =
        caseSensitive ? textPos(delimiter, text) : textPos(upperAscii(delimiter), upperAscii(text));
    if (pos == 0) {
        std::string result = text;
        if (remove) text.clear();
        return result;
    }
    std::string result = text.substr(0, static_cast<std::size_t>(pos - 1));
    if (remove) text.erase(0, static_cast<std::size_t>(pos - 1) + delimiter.size());
    return result;
}

std::int32_t LastPos(std::string_view sub, std::string_view text, std::int32_t start) {
    if (sub.empty() || sub.size() > text.size()) return 0;
    const auto last = static_cast<std::int32_t>(text.size() - sub.size() + 1);
    if (start == -1 || start > last) start = last;
    if (start < 1) return 0;
    const std::string upperText = upperAscii(text);
    const std::string upperSub = upperAscii(sub);
    for (std::int32_t p = start; p >= 1; --p) {
        if (upperText.compare(static_cast<std::size_t>(p - 1), upperSub.size(), upperSub) == 0) return p;
    }
    return 0;
}

void NormalizeSlashes(std::string& text) {
    for (std::size_t i = 0; i < text.size(); i += charLength(text, i)) {
        if (text[i] == '\\') text[i] = '/';
    }
}

namespace {

// State of one WrapText walk; positions and columns are 1-based.
class LineWrapper {
public:
    LineWrapper(std::string_view line, std::string_view breakText, std::string_view breakChars,
                std::int32_t maxCol)
        : line_(line), breakText_(breakText), breakChars_(breakChars), maxCol_(maxCol),
          length_(static_cast<std::int32_t>(line.size())) {}

    std::string run() {
        while (pos_ <= length_) {
            const char c = at(pos_);
            scan(c);
            ++pos_;
            ++col_;
            if (!quoteOpen_ && (existingBreak_ || (col_ > maxCol_ && breakPos_ > pieceStart_))) breakHere(c);
        }
        result_.append(line_.substr(static_cast<std::size_t>(pieceStart_ - 1)));
        return result_;
    }

private:
    char at(std::int32_t p) const { return line_[static_cast<std::size_t>(p - 1)]; }
    bool isBreakChar(char c) const { return breakChars_.find(c) != std::string_view::npos; }

    void scan(char c) {
        if (isLeadByte(static_cast<unsigned char>(c)) && pos_ < length_) {
            ++pos_;
            ++col_;
        } else if (!breakText_.empty() && c == breakText_[0] && !quoteOpen_) {
            if (sameText(line_.substr(static_cast<std::size_t>(pos_ - 1), breakText_.size()), breakText_)) {
                pos_ += static_cast<std::int32_t>(breakText_.size()) - 1;
                breakPos_ = pos_;
                existingBreak_ = true;
            }
        } else if (isBreakChar(c) && !quoteOpen_) {
            breakPos_ = pos_;
        } else if (c == '"') {
            quoteOpen_ = !quoteOpen_;
        }
    }

    void breakHere(char current) {
        result_.append(line_.substr(static_cast<std::size_t>(pieceStart_ - 1),
                                    static_cast<std::size_t>(breakPos_ - pieceStart_ + 1)));
        if (current != '"') {
            while (pos_ <= length_) {
                const char next = at(pos_);
                if (!isBreakChar(next) && next != '\r' && next != '\n') break;
                ++pos_;
            }
        }
        if (!existingBreak_ && pos_ < length_) result_.append(breakText_);
        pieceStart_ = breakPos_ + 1;
        col_ = pos_ - breakPos_;
        existingBreak_ = false;
    }

    std::string_view line_, breakText_, breakChars_;
    std::int32_t maxCol_;
    std::int32_t length_;
    std::int32_t pos_ = 1, col_ = 1, pieceStart_ = 1, breakPos_ = 0;
    bool quoteOpen_ = false, existingBreak_ = false;
    std::string result_;
};

}  // namespace

std::string WrapText(std::string_view line, std::string_view breakText, std::string_view breakChars,
                     std::int32_t maxCol) {
    return LineWrapper(line, breakText, breakChars, maxCol).run();
}

// ---- numbers ---------------------------------------------------------------

bool tryStrToInt64(std::string_view text, std::int64_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    // Accumulate negatively so that the lowest value fits too.
    std::int64_t result = 0;
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const int digit = text[i] - '0';
        if (result < (kMin + digit) / 10) return false;
        result = result * 10 - digit;
    }
    if (!negative) {
        if (result == kMin) return false;
        result = -result;
    }
    value = result;
    return true;
}

bool tryStrToInt32(std::string_view text, std::int32_t& value) {
    std::int64_t wide = 0;
    if (!tryStrToInt64(text, wide)) return false;
    if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(wide);
    return true;
}

bool tryStrToUInt32(std::string_view text, std::uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (result > std::numeric_limits<std::uint32_t>::max()) return false;
    value = static_cast<std::uint32_t>(result);
    return true;
}

std::int32_t strToInt32Def(std::string_view text, std::int32_t fallback) {
    std::int32_t value = 0;
    return tryStrToInt32(text, value) ? value : fallback;
}

namespace {

[[noreturn]] void throwNotAnInteger(std::string_view text) {
    throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

std::int32_t strToInt32(std::string_view text) {
    std::int32_t value = 0;
    if (!tryStrToInt32(text, value)) throwNotAnInteger(text);
    return value;
}

std::uint32_t strToUInt32(std::string_view text) {
    std::uint32_t value = 0;
    if (!tryStrToUInt32(text, value)) throwNotAnInteger(text);
    return value;
}

// ---- date-time values ------------------------------------------------------

namespace {

constexpr std::int64_t kUnixEpochDay = 25569;  // 1 January 1970
constexpr std::int64_t kMsPerDay = 86400000;

using platform::civilFromDays;
using platform::daysFromCivil;
using platform::daysInMonth;

const std::int64_t kFirstDay = daysFromCivil(1, 1, 1) + kUnixEpochDay;
const std::int64_t kEndDay = daysFromCivil(10000, 1, 1) + kUnixEpochDay;

}  // namespace

bool tryEncodeDate(int year, int month, int day, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return false;
    value = static_cast<TDateTime>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                   kUnixEpochDay);
    return true;
}

bool tryEncodeTime(int hour, int minute, int second, TDateTime& value) {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60) return false;
    value = (hour * 3600 + minute * 60 + second) / kSecondsPerDay;
    return true;
}

bool decodeDateTime(TDateTime value, DateTimeParts& parts) {
    if (!std::isfinite(value) || value < static_cast<double>(kFirstDay) || value >= static_cast<double>(kEndDay))
        return false;
    const auto ms = static_cast<std::int64_t>(std::llround(value * static_cast<double>(kMsPerDay)));
    std::int64_t days = ms / kMsPerDay;
    std::int64_t msOfDay = ms % kMsPerDay;
    if (msOfDay < 0) {
        msOfDay += kMsPerDay;
        --days;
    }
    if (days >= kEndDay) return false;  // rounded up past the last millisecond
    civilFromDays(days - kUnixEpochDay, parts.year, parts.month, parts.day);
    const auto seconds = static_cast<int>(msOfDay / 1000);
    parts.hour = seconds / 3600;
    parts.minute = seconds / 60 % 60;
    parts.second = seconds % 60;
    // Day 0 (30 December 1899) was a Saturday.
    parts.dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7);
    return true;
}

TDateTime nowLocal() {
    using namespace std::chrono;
    const auto sinceEpoch = system_clock::now().time_since_epoch();
    const std::int64_t ms = duration_cast<milliseconds>(sinceEpoch).count();
    const std::time_t seconds = static_cast<std::time_t>(duration_cast<std::chrono::seconds>(sinceEpoch).count());
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) throw ENetFailedToRetrieveTimeZoneInfo();
    const std::int64_t localMs = ms + static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
    return static_cast<double>(kUnixEpochDay) + static_cast<double>(localMs) / static_cast<double>(kMsPerDay);
}

// ---- HTTP date texts -------------------------------------------------------

namespace {

constexpr std::array<const char*, 7> kDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <std::size_t N>
std::int32_t nameIndex(std::string_view text, const std::array<const char*, N>& names) {
    const std::string upper = upperAscii(text);
    for (std::size_t i = 0; i < N; ++i) {
        if (upper == upperAscii(names[i])) return static_cast<std::int32_t>(i + 1);
    }
    return 0;
}

// Takes one field up to delimiter (all of the text when there is none) and
// trims what is left at the left.
std::string takeField(std::string& text, std::string_view delimiter) {
    std::string field = CutToken(text, delimiter);
    text = trimLeft(text);
    return field;
}

// The date-and-time walk; false for a date or time out of range.
bool parseDateFields(std::string& text, TDateTime& result) {
    if (DayOfWeekIndex(std::string_view(text).substr(0, 3)) > 0) {
        if (text.size() >= 5 && text[3] == ',' && text[4] != ' ') text.insert(4, 1, ' ');
        CutToken(text, " ");
        text = trimLeft(text);
    }

    const std::int32_t dash = textPos("-", text);
    const std::int32_t blank = textPos(" ", text);
    const std::string delimiter = (dash >= 2 && blank > 0 && dash < blank) ? "-" : " ";

    std::string firstField = text;
    firstField = CutToken(firstField, delimiter);
    int month = 0;
    int day = 0;
    if (MonthIndex(firstField) > 0) {
        month = MonthIndex(takeField(text, delimiter));
        day = strToInt32Def(takeField(text, delimiter), 1);
    } else {
        day = strToInt32Def(takeField(text, delimiter), 1);
        month = MonthIndex(takeField(text, delimiter));
    }

    std::string yearField = CutToken(text, " ");
    int year = strToInt32Def(yearField, 1900);
    if (year == 1900) {
        // asctime layout: the time came before the year.
        year = strToInt32Def(text, 1900);
        text = yearField;
    }
    if (year < 80) {
        year += 2000;
    } else if (year <= 99) {
        year += 1900;
    }

    if (!tryEncodeDate(year, month, day, result)) return false;

    if (textPos(":", text) > 0) {
        std::string timeField = CutToken(text, " ");
        const int hour = strToInt32Def(CutToken(timeField, ":"), 0);
        const int minute = strToInt32Def(CutToken(timeField, ":"), 0);
        const int second = strToInt32Def(CutToken(timeField, " "), 0);
        TDateTime timeOfDay = 0;
        if (!tryEncodeTime(hour, minute, second, timeOfDay)) return false;
        result += timeOfDay;
    }
    text = trimLeft(text);
    return true;
}

}  // namespace

std::int32_t DayOfWeekIndex(std::string_view text) { return nameIndex(text, kDayNames); }

std::int32_t MonthIndex(std::string_view text) { return nameIndex(text, kMonthNames); }

TDateTime ParseDateText(std::string& text) {
    text = trim(text);
    if (text.empty()) return 0;
    TDateTime result = 0;
    if (!parseDateFields(text, result)) {
        // Nothing of a text that did not parse counts as a zone either.
        text.clear();
        return 0;
    }
    return result;
}

TDateTime ParseZoneOffset(std::string_view text) {
    const std::string zone = trim(text).substr(0, 5);
    if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
    const std::string hoursText = zone.substr(1, 2);
    const std::string minutesText = zone.size() > 3 ? zone.substr(3, 2) : std::string();
    std::uint32_t hours = 0;
    std::uint32_t minutes = 0;
    if (!tryStrToUInt32(hoursText, hours) || !tryStrToUInt32(minutesText, minutes)) return 0;
    const TDateTime offset = (hours * 60.0 + minutes) / 1440.0;
    return zone[0] == '-' ? -offset : offset;
}

TDateTime LocalUtcOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr)
        throw ENetFailedToRetrieveTimeZoneInfo();
    // Whole minutes, as the system's bias is kept.
    const long minutes = local.tm_gmtoff / 60;
    return static_cast<double>(minutes) / 1440.0;
}

bool TryParseHttpDate(std::string_view text, TDateTime& value) {
    std::string rest(text);
    const TDateTime written = ParseDateText(rest);
    // ParseDateText gives 0 for an empty text and for one that does not parse.
    if (written == 0) return false;
    const TDateTime offset = rest.size() >= 5 ? ParseZoneOffset(rest) : 0;
    value = written - offset + LocalUtcOffset();
    return true;
}

TDateTime ParseHttpDate(std::string_view text) {
    TDateTime value = 0;
    return TryParseHttpDate(text, value) ? value : LocalUtcOffset();
}

std::string ZoneOffsetText(TDateTime offset, bool useGMT) {
    if (offset == 0 && useGMT) return "GMT";
    const long long totalMinutes = std::llround(std::fabs(offset) * 1440.0);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%c%.2lld%.2lld", offset >= 0 ? '+' : '-', totalMinutes / 60,
                  totalMinutes % 60);
    return buffer;
}

namespace {

DateTimeParts decodeOrThrow(TDateTime value) {
    DateTimeParts parts;
    if (!decodeDateTime(value, parts)) throw ConversionError("Invalid date-time value");
    return parts;
}

}  // namespace

std::string FormatHttpDate(TDateTime value, bool useGMT) {
    const DateTimeParts p = decodeOrThrow(value);
    const std::string zone = ZoneOffsetText(LocalUtcOffset(), useGMT);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %d %s %d %.2d:%.2d:%.2d %s", kDayNames[p.dayOfWeek], p.day,
                  kMonthNames[static_cast<std::size_t>(p.month - 1)], p.year, p.hour, p.minute, p.second,
                  zone.c_str());
    return buffer;
}

std::string FormatHttpDateGMT(TDateTime value) {
    const DateTimeParts p = decodeOrThrow(value);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", kDayNames[p.dayOfWeek], p.day,
                  kMonthNames[static_cast<std::size_t>(p.month - 1)], p.year, p.hour, p.minute, p.second);
    return buffer;
}

}  // namespace net
