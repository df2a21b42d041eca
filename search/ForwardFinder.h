#pragma once
// Finds one marker in a text whose search start only moves forward.
//
// The cutter searches its markers from the start of the part not yet cut,
// which never moves back. A search that found nothing from one offset cannot
// find anything from a later one, and a hit at or beyond the new offset is
// still the first one there, so the last answer is reused until the offset
// passes it. Every byte of the text is thus scanned a bounded number of times
// per marker, however many passes ask.
#include <cstddef>
#include <string_view>

namespace search {

class ForwardFinder {
public:
    static constexpr std::size_t npos = std::string_view::npos;

    ForwardFinder(std::string_view text, std::string_view marker) : text_(text), marker_(marker) {}

    // Position of the first occurrence of the marker that starts at or
    // after `from`, or npos. Correct for any `from`; fast when `from` does
    // not decrease between calls.
    std::size_t findFrom(std::size_t from) {
        const bool reusable = known_ && from >= searchedFrom_ && (hit_ == npos || hit_ >= from);
        if (!reusable) {
            hit_ = from > text_.size() ? npos : text_.find(marker_, from);
            searchedFrom_ = from;
            known_ = true;
        }
        return hit_;
    }

private:
    std::string_view text_;
    std::string_view marker_;
    bool known_ = false;
    std::size_t searchedFrom_ = 0;
    std::size_t hit_ = npos;
};

}  // namespace search
