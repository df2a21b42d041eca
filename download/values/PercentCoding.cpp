#include "download/values/PercentCoding.h"

namespace dl {

namespace {

bool isAsciiLetterOrDigit(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

int HexDigitValue(char c, HexDigits digits) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (digits == HexDigits::AnyCase && c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<unsigned char> EscapedByteAt(std::string_view text, std::size_t at, HexDigits digits) {
    if (at + 2 >= text.size() || text[at] != '%') return std::nullopt;
    const int high = HexDigitValue(text[at + 1], digits);
    const int low = HexDigitValue(text[at + 2], digits);
    if (high < 0 || low < 0) return std::nullopt;
    return static_cast<unsigned char>(high * 16 + low);
}

void AppendPercentEscape(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

std::string PercentEncode(std::string_view text, KeptByte kept) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (kept(byte))
            out += c;
        else
            AppendPercentEscape(out, byte);
    }
    return out;
}

bool IsFormValueByte(unsigned char byte) {
    return isAsciiLetterOrDigit(byte) || std::string_view("!$'()*-.@_").find(static_cast<char>(byte)) !=
                                             std::string_view::npos;
}

bool IsUrlSafeByte(unsigned char byte) { return byte > 0x20 && byte < 0x7F; }

bool IsUnreservedByte(unsigned char byte) {
    return isAsciiLetterOrDigit(byte) || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

bool IsVisibleNonPercentByte(unsigned char byte) { return byte > ' ' && byte < 0x7F && byte != '%'; }

}  // namespace dl
