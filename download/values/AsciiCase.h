#pragma once
// Texts compared and changed ignoring the case of ASCII letters only: the
// bytes of GBK and UTF-8 characters stay as they are, whatever the locale.
#include <cstddef>
#include <string>
#include <string_view>

namespace dl {

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal byte by byte, ignoring the case of ASCII letters.
constexpr bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

constexpr bool StartsWithText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

// `part` occurs somewhere in `text`, ignoring case.
bool ContainsText(std::string_view text, std::string_view part);

std::string AsciiLowerCase(std::string text);

}  // namespace dl
