#include "download/inet/InetRequestUrl.h"

#include "download/values/PercentCoding.h"
#include "platform/GbkCodec.h"

namespace inet {

namespace {

bool isEdgeJunk(unsigned char c) { return c <= 0x20 || c == 0x7F; }

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    unsigned min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    unsigned value = c & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Each non-ASCII character in GBK where GBK holds it, else its UTF-8 bytes.
std::string toGbkWherePossible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            out += text[i++];
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, i);
        const std::string_view character = text.substr(i, length);
        const std::string gbk = platform::utf8ToGbk(character);
        out += gbk == "?" ? std::string(character) : gbk;
        i += length;
    }
    return out;
}

}  // namespace

std::string encodeUnsafeBytes(std::string_view text) { return dl::PercentEncode(text, dl::IsUrlSafeByte); }

std::string browserUrl(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isEdgeJunk(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && isEdgeJunk(static_cast<unsigned char>(text[end - 1]))) --end;
    const std::string_view inner = text.substr(begin, end - begin);
    return encodeUnsafeBytes(isUtf8(inner) ? toGbkWherePossible(inner) : std::string(inner));
}

}  // namespace inet
