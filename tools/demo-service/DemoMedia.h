#pragma once
// Files the demo service generates itself: silent MP3 songs and a one-pixel
// background image. Header-only so tests can check the bytes directly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace demo {

// FNV-1a: a stable hash, so the same name or keyword always gives the same
// song length and the same page.
inline std::uint64_t stableHash(std::string_view bytes, std::uint64_t seed = 0) {
    std::uint64_t h = 0xcbf29ce484222325ULL ^ seed;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

// MPEG-1 Layer III, 128 kbit/s, 48 kHz, mono, no CRC: 144 * 128000 / 48000
// gives exactly 384 bytes per frame, so no padding bit is ever needed.
inline constexpr unsigned char kMp3FrameHeader[4] = {0xFF, 0xFB, 0x94, 0xC4};
inline constexpr std::size_t kMp3FrameBytes = 384;
inline constexpr int kMp3MinFrames = 24;
inline constexpr int kMp3FrameSpread = 40;

inline int mp3FrameCount(std::string_view name) {
    return kMp3MinFrames + static_cast<int>(stableHash(name) % kMp3FrameSpread);
}

inline std::size_t mp3Size(std::string_view name) {
    return static_cast<std::size_t>(mp3FrameCount(name)) * kMp3FrameBytes;
}

// The slow song: long enough (about 1.5 MiB, 96 s of silence) that its
// download can be watched, cancelled and photographed.
inline constexpr int kSlowMp3Frames = 4096;
inline constexpr std::size_t kSlowMp3Size = static_cast<std::size_t>(kSlowMp3Frames) * kMp3FrameBytes;

// A run of `frames` silent frames: header, then all-zero side information
// (no main data in either granule) and zero filler, which decoders play as
// silence.
inline std::string silentFrames(int frames) {
    std::string frame(kMp3FrameBytes, '\0');
    for (std::size_t i = 0; i < 4; ++i) frame[i] = static_cast<char>(kMp3FrameHeader[i]);
    std::string out;
    out.reserve(static_cast<std::size_t>(frames) * kMp3FrameBytes);
    for (int i = 0; i < frames; ++i) out += frame;
    return out;
}

inline std::string silentMp3(std::string_view name) { return silentFrames(mp3FrameCount(name)); }

// 1x1 GIF89a in the window's cream colour (#FFFBF0).
inline std::string tinyGif() {
    static constexpr unsigned char kGif[] = {
        'G', 'I', 'F', '8', '9', 'a',
        0x01, 0x00, 0x01, 0x00,  // width 1, height 1
        0x80, 0x00, 0x00,        // global colour table of two entries
        0xFF, 0xFB, 0xF0, 0x00, 0x00, 0x00,
        0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // image descriptor
        0x02, 0x02, 0x44, 0x01, 0x00,  // LZW: clear, pixel 0, end
        0x3B};
    return std::string(reinterpret_cast<const char*>(kGif), sizeof kGif);
}

}  // namespace demo
