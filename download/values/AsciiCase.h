#pragma once
// Tag and attribute names compare ignoring the case of ASCII letters only:
// bytes of GBK characters compare as they are.
#include <cstddef>
#include <string_view>

namespace dl {

constexpr char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    }
    return true;
}

}  // namespace dl
