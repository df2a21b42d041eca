// The Content-Range of an answer 206, as the transfer reads it before it
// appends the bytes that follow to those it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/inet/InetRange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto range = inet::parseContentRange(text);
    if (!range) return 0;
    // A range read is a whole one: first to last, inside a known length.
    if (range->first > range->last) std::abort();
    if (range->total && range->last >= *range->total) std::abort();
    if (range->count() == 0) std::abort();
    // It reads back as itself when written out.
    if (inet::parseContentRange(inet::formatContentRange(*range)) != range) std::abort();
    return 0;
}
