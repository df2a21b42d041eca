#include "download/probe/MpegAudioVerdict.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace probe {
namespace {

constexpr std::size_t kId3HeaderSize = 10;
// Tags in a row are skipped up to this many; more is no file anyone made.
constexpr int kMaxTagsInRow = 4;

struct FrameHeader {
    int version = 0;  // 10, 20, 25
    int layer = 0;
    int kbps = 0;
    int sampleRate = 0;
    bool padding = false;
    bool crc = false;
    bool mono = false;
    std::size_t length = 0;  // the whole frame, header included
    int samples = 0;         // per frame
};

unsigned byteAt(std::string_view bytes, std::size_t at) { return static_cast<unsigned char>(bytes[at]); }

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
    return (byteAt(bytes, at) << 24) | (byteAt(bytes, at + 1) << 16) | (byteAt(bytes, at + 2) << 8) |
           byteAt(bytes, at + 3);
}

// The bitrates in kbps by [row][index]; index 0 (free format) and 15 are no frame we can measure.
constexpr std::array<std::array<int, 16>, 5> kBitrates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // MPEG-1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // MPEG-1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // MPEG-1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG-2/2.5 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG-2/2.5 layers II, III
}};

std::optional<FrameHeader> readHeader(std::string_view bytes, std::size_t at) {
    if (at + 4 > bytes.size()) return std::nullopt;
    const unsigned b1 = byteAt(bytes, at + 1), b2 = byteAt(bytes, at + 2), b3 = byteAt(bytes, at + 3);
    if (byteAt(bytes, at) != 0xFF || (b1 & 0xE0) != 0xE0) return std::nullopt;
    const unsigned versionBits = (b1 >> 3) & 3, layerBits = (b1 >> 1) & 3;
    const unsigned bitrateIndex = b2 >> 4, rateIndex = (b2 >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || rateIndex == 3 || (b3 & 3) == 2) return std::nullopt;
    FrameHeader h;
    h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.layer = 4 - static_cast<int>(layerBits);
    const bool mpeg1 = h.version == 10;
    const int row = mpeg1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.kbps = kBitrates[row][bitrateIndex];
    if (h.kbps == 0) return std::nullopt;
    static constexpr int kRates[3] = {44100, 48000, 32000};
    h.sampleRate = kRates[rateIndex] / (mpeg1 ? 1 : h.version == 20 ? 2 : 4);
    h.padding = (b2 >> 1) & 1;
    h.crc = (b1 & 1) == 0;
    h.mono = (b3 >> 6) == 3;
    if (h.layer == 1) {
        h.samples = 384;
        h.length = static_cast<std::size_t>((12 * h.kbps * 1000 / h.sampleRate + (h.padding ? 1 : 0)) * 4);
    } else {
        h.samples = (h.layer == 3 && !mpeg1) ? 576 : 1152;
        h.length = static_cast<std::size_t>(h.samples / 8 * h.kbps * 1000 / h.sampleRate + (h.padding ? 1 : 0));
    }
    return h;
}

// The second header of a pair: the same stream, so the same version, layer and rate.
bool consistent(const FrameHeader& a, const FrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

// The frame count a Xing/Info or VBRI header in the frame at `at` gives, and
// the audio bytes when it tells them.
struct VbrHeader {
    std::uint64_t frames = 0;
    std::optional<std::uint64_t> bytes;
};

std::optional<VbrHeader> readVbrHeader(std::string_view bytes, std::size_t at, const FrameHeader& h) {
    const std::string_view frame = bytes.substr(at, std::min(h.length, bytes.size() - at));
    if (h.layer == 3) {
        const std::size_t sideInfo = h.version == 10 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
        const std::size_t tag = 4 + (h.crc ? 2 : 0) + sideInfo;
        if (tag + 8 <= frame.size()) {
            const std::string_view id = frame.substr(tag, 4);
            if (id == "Xing" || id == "Info") {
                const std::uint32_t flags = bigEndian32(frame, tag + 4);
                std::size_t field = tag + 8;
                VbrHeader v;
                if (!(flags & 1) || field + 4 > frame.size()) return std::nullopt;
                v.frames = bigEndian32(frame, field);
                field += 4;
                if ((flags & 2) && field + 4 <= frame.size()) v.bytes = bigEndian32(frame, field);
                return v;
            }
        }
    }
    // VBRI stands 32 bytes after the header, whatever the channels.
    constexpr std::size_t kVbri = 4 + 32;
    if (kVbri + 18 <= frame.size() && frame.substr(kVbri, 4) == "VBRI") {
        VbrHeader v;
        v.bytes = bigEndian32(frame, kVbri + 10);
        v.frames = bigEndian32(frame, kVbri + 14);
        return v;
    }
    return std::nullopt;
}

bool looksLikePage(std::string_view bytes) {
    std::size_t i = 0;
    // A byte-order mark, then blanks.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i]))) ++i;
    if (i < bytes.size() && bytes[i] == '<') return true;
    std::string head(bytes.substr(0, 1024));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return head.find("<html") != std::string::npos || head.find("<!doctype") != std::string::npos;
}

AudioVerdict notAudio(std::string reason) {
    AudioVerdict v;
    v.kind = AudioVerdict::Kind::NotAudio;
    v.reason = std::move(reason);
    return v;
}

}  // namespace

std::uint64_t id3v2End(std::string_view bytes) {
    std::uint64_t end = 0;
    for (int tags = 0; tags < kMaxTagsInRow; ++tags) {
        if (end + kId3HeaderSize > bytes.size()) break;
        const std::string_view h = bytes.substr(static_cast<std::size_t>(end), kId3HeaderSize);
        if (h.substr(0, 3) != "ID3" || byteAt(h, 3) == 0xFF || byteAt(h, 4) == 0xFF) break;
        std::uint64_t size = 0;
        bool syncsafe = true;
        for (std::size_t i = 6; i < 10; ++i) {
            if (byteAt(h, i) & 0x80) syncsafe = false;
            size = (size << 7) | (byteAt(h, i) & 0x7F);
        }
        if (!syncsafe) break;
        const bool footer = byteAt(h, 3) >= 4 && (byteAt(h, 5) & 0x10);
        end += kId3HeaderSize + size + (footer ? kId3HeaderSize : 0);
    }
    return end;
}

AudioVerdict judgeMpegAudio(std::string_view bytes, std::uint64_t offset, std::optional<std::uint64_t> totalSize) {
    if (bytes.empty()) return notAudio(offset == 0 ? "empty body" : "not MPEG audio");
    std::size_t from = 0;
    if (offset == 0) {
        const std::uint64_t end = id3v2End(bytes);
        if (end >= bytes.size() && end > 0) {
            if (totalSize && end >= *totalSize) return notAudio("not MPEG audio");
            AudioVerdict v;
            v.kind = AudioVerdict::Kind::StartsLater;
            v.startsAt = end;
            return v;
        }
        from = static_cast<std::size_t>(end);
    }
    for (std::size_t at = from; at + 4 <= bytes.size(); ++at) {
        if (byteAt(bytes, at) != 0xFF) continue;
        const auto first = readHeader(bytes, at);
        if (!first) continue;
        const auto second = readHeader(bytes, at + first->length);
        if (!second || !consistent(*first, *second)) continue;

        AudioVerdict v;
        v.kind = AudioVerdict::Kind::Audio;
        MpegAudio& a = v.audio;
        a.version = first->version;
        a.layer = first->layer;
        a.sampleRate = first->sampleRate;
        a.firstFrameKbps = a.kbps = first->kbps;
        a.audioStart = offset + at;
        const std::optional<std::uint64_t> audioBytes =
            totalSize && *totalSize > a.audioStart ? std::optional<std::uint64_t>(*totalSize - a.audioStart)
                                                   : std::nullopt;
        if (const auto vbr = readVbrHeader(bytes, at, *first); vbr && vbr->frames > 0) {
            a.vbrHeader = true;
            a.frames = vbr->frames;
            a.seconds = static_cast<double>(vbr->frames) * first->samples / first->sampleRate;
            const auto sized = vbr->bytes ? vbr->bytes : audioBytes;
            if (sized && *a.seconds > 0) a.kbps = static_cast<int>(std::lround(*sized * 8.0 / *a.seconds / 1000.0));
        } else if (audioBytes) {
            a.seconds = *audioBytes * 8.0 / (first->kbps * 1000.0);
        }
        return v;
    }
    return notAudio(offset == 0 && looksLikePage(bytes) ? "web page" : "not MPEG audio");
}

}  // namespace probe
