#include "download/engine/RetryAfter.h"

#include <algorithm>
#include <array>

#include "platform/CivilDays.h"

namespace dl {

namespace {

constexpr std::array<std::string_view, 7> kDayNames{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDayNames{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                        "Friday", "Saturday", "Sunday"};
constexpr std::array<std::string_view, 12> kMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Civil {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Reads a date's text from left to right; every step fails on anything but
// exactly what it expects.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool done() const { return at_ == text_.size(); }
    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    // Exactly `count` digits.
    bool number(std::size_t count, int& value) {
        if (text_.size() - at_ < count) return false;
        value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char c = text_[at_ + i];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        at_ += count;
        return true;
    }
    template <std::size_t N>
    bool oneOf(const std::array<std::string_view, N>& words, int* index = nullptr) {
        for (std::size_t i = 0; i < N; ++i) {
            // The longest first would matter only for names that begin
            // others; none of these do.
            if (literal(words[i])) {
                if (index) *index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    }
    bool time(Civil& civil) {
        return number(2, civil.hour) && literal(":") && number(2, civil.minute) && literal(":") &&
               number(2, civil.second);
    }
    bool month(Civil& civil) {
        int index = 0;
        if (!oneOf(kMonthNames, &index)) return false;
        civil.month = index + 1;
        return true;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

// "Sun, 06 Nov 1994 08:49:37 GMT"
bool imfFixdate(std::string_view text, Civil& civil) {
    Reader r(text);
    return r.oneOf(kDayNames) && r.literal(", ") && r.number(2, civil.day) && r.literal(" ") && r.month(civil) &&
           r.literal(" ") && r.number(4, civil.year) && r.literal(" ") && r.time(civil) && r.literal(" GMT") &&
           r.done();
}

// "Sunday, 06-Nov-94 08:49:37 GMT": a year of two digits is taken in
// 1970 to 2069.
bool rfc850Date(std::string_view text, Civil& civil) {
    Reader r(text);
    if (!(r.oneOf(kLongDayNames) && r.literal(", ") && r.number(2, civil.day) && r.literal("-") && r.month(civil) &&
          r.literal("-") && r.number(2, civil.year) && r.literal(" ") && r.time(civil) && r.literal(" GMT") &&
          r.done()))
        return false;
    civil.year += civil.year < 70 ? 2000 : 1900;
    return true;
}

// "Sun Nov  6 08:49:37 1994": the day as two digits or a blank and one.
bool asctimeDate(std::string_view text, Civil& civil) {
    Reader r(text);
    if (!(r.oneOf(kDayNames) && r.literal(" ") && r.month(civil) && r.literal(" "))) return false;
    if (!(r.literal(" ") ? r.number(1, civil.day) : r.number(2, civil.day))) return false;
    return r.literal(" ") && r.time(civil) && r.literal(" ") && r.number(4, civil.year) && r.done();
}

bool exists(const Civil& c) {
    return c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= platform::daysInMonth(c.year, c.month) &&
           c.hour <= 23 && c.minute <= 59 && c.second <= 60;
}

}  // namespace

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
    Civil civil;
    if (!imfFixdate(value, civil) && !rfc850Date(value, civil) && !asctimeDate(value, civil)) return std::nullopt;
    if (!exists(civil)) return std::nullopt;
    const std::int64_t then = platform::daysFromCivil(civil.year, static_cast<unsigned>(civil.month),
                                                      static_cast<unsigned>(civil.day)) *
                                  86400 +
                              civil.hour * 3600 + civil.minute * 60 + civil.second;
    return std::clamp<std::int64_t>(then - now, 0, kRetryAfterCeiling);
}

}  // namespace dl
