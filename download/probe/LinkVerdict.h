#pragma once
// The verdict on one song link from what its probe brought back: the
// answer's status (or the failure that left none), its size and validators,
// and whether its first bytes are MPEG audio.
#include <cstdint>
#include <optional>
#include <string>

#include "download/probe/MpegAudioVerdict.h"

namespace probe {

enum class LinkState {
    Audio,        // 可用
    NotAudio,     // 不是歌曲
    Dead,         // 失效
    Unavailable,  // 暂时不可用
};

struct LinkVerdict {
    LinkState state = LinkState::Dead;
    // The HTTP status when there was an answer, else the download road's
    // error number (12007 name not resolved, 12029 refused, 12002 timed out …).
    int code = 0;
    std::string reason;
    int status = 0;
    std::optional<std::uint64_t> size;  // the whole file's
    std::optional<int> kbps;
    std::optional<double> seconds;
    std::string etag;
    std::string lastModified;
};

// What a probe learnt about a link, before judging it.
struct ProbeFacts {
    int error = 0;   // the download road's error number; 0 when an answer came
    std::string errorText;
    int status = 0;
    std::optional<std::uint64_t> size;
    std::string etag;
    std::string lastModified;
    AudioVerdict audio;  // of the bytes, for a 200 or 206
};

LinkVerdict judgeLink(const ProbeFacts& facts);

// The verdict's name as the tools print it: audio, notaudio, dead.
const char* stateWord(LinkState state);

}  // namespace probe
