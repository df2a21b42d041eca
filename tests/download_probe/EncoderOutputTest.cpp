// The probe's verdict over what a real encoder writes: Debian's sox makes
// the sound and lame encodes it, at test time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "download/probe/MpegAudioVerdict.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolRun.h"

namespace {

using probe::AudioVerdict;
using probe::judgeMpegAudio;

constexpr double kSeconds = 10;
constexpr std::size_t kProbeBytes = 16384;

class EncoderOutput : public testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/sox", "/usr/bin/lame"})
            ASSERT_TRUE(std::filesystem::exists(tool)) << tool << " missing: scripts/install-deps.sh installs it";
        // Noise with a quiet half, so that a VBR encoder varies its frames.
        run("/usr/bin/sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", dir_.file("loud.wav"), "synth", "5",
                             "pinknoise"});
        run("/usr/bin/sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", dir_.file("quiet.wav"), "synth", "5", "sine",
                             "440", "vol", "0.01"});
        run("/usr/bin/sox", {dir_.file("loud.wav"), dir_.file("quiet.wav"), dir_.file("song.wav")});
    }

    void run(const std::string& tool, const std::vector<std::string>& args) {
        const testsupport::ToolRun r = testsupport::runTool(tool, args);
        ASSERT_TRUE(r.finished && r.exitCode == 0) << tool << ": " << r.err;
    }

    std::string encode(const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), "--quiet");
        options.push_back(dir_.file("song.wav"));
        options.push_back(dir_.file(name));
        run("/usr/bin/lame", options);
        std::ifstream in(dir_.file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // What a probe sees: the first 16 KiB, and the 16 KiB where the audio
    // starts when a tag reaches past them.
    static AudioVerdict probeLike(const std::string& file) {
        const std::string_view bytes(file);
        AudioVerdict v = judgeMpegAudio(bytes.substr(0, kProbeBytes), 0, file.size());
        if (v.kind == AudioVerdict::Kind::StartsLater && v.startsAt < file.size())
            v = judgeMpegAudio(bytes.substr(v.startsAt, kProbeBytes), v.startsAt, file.size());
        return v;
    }

    testsupport::TempDir dir_;
};

TEST_F(EncoderOutput, ConstantBitrateWithInfoFrame) {
    const std::string file = encode("cbr.mp3", {"-b", "128"});
    const AudioVerdict v = probeLike(file);
    ASSERT_EQ(v.kind, AudioVerdict::Kind::Audio) << v.reason;
    EXPECT_TRUE(v.audio.vbrHeader);  // the Info frame
    EXPECT_EQ(v.audio.firstFrameKbps, 128);
    EXPECT_NEAR(v.audio.kbps, 128, 2);
    EXPECT_EQ(v.audio.sampleRate, 44100);
    EXPECT_NEAR(*v.audio.seconds, kSeconds, 0.1);
}

TEST_F(EncoderOutput, VariableBitrateWithXing) {
    const std::string file = encode("vbr.mp3", {"-V", "9", "--resample", "44.1"});
    const AudioVerdict v = probeLike(file);
    ASSERT_EQ(v.kind, AudioVerdict::Kind::Audio) << v.reason;
    EXPECT_TRUE(v.audio.vbrHeader);
    ASSERT_TRUE(v.audio.seconds);
    EXPECT_NEAR(*v.audio.seconds, kSeconds, 0.1);
    // The average, not what the first frame says.
    EXPECT_NEAR(v.audio.kbps, file.size() * 8 / *v.audio.seconds / 1000, 3);
    EXPECT_NE(v.audio.kbps, v.audio.firstFrameKbps);
}

TEST_F(EncoderOutput, CoverArtInTheTag) {
    // A picture larger than what a probe reads first.
    std::string art = "\xFF\xD8\xFF\xE0";
    art += std::string(40000, '\x11');
    art += "\xFF\xD9";
    {
        std::ofstream out(dir_.file("art.jpg"), std::ios::binary);
        out << art;
    }
    const std::string file = encode("art.mp3", {"-b", "96", "--ti", dir_.file("art.jpg"), "--tt", "歌"});
    const AudioVerdict first = judgeMpegAudio(std::string_view(file).substr(0, kProbeBytes), 0, file.size());
    ASSERT_EQ(first.kind, AudioVerdict::Kind::StartsLater);
    EXPECT_GT(first.startsAt, 40000u);
    const AudioVerdict v = probeLike(file);
    ASSERT_EQ(v.kind, AudioVerdict::Kind::Audio) << v.reason;
    EXPECT_EQ(v.audio.firstFrameKbps, 96);
    EXPECT_NEAR(*v.audio.seconds, kSeconds, 0.1);
}

}  // namespace
