#pragma once
// Asking for the rest of a body and reading what a server says it sent:
// the Range and If-Range request headers, and the Content-Range of a 206
// answer. A Content-Range comes from the server, so it is read strictly:
// anything but "bytes FIRST-LAST/TOTAL" (or "*" for an unknown total) with
// FIRST <= LAST < TOTAL is no range at all.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inet {

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;                // inclusive
    std::optional<std::uint64_t> total;    // none for "*"

    std::uint64_t count() const { return last - first + 1; }
    bool operator==(const ContentRange&) const = default;
};

// The range a "Content-Range" value names, or nothing when the value is not
// one (an unsatisfied-range "*/TOTAL" included).
std::optional<ContentRange> parseContentRange(std::string_view value);

// "bytes FIRST-LAST/TOTAL", or ".../*" without a total.
std::string formatContentRange(const ContentRange& range);

// Whether an entity tag is a weak one (W/"..."), which If-Range must not carry.
bool isWeakEntityTag(std::string_view tag);

// The header lines that ask for the body from byte `from` on, sent only if
// the resource still is the one `validator` names (an entity tag or an
// HTTP date; empty: no If-Range).
std::vector<std::string> rangeRequestHeaders(std::uint64_t from, const std::string& validator);

}  // namespace inet
