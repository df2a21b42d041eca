// One song, several links: the order in which a song takes its other links,
// and which failures send it to the next one.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/component/SongLinks.h"
#include "download/texts/DownloadErrors.h"

using dl::LinkCandidate;
using probe::LinkState;

namespace {

constexpr std::int64_t kNow = 1'800'000'000;

LinkCandidate probed(std::string url, LinkState state, std::optional<int> kbps = {},
                     std::optional<std::uint64_t> size = {}, std::int64_t ago = 60) {
    probe::LinkVerdict verdict;
    verdict.state = state;
    verdict.kbps = kbps;
    verdict.size = size;
    return {std::move(url), verdict, kNow - ago};
}

LinkCandidate unprobed(std::string url) { return {std::move(url), std::nullopt, 0}; }

}  // namespace

TEST(SongLinks, TheNextLinksAreTakenBestFirst) {
    struct Case {
        const char* name;
        std::vector<LinkCandidate> candidates;
        std::vector<std::string> tried;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {"audio first, higher kbps, then larger",
         {unprobed("http://u/1"), probed("http://a/128", LinkState::Audio, 128, 4'000'000),
          probed("http://a/320", LinkState::Audio, 320, 9'000'000),
          probed("http://a/128big", LinkState::Audio, 128, 5'000'000)},
         {},
         {"http://a/320", "http://a/128big", "http://a/128", "http://u/1"}},
        {"never probed before for now unavailable, dead ones last",
         {probed("http://d/old", LinkState::Dead, {}, {}, 2 * 3600), probed("http://t/503", LinkState::Unavailable),
          unprobed("http://u/1"), probed("http://n/page", LinkState::NotAudio, {}, {}, 3601)},
         {},
         {"http://u/1", "http://t/503", "http://d/old", "http://n/page"}},
        {"a link found dead within the hour is not taken at all",
         {probed("http://d/new", LinkState::Dead, {}, {}, 3599), probed("http://n/new", LinkState::NotAudio),
          unprobed("http://u/1")},
         {},
         {"http://u/1"}},
        {"links tried, repeated, or not on the web are left out; ties keep their order",
         {unprobed("http://u/2"), unprobed("http://tried/1"), unprobed("ftp://f/1"), unprobed("file:///etc/passwd"),
          unprobed("http://u/2"), unprobed("HTTPS://u/3"), unprobed("http://"), unprobed("")},
         {"http://tried/1"},
         {"http://u/2", "HTTPS://u/3"}},
        {"nothing left", {unprobed("http://tried/1")}, {"http://tried/1"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dl::OrderNextLinks(c.candidates, c.tried, kNow), c.want);
    }
}

TEST(SongLinks, OnlyAFailureOfTheLinkSendsTheSongToItsNext) {
    struct Case {
        std::int32_t code;
        std::int32_t status;
        bool movesOn;
    };
    const std::vector<Case> cases = {
        {dl::kErrServerRefused, 404, true},   {dl::kErrServerRefused, 410, true},
        {dl::kErrServerRefused, 403, true},   {dl::kErrServerRefused, 503, true},
        {dl::kErrServerRefused, 429, true},   {dl::kErrNameNotResolved, 0, true},
        {dl::kErrCannotConnect, 0, true},     {dl::kErrTimeout, 0, true},
        {dl::kErrNotAudio, 200, true},        {dl::kErrServerRefused, 0, true},
        {dl::kErrServerRefused, 416, false},  {dl::kErrSizeLimit, 200, false},
        {dl::kErrTooOld, 200, false},         {dl::kErrDiskFull, 200, false},
        {dl::kErrWriteAccessDenied, 200, false}, {dl::kErrStopped, 200, false},
        {dl::kErrNone, 200, false},
    };
    for (const Case& c : cases) {
        dl::TransferOutcome outcome;
        outcome.errorCode = c.code;
        outcome.statusCode = c.status;
        outcome.failure = dl::ClassOfFailure(c.code, c.status);
        EXPECT_EQ(dl::MovesToNextLink(outcome), c.movesOn) << c.code << " " << c.status;
    }
}
