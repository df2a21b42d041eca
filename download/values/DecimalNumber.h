#pragma once
// Decimal numbers read from text: digits only (no sign, no blanks), into 64
// bits, with the reader saying what a number too large for them is.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace dl {

enum class DecimalOverflow {
    Saturate,  // it reads as the largest number
    Refuse,    // it is no number
};

// The number the whole of `text` makes; nothing when it is empty or holds
// anything but digits.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, DecimalOverflow overflow);

// The number the digits at the front of `text` make, which are taken off
// it; nothing (and `text` unchanged) when there are none, when there are
// more than `maxDigits` of them, or when the number overflows under Refuse.
std::optional<std::uint64_t> TakeDecimal(std::string_view& text, DecimalOverflow overflow,
                                         std::size_t maxDigits = std::numeric_limits<std::size_t>::max());

}  // namespace dl
