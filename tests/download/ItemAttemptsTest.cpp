// An item that failed for a moment is tried again: answers 408, 429, 500,
// 502, 503 and 504, and lines that broke where the rest cannot be asked for;
// within one budget of further attempts and one schedule of pauses shared
// with the requests for the rest, or after the server's Retry-After. Stop
// ends a pause at once. The server is the range server; no verdict waits on
// a pause (they are a millisecond, or far longer than any bound when the
// test needs to know the schedule's pause was not taken).
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/ItemAttempts.h"
#include "download/engine/RetryAfter.h"
#include "download/engine/TDlDownloads.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/download/SongRun.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

using dltest::namesIn;
using dltest::range;
using dltest::rangesAsked;
using dltest::SongRun;
using testsupport::RangeServer;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t kSize = 100000;
constexpr std::uint64_t kHalf = kSize / 2;
const auto kFile = testsupport::patternBody(kSize, 7);

}  // namespace

TEST(ItemAttempts, WhatIsTriedAgainAndHow) {
    struct Case {
        const char* name;
        RangeServer::Setup setup;
        std::chrono::milliseconds pause;  // the schedule's; 10 min: it must not be the one taken
        std::int32_t code;
        std::string message;
        std::vector<std::string> ranges;  // each request's Range ("" for none)
        std::int32_t retries;
        std::int32_t continuations = 0;
        std::int64_t retryAfter = 0;  // a refused one
        bool kept = false;
    };
    using S = RangeServer::Setup;
    const auto setup = [](auto change) {
        S s;
        s.file = {kFile, "\"t\"", ""};
        change(s);
        return s;
    };
    const auto ms1 = 1ms;
    const auto never = std::chrono::milliseconds(10min);
    const std::string none = "";
    std::vector<Case> cases = {
        {"503, then the song", setup([](S& s) { s.statusOf = {{0, 503}}; }), ms1, 0, "", {none, none}, 1},
        {"503 with Retry-After 0: no schedule's pause",
         setup([](S& s) {
             s.statusOf = {{0, 503}};
             s.retryAfterOf = {{0, "0"}};
         }),
         never, 0, "", {none, none}, 1},
        {"503 with a Retry-After date already past",
         setup([](S& s) {
             s.statusOf = {{0, 503}};
             s.retryAfterOf = {{0, "Sun, 06 Nov 1994 08:49:37 GMT"}};
         }),
         never, 0, "", {none, none}, 1},
        {"502, then the song", setup([](S& s) { s.statusOf = {{0, 502}}; }), ms1, 0, "", {none, none}, 1},
        {"408, 429 and 500 in a row",
         setup([](S& s) { s.statusOf = {{0, 408}, {1, 429}, {2, 500}}; }), ms1, 0, "", {none, none, none, none}, 3},
        {"504 four times: three further attempts, no more",
         setup([](S& s) { s.statusOf = {{0, 504}, {1, 504}, {2, 504}, {3, 504}}; }), ms1, 2, "Gateway timeout",
         {none, none, none, none}, 3},
        {"404 is no moment's failure", setup([](S& s) { s.statusOf = {{0, 404}}; }), ms1, 2, "File not found",
         {none}, 0},
        {"a Retry-After over 60 s fails it at once, saying so",
         setup([](S& s) {
             s.statusOf = {{0, 503}};
             s.retryAfterOf = {{0, "120"}};
         }),
         ms1, 2, "Service unavailable (Retry-After: 120 s)", {none}, 0, 0, 120},
        {"a drop where ranges are not taken: the song starts over",
         setup([](S& s) {
             s.dropAt = {kHalf};
             s.acceptRanges = "none";
         }),
         ms1, 0, "", {none, none}, 1},
        {"a drop where they are: the rest is asked for", setup([](S& s) { s.dropAt = {kHalf}; }), ms1, 0, "",
         {none, range(kHalf)}, 1, 1},
        // One budget: a request for the rest and two songs asked again.
        {"a drop, then 503 twice", setup([](S& s) {
             s.dropAt = {kHalf};
             s.statusOf = {{1, 503}, {2, 503}};
         }),
         ms1, 0, "", {none, range(kHalf), range(kHalf), range(kHalf)}, 3, 1},
        {"a drop, then 503 three times: the budget is spent",
         setup([](S& s) {
             s.dropAt = {kHalf};
             s.statusOf = {{1, 503}, {2, 503}, {3, 503}};
         }),
         ms1, 2, "Service unavailable", {none, range(kHalf), range(kHalf), range(kHalf)}, 3, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(c.setup);
        SongRun song(server, c.pause);
        ASSERT_TRUE(song.recorder.runToEnd(60000));
        dl::TDlDownloadItem& item = song.item;
        EXPECT_EQ(item.Progress.ErrorCode, c.code);
        EXPECT_EQ(item.Progress.ErrorMessage, c.message);
        EXPECT_EQ(rangesAsked(server), c.ranges);
        const dl::TransferOutcome outcome = song.outcome();
        EXPECT_EQ(outcome.retries, c.retries);
        EXPECT_EQ(outcome.continuations, c.continuations);
        EXPECT_EQ(outcome.refusedRetryAfter, c.retryAfter);
        EXPECT_EQ(outcome.keptBytes > 0, c.kept);
        if (c.code == 0) {
            ASSERT_EQ(item.Progress.State.load(), dl::dsFinished);
            EXPECT_TRUE(item.Progress.Data.View() == *kFile) << "the song arrived spliced";
        } else {
            EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
            EXPECT_EQ(namesIn(song.folder.path()).size(), c.kept ? 2u : 0u);
        }
        // One end report, after the last attempt.
        const auto reports = song.recorder.reportsOf(item);
        ASSERT_FALSE(reports.empty());
        EXPECT_NE(reports.back().state, dl::dsRunning);
        EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                                [](const dltest::Report& r) { return r.state != dl::dsRunning; }),
                  1);
    }
}

// A server that falls silent where the rest cannot be asked for: the song
// starts over once the data time limit has passed.
TEST(ItemAttempts, AStallWhereRangesAreNotTakenStartsTheSongOver) {
    RangeServer::Setup setup;
    setup.file = {kFile, "", ""};
    setup.acceptRanges = "none";
    setup.dropAt = {kHalf};
    setup.drop = RangeServer::Drop::Stall;
    RangeServer server(setup);
    SongRun song(server, 1ms);
    dl::TDlInternetOptions options = song.downloads.Options();
    options.DataTimeout = 1;
    song.downloads.SetOptions(options);
    ASSERT_TRUE(song.recorder.runToEnd(60000));
    ASSERT_EQ(song.item.Progress.State.load(), dl::dsFinished) << song.item.Progress.ErrorMessage;
    EXPECT_EQ(song.outcome().retries, 1);
    EXPECT_EQ(rangesAsked(server), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(song.item.Progress.Data.View() == *kFile);
}

// Stop, of the run or of the item alone, ends a pause far longer than any
// bound here at once; the item ends stopped, without an end report, its
// bytes kept where they can be continued.
TEST(ItemAttempts, AStopEndsAPauseAtOnce) {
    for (const bool wholeRun : {true, false}) {
        SCOPED_TRACE(wholeRun ? "Stop" : "Cancel");
        RangeServer::Setup setup;
        setup.file = {kFile, "\"t\"", ""};
        setup.dropAt = {kHalf};
        setup.statusOf = {{1, 503}};
        RangeServer server(setup);
        SongRun song(server, std::chrono::milliseconds(10min));
        song.downloads.Attempts.pauses[0] = 1ms;  // the request for the rest comes at once; then 503
        std::promise<void> secondPause;
        int pauses = 0;
        song.downloads.RunPointHook = [&](int point) {
            if (point == 2 && ++pauses == 2) secondPause.set_value();
        };
        song.downloads.StartAsync();
        auto paused = secondPause.get_future();
        ASSERT_TRUE(dltest::pumpUntil([&] { return paused.wait_for(0s) == std::future_status::ready; }, 30000));
        if (wholeRun)
            song.downloads.Stop();
        else
            song.item.Cancel();
        ASSERT_TRUE(dltest::pumpUntil([&] { return song.recorder.allDone() > 0; }, 30000)) << "the pause held it";
        song.downloads.WaitForRun();
        EXPECT_EQ(song.item.Progress.State.load(), dl::dsFailed);
        EXPECT_EQ(song.item.Progress.ErrorCode, 6);
        EXPECT_EQ(server.requestCount(), 2u);
        EXPECT_EQ(song.outcome().keptBytes, kHalf);
        EXPECT_EQ(namesIn(song.folder.path()).size(), 2u);
        const auto reports = song.recorder.reportsOf(song.item);
        EXPECT_TRUE(std::all_of(reports.begin(), reports.end(),
                                [](const dltest::Report& r) { return r.state == dl::dsRunning; }));
    }
}

// The schedule: 1, 3 and 9 seconds, then none; no further attempt at all
// when there are none to make.
TEST(ItemAttempts, TheScheduleOfPauses) {
    class Run : public dl::TransferContext {
    public:
        void Report(dl::TDlDownloadItem&, dl::ItemReport) override {}
        bool IsStopping() const override { return false; }
        void CountTraffic(std::uint32_t, std::int64_t) override {}
        void SweepFolderOnce(const std::string&, const dl::AskedDownload*) override {}
        std::optional<std::chrono::milliseconds> FurtherAttempt() override { return std::nullopt; }
        void LeaveQueue(dl::TDlDownloadItem&) override {}
    } run;
    dl::ItemAttempts attempts(run, dl::AttemptRules{});
    EXPECT_EQ(attempts.FurtherAttempt(), std::optional(std::chrono::milliseconds(1s)));
    EXPECT_EQ(attempts.FurtherAttempt(), std::optional(std::chrono::milliseconds(3s)));
    EXPECT_EQ(attempts.FurtherAttempt(), std::optional(std::chrono::milliseconds(9s)));
    EXPECT_EQ(attempts.FurtherAttempt(), std::nullopt);
    EXPECT_EQ(attempts.Spent(), 3);
    dl::AttemptRules none;
    none.maxFurther = 0;
    dl::ItemAttempts noRetry(run, none);
    EXPECT_EQ(noRetry.FurtherAttempt(), std::nullopt);
}

TEST(ItemAttempts, RetryAfterIsReadStrictly) {
    // 1994-11-06 08:49:37 UTC.
    constexpr std::int64_t kThen = 784111777;
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases = {
        {"0", 0},
        {"120", 120},
        {" \t30 ", 30},
        {"99999999999999999999999", dl::kRetryAfterCeiling},
        {"Sun, 06 Nov 1994 08:50:37 GMT", 60},
        {"Sunday, 06-Nov-94 08:51:37 GMT", 120},
        {"Sun Nov  6 08:49:47 1994", 10},
        {"Sun Nov 16 08:49:37 1994", 864000},
        {"Sat, 05 Nov 1994 08:49:37 GMT", 0},  // past
        {"Thu, 29 Feb 1996 00:00:00 GMT", 825552000 - kThen},
        {"", std::nullopt},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"+5", std::nullopt},
        {"5 s", std::nullopt},
        {"sun, 06 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 31 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Fri, 29 Feb 1995 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT x", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) EXPECT_EQ(dl::RetryAfterSeconds(text, kThen), seconds) << text;
}

// The outcome tells each further attempt and why it was made, and the
// bytes the song ended with: a broken line asked for the rest, then two
// answers 503 asked the whole song again, then it came.
TEST(ItemAttempts, TheOutcomeSaysWhyEachAttemptWasMade) {
    RangeServer::Setup setup;
    setup.file = {kFile, "\"t\"", ""};
    setup.dropAt = {kHalf};
    setup.statusOf = {{1, 503}, {2, 500}};
    RangeServer server(setup);
    SongRun song(server, 1ms);
    ASSERT_TRUE(song.run());
    const dl::TransferOutcome outcome = song.outcome();
    ASSERT_EQ(outcome.end(), dl::TransferOutcome::End::Finished) << outcome.message;
    using Kind = dl::TransferOutcome::Retry::Kind;
    ASSERT_EQ(outcome.retryReasons.size(), 3u);
    EXPECT_EQ(outcome.retries, 3);
    EXPECT_EQ(outcome.retryReasons[0].kind, Kind::RestOfBrokenLine);
    EXPECT_EQ(outcome.retryReasons[1].kind, Kind::WholeAgain);
    EXPECT_EQ(outcome.retryReasons[1].errorCode, 2);
    EXPECT_EQ(outcome.retryReasons[1].statusCode, 503);
    EXPECT_EQ(outcome.retryReasons[2].statusCode, 500);
    EXPECT_EQ(outcome.received, kSize);
    EXPECT_EQ(outcome.url, song.item.Request.URL);
    EXPECT_EQ(outcome.failure, dl::FailureClass::None);
}

// A run that hands long pauses back: the item ends at once with the pause
// it is owed and its attempts so far; a pause no longer than the bound is
// spent on the thread as before. The item that takes the song up goes on
// counting from them, within the same budget.
TEST(ItemAttempts, ALongPauseIsHandedBackAndItsCountGoesOn) {
    struct Case {
        const char* name;
        std::string retryAfter;
        std::optional<std::chrono::milliseconds> handedBack;  // none: spent here
        std::int32_t requests;
    };
    const std::vector<Case> cases = {
        {"Retry-After 50 over a bound of 3 s", "50", std::chrono::seconds(50), 1},
        {"Retry-After 4 over a bound of 3 s", "4", std::chrono::seconds(4), 1},
        {"Retry-After 0 within it: spent here, the song follows", "0", std::nullopt, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer::Setup setup;
        setup.file = {kFile, "\"t\"", ""};
        setup.statusOf = {{0, 503}};
        setup.retryAfterOf = {{0, c.retryAfter}};
        RangeServer server(setup);
        SongRun song(server);
        song.downloads.Attempts.handBackAbove = std::chrono::seconds(3);
        ASSERT_TRUE(song.run());
        const dl::TransferOutcome outcome = song.outcome();
        EXPECT_EQ(server.requestCount(), static_cast<std::size_t>(c.requests));
        EXPECT_EQ(outcome.retryIn, c.handedBack);
        if (!c.handedBack) {
            EXPECT_EQ(outcome.state, dl::dsFinished);
            continue;
        }
        EXPECT_EQ(outcome.state, dl::dsFailed);
        EXPECT_EQ(outcome.statusCode, 503);
        EXPECT_EQ(outcome.soFar.spent, 1);
        ASSERT_EQ(outcome.soFar.reasons.size(), 1u);
        EXPECT_EQ(outcome.soFar.reasons[0].statusCode, 503);
    }
}

TEST(ItemAttempts, CarriedAttemptsSpendTheSameBudget) {
    struct Case {
        const char* name;
        std::int32_t spentBefore;
        dl::TDlItemState state;
        std::int32_t retries;
        std::size_t requests;
    };
    // The server refuses the first request with 503; one further attempt
    // follows only while the budget of three has room.
    const std::vector<Case> cases = {
        {"none spent before: the 503 is tried again", 0, dl::dsFinished, 1, 2},
        {"two spent before: the last one goes", 2, dl::dsFinished, 3, 2},
        {"three spent before: the 503 is the end", 3, dl::dsFailed, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer::Setup setup;
        setup.file = {kFile, "\"t\"", ""};
        setup.statusOf = {{0, 503}};
        RangeServer server(setup);
        SongRun song(server);
        dl::AttemptsSoFar before;
        before.spent = c.spentBefore;
        before.reasons.assign(static_cast<std::size_t>(c.spentBefore),
                              dl::RetryReason{dl::RetryReason::Kind::WholeAgain, dl::kErrServerRefused, 503});
        song.item.Request.SetCarriedAttempts(before);
        ASSERT_TRUE(song.run());
        const dl::TransferOutcome outcome = song.outcome();
        EXPECT_EQ(outcome.state, c.state);
        EXPECT_EQ(outcome.retries, c.retries);
        EXPECT_EQ(outcome.retryReasons.size(), static_cast<std::size_t>(c.retries));
        EXPECT_EQ(server.requestCount(), c.requests);
    }
}
