#include "download/inet/InetRange.h"

#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"

namespace inet {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Digits at the front of `text`, taken off it. At most 19 of them, so the
// value fits; more is no number here.
std::optional<std::uint64_t> takeNumber(std::string_view& text) {
    return dl::TakeDecimal(text, dl::DecimalOverflow::Refuse, 19);
}

bool takeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<ContentRange> parseContentRange(std::string_view value) {
    std::string_view text = trimmed(value);
    constexpr std::string_view kUnit = "bytes";
    if (text.size() <= kUnit.size() || !dl::StartsWithText(text, kUnit)) return std::nullopt;
    text.remove_prefix(kUnit.size());
    if (!isBlank(text.front())) return std::nullopt;
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    ContentRange range;
    const auto first = takeNumber(text);
    if (!first || !takeChar(text, '-')) return std::nullopt;
    const auto last = takeNumber(text);
    if (!last || !takeChar(text, '/')) return std::nullopt;
    range.first = *first;
    range.last = *last;
    if (takeChar(text, '*')) {
        range.total = std::nullopt;
    } else {
        range.total = takeNumber(text);
        if (!range.total) return std::nullopt;
    }
    if (!text.empty() || range.first > range.last) return std::nullopt;
    if (range.total && range.last >= *range.total) return std::nullopt;
    return range;
}

std::string formatContentRange(const ContentRange& range) {
    return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
           (range.total ? std::to_string(*range.total) : std::string("*"));
}

bool isWeakEntityTag(std::string_view tag) { return tag.size() >= 2 && tag[0] == 'W' && tag[1] == '/'; }

std::vector<std::string> rangeRequestHeaders(std::uint64_t from, const std::string& validator) {
    std::vector<std::string> lines{"Range: bytes=" + std::to_string(from) + "-"};
    if (!validator.empty()) lines.push_back("If-Range: " + validator);
    return lines;
}

}  // namespace inet
