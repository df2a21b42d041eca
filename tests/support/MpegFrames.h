#pragma once
// Hand-made MPEG audio streams for the probe's tests: frames of silence with
// the header fields asked for, Xing/Info and VBRI headers, ID3v2 tags.
#include <cstdint>
#include <string>

namespace probetest {

struct FrameSpec {
    unsigned versionBits = 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    unsigned layerBits = 1;    // 1 layer III, 2 layer II, 3 layer I
    unsigned bitrateIndex = 9; // 128 kbps for MPEG-1 layer III
    unsigned rateIndex = 0;    // 44100 Hz for MPEG-1
    bool mono = false;
    bool padding = false;
};

inline std::string header(const FrameSpec& f) {
    std::string h(4, '\0');
    h[0] = static_cast<char>(0xFF);
    h[1] = static_cast<char>(0xE0 | (f.versionBits << 3) | (f.layerBits << 1) | 1);  // no CRC
    h[2] = static_cast<char>((f.bitrateIndex << 4) | (f.rateIndex << 2) | (f.padding ? 2 : 0));
    h[3] = static_cast<char>(f.mono ? 0xC0 : 0x00);
    return h;
}

// One frame of `length` bytes (as the header makes it) with its header.
inline std::string frame(const FrameSpec& f, std::size_t length) {
    std::string out = header(f);
    out.resize(length, '\0');
    return out;
}

inline void putBigEndian32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

// An ID3v2 tag whose frames take `size` bytes (v2.4 with a footer when asked).
inline std::string id3Tag(std::uint32_t size, bool footer = false) {
    std::string tag = "ID3";
    tag += static_cast<char>(footer ? 4 : 3);
    tag += '\0';
    tag += static_cast<char>(footer ? 0x10 : 0);
    for (int i = 3; i >= 0; --i) tag += static_cast<char>((size >> (7 * i)) & 0x7F);
    tag += std::string(size, 'T');
    if (footer) tag += "3DI" + tag.substr(3, 7);
    return tag;
}

}  // namespace probetest
