#include "store/SongKey.h"

#include <cstdint>

namespace store {
namespace {

// One code point decoded from `text` at `at`, with its length; a byte that
// starts no valid sequence is its own "code point" above the Unicode range.
struct Decoded {
    char32_t point;
    std::size_t length;
};
constexpr char32_t kRawByte = 0x110000;

Decoded decode(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    const std::size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) return {kRawByte + lead, 1};
    char32_t point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {kRawByte + lead, 1};
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms and surrogates are no characters.
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return {kRawByte + lead, 1};
    return {point, length};
}

void encode(std::string& out, char32_t point) {
    if (point >= kRawByte) {
        out += static_cast<char>(point - kRawByte);
    } else if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// The compatibility folds of NFKC that titles meet: the full-width forms and
// the blanks of other widths.
char32_t widthFolded(char32_t c) {
    if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFF01 + 0x21;
    if (c == 0x3000 || c == 0x00A0 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F) return ' ';
    switch (c) {
        case 0xFFE0: return 0x00A2;
        case 0xFFE1: return 0x00A3;
        case 0xFFE2: return 0x00AC;
        case 0xFFE3: return 0x00AF;
        case 0xFFE4: return 0x00A6;
        case 0xFFE5: return 0x00A5;
        case 0xFFE6: return 0x20A9;
        default: return c;
    }
}

bool dropped(char32_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '-' || c == '_' || c == 0x00B7;
}

}  // namespace

std::string songKey(std::string_view title) {
    std::string key;
    key.reserve(title.size());
    for (std::size_t at = 0; at < title.size();) {
        const Decoded d = decode(title, at);
        at += d.length;
        char32_t c = widthFolded(d.point);
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        if (!dropped(c)) encode(key, c);
    }
    return key;
}

}  // namespace store
