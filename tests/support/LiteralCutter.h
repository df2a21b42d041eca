#pragma once
// The page cutter written out literally, step by step, as a reference for
// the fast one: every pass copies the rest, positions are 1-based with 0 for
// "not found", and each text operation behaves like its textbook original.
// Deliberately slow (quadratic on pages without anchors); use it on small
// pages only. Header-only plain C++ so the fuzz build can use it too.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace literal_cutter {

struct Link {
    std::string title;
    std::string url;
    bool operator==(const Link&) const = default;
};

struct Result {
    bool limitReached = false;
    std::int32_t linkCounter = 0;  // the counter after the page
    std::vector<Link> links;       // accepted links, in order, raw page bytes
};

// 1-based position of the first occurrence of `sub` in `s`; 0 when absent.
inline long long pos(std::string_view sub, const std::string& s) {
    const std::size_t at = s.find(sub);
    return at == std::string::npos ? 0 : static_cast<long long>(at) + 1;
}

// Up to `count` characters of `s` from the 1-based `index`; an index below
// 1 counts as 1, a count of 0 or less gives the empty text.
inline std::string copy(const std::string& s, long long index, long long count) {
    if (index < 1) index = 1;
    const long long length = static_cast<long long>(s.size());
    if (count <= 0 || index > length) return std::string();
    if (count > length - index + 1) count = length - index + 1;
    return s.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

inline constexpr long long kToEnd = std::numeric_limits<long long>::max() / 2;

// Removes every occurrence of `old`, left to right, without looking again
// at what the removal joins together.
inline std::string removeAll(std::string s, const std::string& old) {
    std::string result;
    long long p = pos(old, s);
    while (p > 0) {
        result += copy(s, 1, p - 1);
        s = copy(s, p + static_cast<long long>(old.size()), kToEnd);
        p = pos(old, s);
    }
    return result + s;
}

inline std::string removeChar(const std::string& s, char c) {
    std::string result;
    for (long long i = 1; i <= static_cast<long long>(s.size()); ++i)
        if (s[static_cast<std::size_t>(i - 1)] != c) result += s[static_cast<std::size_t>(i - 1)];
    return result;
}

// Cuts `pageText` (already lower-cased) with the counters as they stand.
inline Result cut(const std::string& pageText, std::int32_t pageCounter, std::int32_t linkCounter) {
    Result result;
    std::string rest = pageText;
    while (!rest.empty()) {
        const long long p = pos("<a href=", rest);
        rest = copy(rest, p + 8, kToEnd);

        const long long q = pos(">", rest);
        std::string address = copy(rest, 1, q - 1);
        rest = copy(rest, q, kToEnd);

        if (pos(".mp3\"", address) == 0) continue;

        if (pageCounter > 8 || linkCounter > 300) {
            result.limitReached = true;
            result.linkCounter = linkCounter;
            return result;
        }

        const long long e = pos("</a>", rest);
        std::string title = copy(rest, 2, e - 2);

        title = removeAll(title, "&nbsp;");
        title = removeAll(title, "<font color=#dd0000>");
        title = removeAll(title, "</font>");
        title = removeAll(title, " -");

        const long long t = pos("target", address);
        if (t > 0) address = copy(address, 1, t - 1);
        address = removeChar(address, '"');

        if (address.size() >= 150) continue;

        linkCounter = linkCounter + 1;
        result.links.push_back(Link{title, address});
    }
    result.linkCounter = linkCounter;
    return result;
}

}  // namespace literal_cutter
