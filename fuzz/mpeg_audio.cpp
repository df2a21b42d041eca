// The verdict on a link's first bytes: ID3v2 tags, frame headers, Xing/Info
// and VBRI headers, read from whatever a server sends. The first 8 bytes
// choose the offset and the total size the bytes are judged with.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "download/probe/LinkVerdict.h"
#include "download/probe/MpegAudioVerdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint32_t offset = 0, total = 0;
    std::memcpy(&offset, data, 4);
    std::memcpy(&total, data + 4, 4);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 8), size - 8);
    const std::optional<std::uint64_t> size_ = total == 0 ? std::nullopt : std::optional<std::uint64_t>(total);
    probe::ProbeFacts facts;
    facts.status = 206;
    facts.size = size_;
    facts.audio = probe::judgeMpegAudio(bytes, offset % 2 == 0 ? 0 : offset, size_);
    if (facts.audio.kind == probe::AudioVerdict::Kind::Audio) {
        const auto& a = facts.audio.audio;
        if (a.kbps < 0 || a.sampleRate <= 0 || (a.seconds && *a.seconds < 0)) __builtin_trap();
    }
    (void)probe::judgeLink(facts);
    (void)probe::id3v2End(bytes);
    return 0;
}
