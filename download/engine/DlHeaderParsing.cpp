#include "download/engine/DlHeaderParsing.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "download/texts/DlTexts.h"
#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"
#include "download/values/EConvertError.h"

namespace dl {

namespace {

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

private:
    static bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    std::string_view text_;
    std::size_t at_ = 0;
    Kind kind_ = Kind::End;
    std::string_view token_;
};

int monthNumber(const Tokenizer& t) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (t.kind() != Tokenizer::Kind::Word) return 0;
    for (int i = 0; i < 12; ++i) {
        if (SameText(t.token(), kMonths[i])) return i + 1;
    }
    return 0;
}

int integerThenOptionalColon(Tokenizer& t) {
    const int value = t.integer();
    t.next();
    if (t.is(':')) t.next();
    return value;
}

}  // namespace

TDateTime ParseLastModified(std::string_view text) {
    Tokenizer t(text);
    t.next();  // the weekday, or whatever stands first
    if (t.is(':')) t.next();
    if (t.is(',')) t.next();
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (t.kind() == Tokenizer::Kind::Integer) {
        day = t.integer();
        t.next();
        if (t.is('-')) t.next();
        month = monthNumber(t);
        t.next();
        if (t.is('-')) t.next();
        year = t.integer();
        if (year < 100) year += 1900;
        t.next();
        hour = integerThenOptionalColon(t);
        minute = integerThenOptionalColon(t);
        second = integerThenOptionalColon(t);
    }
    if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
    // Validates the fields, then reads them as GMT: the zone of every HTTP date.
    EncodeDateTime(year, month, day, hour, minute, second);
    std::tm gmt{};
    gmt.tm_year = year - 1900;
    gmt.tm_mon = month - 1;
    gmt.tm_mday = day;
    gmt.tm_hour = hour;
    gmt.tm_min = minute;
    gmt.tm_sec = second;
    return LocalDateTimeOf(timegm(&gmt));
}

void ParseSetCookies(std::string_view rawHeaders, TDlCookiesList& list, bool strip) {
    static constexpr std::string_view kPrefix = "Set-Cookie: ";
    std::string joined;
    bool any = false;
    std::size_t start = 0;
    while (start <= rawHeaders.size()) {
        std::size_t end = start;
        while (end < rawHeaders.size() && rawHeaders[end] != '\0' &&
               !(rawHeaders[end] == '\r' && end + 1 < rawHeaders.size() && rawHeaders[end + 1] == '\n'))
            ++end;
        std::string_view line = rawHeaders.substr(start, end - start);
        while (!line.empty() && static_cast<unsigned char>(line.front()) < 33) line.remove_prefix(1);
        if (line.size() >= kPrefix.size() && SameText(line.substr(0, kPrefix.size()), kPrefix)) {
            if (any) joined += "; ";
            joined += line.substr(kPrefix.size());
            any = true;
        }
        if (end >= rawHeaders.size()) break;
        start = end + (rawHeaders[end] == '\0' ? 1 : 2);
    }
    if (!any) return;
    std::size_t from = 0;
    for (;;) {
        const std::size_t semicolon = joined.find(';', from);
        std::string entry = joined.substr(from, semicolon == std::string::npos ? std::string::npos : semicolon - from);
        entry.erase(0, entry.find_first_not_of(' '));
        // An empty piece (a trailing ";") is no cookie.
        if (!entry.empty()) list.Add(std::move(entry));
        if (semicolon == std::string::npos) break;
        from = semicolon + 1;
    }
    if (!strip) return;
    for (std::size_t i = list.Count(); i-- > 0;) {
        const std::string name = list.Name(i);
        if (SameText(name, "EXPIRES") || SameText(name, "DOMAIN") ||
            SameText(name, "PATH"))
            list.Delete(i);
    }
}

}  // namespace dl
