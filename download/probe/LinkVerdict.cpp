#include "download/probe/LinkVerdict.h"

#include "download/texts/DownloadErrors.h"

namespace probe {

LinkVerdict judgeLink(const ProbeFacts& facts) {
    LinkVerdict v;
    v.status = facts.status;
    v.size = facts.size;
    v.etag = facts.etag;
    v.lastModified = facts.lastModified;
    if (facts.status == 0) {
        v.code = facts.error;
        v.reason = facts.errorText;
        // A server that cannot be found, refuses or never answers is dead;
        // one that drops the line half-way may answer the next time.
        const bool dead = facts.error == dl::kErrNameNotResolved || facts.error == dl::kErrCannotConnect ||
                          facts.error == dl::kErrTimeout || facts.error == dl::kErrInvalidUrl ||
                          facts.error == dl::kErrUnrecognizedScheme;
        v.state = dead ? LinkState::Dead : LinkState::Unavailable;
        return v;
    }
    v.code = facts.status;
    v.reason = "HTTP " + std::to_string(facts.status);
    if (facts.status == 429 || facts.status >= 500) {
        v.state = LinkState::Unavailable;
        return v;
    }
    // A range past the end of an empty file.
    if (facts.status == 416) {
        v.state = LinkState::NotAudio;
        v.reason = "empty body";
        return v;
    }
    if (facts.status != 200 && facts.status != 206) {
        v.state = LinkState::Dead;
        return v;
    }
    if (facts.audio.kind != AudioVerdict::Kind::Audio) {
        v.state = LinkState::NotAudio;
        v.reason = facts.audio.kind == AudioVerdict::Kind::StartsLater ? "audio starts past what a probe reads"
                                                                       : facts.audio.reason;
        return v;
    }
    v.state = LinkState::Audio;
    v.reason.clear();
    v.kbps = facts.audio.audio.kbps;
    v.seconds = facts.audio.audio.seconds;
    return v;
}

const char* stateWord(LinkState state) {
    switch (state) {
        case LinkState::Audio: return "audio";
        case LinkState::NotAudio: return "notaudio";
        case LinkState::Dead:
        case LinkState::Unavailable: return "dead";
    }
    return "dead";
}

}  // namespace probe
