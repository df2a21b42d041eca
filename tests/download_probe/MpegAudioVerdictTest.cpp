#include "download/probe/MpegAudioVerdict.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/MpegFrames.h"

namespace {

using probe::AudioVerdict;
using probe::judgeMpegAudio;
using probetest::FrameSpec;
using probetest::frame;

constexpr std::size_t k128Frame = 417;  // 144 * 128000 / 44100, no padding

// `count` frames of 128 kbps MPEG-1 layer III, at 44100 Hz.
std::string cbrFrames(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += frame(FrameSpec{}, k128Frame);
    return out;
}

// A first frame carrying a Xing/Info (at 4 + 32) or VBRI (at 4 + 32) header.
std::string vbrFirstFrame(const std::string& id, std::uint32_t frames, std::uint32_t bytes) {
    std::string f = frame(FrameSpec{}, k128Frame);
    const std::size_t at = 36;
    f.replace(at, 4, id);
    if (id == "VBRI") {
        probetest::putBigEndian32(f, at + 10, bytes);
        probetest::putBigEndian32(f, at + 14, frames);
    } else {
        probetest::putBigEndian32(f, at + 4, 3);  // frames and bytes
        probetest::putBigEndian32(f, at + 8, frames);
        probetest::putBigEndian32(f, at + 12, bytes);
    }
    return f;
}

struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::uint64_t> total;
    AudioVerdict::Kind kind;
    int kbps = 0;
    double seconds = -1;  // -1: none
    std::uint64_t start = 0;
    std::string reason = {};
};

std::string randomWithSyncWords(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    // Plenty of sync words that look like 128 kbps headers, at random places.
    for (std::size_t at = 0; at + 3 < size; at += 97 + gen() % 400) out.replace(at, 3, "\xFF\xFB\x90");
    return out;
}

TEST(MpegAudioVerdict, TableOfStreams) {
    const std::string page = "<!DOCTYPE html><html><body>404 file not found \xFF\xFB\x90\x00 </body></html>";
    const double xingSeconds = 1000.0 * 1152 / 44100;
    const std::vector<Case> cases = {
        {"cbr with size", cbrFrames(40), 417 * 1000, AudioVerdict::Kind::Audio, 128, 417000 * 8 / 128000.0},
        {"cbr without size", cbrFrames(40), std::nullopt, AudioVerdict::Kind::Audio, 128, -1},
        {"xing", vbrFirstFrame("Xing", 1000, 150000) + cbrFrames(5), 200000, AudioVerdict::Kind::Audio,
         static_cast<int>(std::lround(150000 * 8 / xingSeconds / 1000)), xingSeconds},
        {"info", vbrFirstFrame("Info", 1000, 417000) + cbrFrames(5), 417000, AudioVerdict::Kind::Audio, 128,
         xingSeconds},
        {"vbri", vbrFirstFrame("VBRI", 1000, 150000) + cbrFrames(5), std::nullopt, AudioVerdict::Kind::Audio,
         static_cast<int>(std::lround(150000 * 8 / xingSeconds / 1000)), xingSeconds},
        {"small tag", probetest::id3Tag(100) + cbrFrames(3), 110 + 417 * 3, AudioVerdict::Kind::Audio, 128,
         417 * 3 * 8 / 128000.0, 110},
        {"tag with footer", probetest::id3Tag(5000, true) + cbrFrames(3), std::nullopt, AudioVerdict::Kind::Audio,
         128, -1, 5020},
        {"two tags", probetest::id3Tag(10) + probetest::id3Tag(20) + cbrFrames(3), std::nullopt,
         AudioVerdict::Kind::Audio, 128, -1, 50},
        {"tag past the bytes", probetest::id3Tag(20000).substr(0, 16384), 100000, AudioVerdict::Kind::StartsLater, 0,
         -1, 20010},
        {"odd offset", std::string(333, '\x01') + cbrFrames(3), std::nullopt, AudioVerdict::Kind::Audio, 128, -1, 333},
        {"one header only", cbrFrames(1), std::nullopt, AudioVerdict::Kind::NotAudio, 0, -1, 0, "not MPEG audio"},
        {"empty", "", std::nullopt, AudioVerdict::Kind::NotAudio, 0, -1, 0, "empty body"},
        {"page", page, std::nullopt, AudioVerdict::Kind::NotAudio, 0, -1, 0, "web page"},
        {"page after blanks", "\r\n  <html>" + std::string(2000, 'x'), std::nullopt, AudioVerdict::Kind::NotAudio, 0,
         -1, 0, "web page"},
        {"random with sync words", randomWithSyncWords(16384, 7), std::nullopt, AudioVerdict::Kind::NotAudio, 0, -1,
         0, "not MPEG audio"},
        {"tag of a whole file", probetest::id3Tag(500), 510, AudioVerdict::Kind::NotAudio, 0, -1, 0, "not MPEG audio"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AudioVerdict v = judgeMpegAudio(c.bytes, 0, c.total);
        ASSERT_EQ(v.kind, c.kind) << v.reason;
        if (c.kind == AudioVerdict::Kind::StartsLater) {
            EXPECT_EQ(v.startsAt, c.start);
        } else if (c.kind == AudioVerdict::Kind::Audio) {
            EXPECT_EQ(v.audio.kbps, c.kbps);
            EXPECT_EQ(v.audio.firstFrameKbps, 128);
            EXPECT_EQ(v.audio.sampleRate, 44100);
            EXPECT_EQ(v.audio.audioStart, c.start);
            ASSERT_EQ(v.audio.seconds.has_value(), c.seconds >= 0);
            if (c.seconds >= 0) {
                EXPECT_NEAR(*v.audio.seconds, c.seconds, 0.01);
            }
        } else {
            EXPECT_EQ(v.reason, c.reason);
        }
    }
}

TEST(MpegAudioVerdict, OtherVersionsAndLayers) {
    struct Stream {
        const char* name;
        FrameSpec header;
        std::size_t length;
        int kbps;
        int rate;
    };
    const std::vector<Stream> streams = {
        {"mpeg-2 layer III mono", {2, 1, 8, 0, true}, 72 * 64000 / 22050, 64, 22050},
        {"mpeg-2.5 layer III", {0, 1, 4, 2, false}, 72 * 32000 / 8000, 32, 8000},
        {"mpeg-1 layer II", {3, 2, 9, 1, false}, 144 * 160000 / 48000, 160, 48000},
        {"mpeg-1 layer I", {3, 3, 4, 2, false}, (12 * 128000 / 32000) * 4, 128, 32000},
    };
    for (const Stream& s : streams) {
        SCOPED_TRACE(s.name);
        const std::string bytes = frame(s.header, s.length) + frame(s.header, s.length);
        const AudioVerdict v = judgeMpegAudio(bytes);
        ASSERT_EQ(v.kind, AudioVerdict::Kind::Audio);
        EXPECT_EQ(v.audio.kbps, s.kbps);
        EXPECT_EQ(v.audio.sampleRate, s.rate);
        // The next header one byte short is no pair.
        EXPECT_EQ(judgeMpegAudio(bytes.substr(0, s.length + 3)).kind, AudioVerdict::Kind::NotAudio);
    }
}

TEST(MpegAudioVerdict, InconsistentSecondHeaderIsNoPair) {
    FrameSpec other;
    other.rateIndex = 1;  // 48000 Hz
    const std::string bytes = frame(FrameSpec{}, k128Frame) + frame(other, 384);
    EXPECT_EQ(judgeMpegAudio(bytes).kind, AudioVerdict::Kind::NotAudio);
}

TEST(MpegAudioVerdict, BytesFromWhereTheTagSaidTheAudioStarts) {
    const std::string file = probetest::id3Tag(40000) + cbrFrames(40);
    const AudioVerdict first = judgeMpegAudio(std::string_view(file).substr(0, 16384), 0, file.size());
    ASSERT_EQ(first.kind, AudioVerdict::Kind::StartsLater);
    const AudioVerdict later = judgeMpegAudio(std::string_view(file).substr(first.startsAt, 16384), first.startsAt,
                                              file.size());
    ASSERT_EQ(later.kind, AudioVerdict::Kind::Audio);
    EXPECT_EQ(later.audio.audioStart, 40010u);
    EXPECT_NEAR(*later.audio.seconds, 40 * 417 * 8 / 128000.0, 0.01);
    // Bytes from later on never count as a tag, nor as the start of a page.
    EXPECT_EQ(judgeMpegAudio("<html>", 5000).reason, "not MPEG audio");
}

TEST(MpegAudioVerdict, TagSizesAreSyncsafe) {
    EXPECT_EQ(probe::id3v2End(probetest::id3Tag(0x3FFF)), 0x3FFFu + 10);
    EXPECT_EQ(probe::id3v2End(std::string("ID3\x03\x00\x00\x00\x00\x81\x00", 10)), 0u);  // high bit set
    EXPECT_EQ(probe::id3v2End("ID3"), 0u);
    EXPECT_EQ(probe::id3v2End(std::string("ID3\x04\x00\x10\x7F\x7F\x7F\x7F", 10)), 0x0FFFFFFFu + 20);
}

}  // namespace
