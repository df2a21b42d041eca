#include "download/values/HttpDate.h"

#include <array>
#include <cctype>
#include <cstddef>

#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"
#include "download/values/EConvertError.h"
#include "platform/CivilDays.h"

namespace dl {

namespace {

constexpr std::array<std::string_view, 12> kMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDayNames{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDayNames{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                        "Friday", "Saturday", "Sunday"};

// --- Tolerant: a general-purpose tokenizer over the text ---

// Words, integers and single other characters; blanks between them skipped.
class Tokenizer {
public:
    enum class Kind { End, Word, Integer, Symbol };

    explicit Tokenizer(std::string_view text) : text_(text) { next(); }

    Kind kind() const { return kind_; }
    std::string_view token() const { return token_; }
    bool is(char symbol) const { return kind_ == Kind::Symbol && token_.size() == 1 && token_[0] == symbol; }

    void next() {
        while (at_ < text_.size() && static_cast<unsigned char>(text_[at_]) <= ' ') ++at_;
        const std::size_t start = at_;
        if (at_ == text_.size()) {
            kind_ = Kind::End;
        } else if (isLetter(text_[at_])) {
            while (at_ < text_.size() && (isLetter(text_[at_]) || isDigit(text_[at_]))) ++at_;
            kind_ = Kind::Word;
        } else if (isDigit(text_[at_])) {
            while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
            kind_ = Kind::Integer;
        } else {
            ++at_;
            kind_ = Kind::Symbol;
        }
        token_ = text_.substr(start, at_ - start);
    }

    // The current token as an integer; raises when it is none.
    int integer() const {
        if (kind_ != Kind::Integer) throw EConvertError("Number expected");
        const auto value = ParseDecimal(token_, DecimalOverflow::Refuse);
        if (!value || *value > 0x7FFFFFFF) throw EConvertError("Number out of range");
        return static_cast<int>(*value);
    }

    // The current word's month (1 to 12) ignoring case; 0 for anything else.
    int month() const {
        if (kind_ != Kind::Word) return 0;
        for (std::size_t i = 0; i < kMonthNames.size(); ++i) {
            if (SameText(token_, kMonthNames[i])) return static_cast<int>(i) + 1;
        }
        return 0;
    }

    int integerThenOptionalColon() {
        const int value = integer();
        next();
        if (is(':')) next();
        return value;
    }

private:
    static bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    std::string_view text_;
    std::size_t at_ = 0;
    Kind kind_ = Kind::End;
    std::string_view token_;
};

std::optional<HttpDateFields> readTolerant(std::string_view text) {
    Tokenizer t(text);
    t.next();  // the weekday, or whatever stands first
    if (t.is(':')) t.next();
    if (t.is(',')) t.next();
    HttpDateFields date;
    if (t.kind() == Tokenizer::Kind::Integer) {
        date.day = t.integer();
        t.next();
        if (t.is('-')) t.next();
        date.month = t.month();
        t.next();
        if (t.is('-')) t.next();
        date.year = t.integer();
        if (date.year < 100) date.year += 1900;
        t.next();
        date.hour = t.integerThenOptionalColon();
        date.minute = t.integerThenOptionalColon();
        date.second = t.integerThenOptionalColon();
    }
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) return std::nullopt;
    return date;
}

// --- Strict: each form read from left to right ---

// Every step fails on anything but exactly what it expects.
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
    bool time(HttpDateFields& date) {
        return number(2, date.hour) && literal(":") && number(2, date.minute) && literal(":") &&
               number(2, date.second);
    }
    bool month(HttpDateFields& date) {
        int index = 0;
        if (!oneOf(kMonthNames, &index)) return false;
        date.month = index + 1;
        return true;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

// "Sun, 06 Nov 1994 08:49:37 GMT"
bool imfFixdate(std::string_view text, HttpDateFields& date) {
    Reader r(text);
    return r.oneOf(kDayNames) && r.literal(", ") && r.number(2, date.day) && r.literal(" ") && r.month(date) &&
           r.literal(" ") && r.number(4, date.year) && r.literal(" ") && r.time(date) && r.literal(" GMT") &&
           r.done();
}

// "Sunday, 06-Nov-94 08:49:37 GMT": a year of two digits is taken in
// 1970 to 2069.
bool rfc850Date(std::string_view text, HttpDateFields& date) {
    Reader r(text);
    if (!(r.oneOf(kLongDayNames) && r.literal(", ") && r.number(2, date.day) && r.literal("-") && r.month(date) &&
          r.literal("-") && r.number(2, date.year) && r.literal(" ") && r.time(date) && r.literal(" GMT") &&
          r.done()))
        return false;
    date.year += date.year < 70 ? 2000 : 1900;
    return true;
}

// "Sun Nov  6 08:49:37 1994": the day as two digits or a blank and one.
bool asctimeDate(std::string_view text, HttpDateFields& date) {
    Reader r(text);
    if (!(r.oneOf(kDayNames) && r.literal(" ") && r.month(date) && r.literal(" "))) return false;
    if (!(r.literal(" ") ? r.number(1, date.day) : r.number(2, date.day))) return false;
    return r.literal(" ") && r.time(date) && r.literal(" ") && r.number(4, date.year) && r.done();
}

bool exists(const HttpDateFields& d) {
    return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= platform::daysInMonth(d.year, d.month) &&
           d.hour <= 23 && d.minute <= 59 && d.second <= 60;
}

std::optional<HttpDateFields> readStrict(std::string_view text) {
    HttpDateFields date;
    if (!imfFixdate(text, date)) {
        date = {};
        if (!rfc850Date(text, date)) {
            date = {};
            if (!asctimeDate(text, date)) return std::nullopt;
        }
    }
    if (!exists(date)) return std::nullopt;
    return date;
}

}  // namespace

std::optional<HttpDateFields> ReadHttpDate(std::string_view text, HttpDateLeniency leniency) {
    return leniency == HttpDateLeniency::Tolerant ? readTolerant(text) : readStrict(text);
}

std::int64_t SecondsSinceEpoch(const HttpDateFields& date) {
    return platform::daysFromCivil(date.year, static_cast<unsigned>(date.month), static_cast<unsigned>(date.day)) *
               86400 +
           date.hour * 3600 + date.minute * 60 + date.second;
}

}  // namespace dl
