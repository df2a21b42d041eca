#include "download/values/DecimalNumber.h"

namespace dl {

std::optional<std::uint64_t> TakeDecimal(std::string_view& text, DecimalOverflow overflow, std::size_t maxDigits) {
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
    std::size_t n = 0;
    std::uint64_t value = 0;
    bool overflowed = false;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') {
        if (n == maxDigits) return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(text[n] - '0');
        if (overflowed || value > (kLargest - digit) / 10) {
            overflowed = true;
            value = kLargest;
        } else {
            value = value * 10 + digit;
        }
        ++n;
    }
    if (n == 0 || (overflowed && overflow == DecimalOverflow::Refuse)) return std::nullopt;
    text.remove_prefix(n);
    return value;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text, DecimalOverflow overflow) {
    const auto value = TakeDecimal(text, overflow);
    if (!value || !text.empty()) return std::nullopt;
    return value;
}

}  // namespace dl
