#pragma once
// Whether bytes from the start of a file are MPEG audio: an ID3v2 tag (or
// several) is skipped, then an MPEG audio frame header counts only when a
// consistent second header follows exactly one frame later. A Xing/Info or
// VBRI header in the first frame gives the exact frame count and so the
// duration; without one the duration is estimated from the size and the
// bitrate.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace probe {

struct MpegAudio {
    int version = 0;         // 10 (MPEG-1), 20 (MPEG-2), 25 (MPEG-2.5)
    int layer = 0;           // 1..3
    int sampleRate = 0;      // Hz
    int firstFrameKbps = 0;  // what the first frame header says
    int kbps = 0;            // the average when a VBR header or the size tells it, else the first frame's
    bool vbrHeader = false;  // a Xing/Info or VBRI header gave the frame count
    std::optional<std::uint64_t> frames;
    std::optional<double> seconds;
    std::uint64_t audioStart = 0;  // offset in the file of the first frame
};

struct AudioVerdict {
    enum class Kind {
        Audio,
        NotAudio,
        StartsLater,  // the tag ends past the bytes given: ask for the bytes at startsAt
    };
    Kind kind = Kind::NotAudio;
    MpegAudio audio;
    std::string reason;  // for NotAudio: "empty body", "web page", "not MPEG audio"
    std::uint64_t startsAt = 0;
};

// `bytes` are the file's from `offset` on (0: its start, where an ID3v2 tag
// may stand; a later offset is where a tag said the audio starts).
// `totalSize` is the whole file's size when known.
AudioVerdict judgeMpegAudio(std::string_view bytes, std::uint64_t offset = 0,
                            std::optional<std::uint64_t> totalSize = std::nullopt);

// Where the ID3v2 tags at the start of `bytes` end (0 when there is none),
// footers included; may lie past the bytes given.
std::uint64_t id3v2End(std::string_view bytes);

}  // namespace probe
