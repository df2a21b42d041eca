#include "download/probe/LinkVerdict.h"

#include <gtest/gtest.h>

#include "download/texts/DownloadErrors.h"

namespace {

using probe::LinkState;

TEST(LinkVerdict, FailuresWithoutAnAnswer) {
    const std::vector<std::pair<int, LinkState>> cases = {
        {dl::kErrNameNotResolved, LinkState::Dead},  {dl::kErrCannotConnect, LinkState::Dead},
        {dl::kErrTimeout, LinkState::Dead},          {dl::kErrUnrecognizedScheme, LinkState::Dead},
        {dl::kErrConnectionReset, LinkState::Unavailable}, {dl::kErrConnectionAborted, LinkState::Unavailable},
    };
    for (const auto& [error, state] : cases) {
        SCOPED_TRACE(error);
        probe::ProbeFacts facts;
        facts.error = error;
        facts.errorText = "why";
        const probe::LinkVerdict v = probe::judgeLink(facts);
        EXPECT_EQ(v.state, state);
        EXPECT_EQ(v.code, error);
        EXPECT_EQ(v.reason, "why");
        EXPECT_STREQ(probe::stateWord(v.state), "dead");
    }
}

TEST(LinkVerdict, AnAnswerIsAudioOnlyWhenItsBytesAre) {
    probe::ProbeFacts facts;
    facts.status = 206;
    facts.size = 4000000;
    facts.audio.kind = probe::AudioVerdict::Kind::Audio;
    facts.audio.audio.kbps = 320;
    facts.audio.audio.seconds = 100;
    probe::LinkVerdict v = probe::judgeLink(facts);
    EXPECT_EQ(v.state, LinkState::Audio);
    EXPECT_EQ(v.kbps, 320);
    EXPECT_EQ(v.size, 4000000u);
    EXPECT_STREQ(probe::stateWord(v.state), "audio");
    // A 404 page that is an MP3 is still a dead link.
    facts.status = 404;
    EXPECT_EQ(probe::judgeLink(facts).state, LinkState::Dead);
    facts.status = 502;
    EXPECT_EQ(probe::judgeLink(facts).state, LinkState::Unavailable);
    facts.status = 200;
    facts.audio.kind = probe::AudioVerdict::Kind::StartsLater;
    v = probe::judgeLink(facts);
    EXPECT_EQ(v.state, LinkState::NotAudio);
    EXPECT_FALSE(v.kbps);
    EXPECT_STREQ(probe::stateWord(v.state), "notaudio");
}

}  // namespace
