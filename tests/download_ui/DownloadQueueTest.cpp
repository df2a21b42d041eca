// The download queue: songs downloaded in the background a few at a time,
// one stopped (waiting or running), one added while others run, and all of
// them stopped at once; each song written as the component writes one.
// The server holds each song after its first bytes until the test lets it
// go, so every step waits on what the server or the queue has seen.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/component/DownloadQueue.h"
#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using dl::DownloadQueue;
using dl::TransferOutcome;
using uitest::filesIn;
using uitest::pumpUntil;
using uitest::readFile;
using testsupport::RangeServer;
using uitest::ScopedWorkDir;

namespace {

constexpr std::size_t kSongSize = 48 * 1024;
const auto kSong = testsupport::patternBody(kSongSize, 3);

// Every answer stops after its first bytes until the test lets it go on.
RangeServer::Setup heldSongs() {
    RangeServer::Setup setup;
    setup.file = {kSong, "\"song\"", ""};
    setup.holdAt = 4096;
    return setup;
}

class Queue : public ::testing::Test {
protected:
    Queue() {
        queue.Parallel = 2;
        queue.OnStarted = [this](DownloadQueue::Id id) { started.push_back(numberOf(id)); };
        queue.OnEnded = [this](DownloadQueue::Id id, const TransferOutcome& result) {
            ended.push_back(numberOf(id));
            results[numberOf(id)] = result;
        };
    }

    DownloadQueue::Id add(int n) {
        const DownloadQueue::Id id = queue.Add(
            {server.url("/song/" + std::to_string(n) + ".mp3"), "downmp3", "s" + std::to_string(n) + ".mp3", "s"});
        numbers[id] = n;
        return id;
    }
    int numberOf(DownloadQueue::Id id) const { return numbers.at(id); }
    bool hasEnded(int n) const { return results.count(n) > 0; }
    // The songs asked for so far, by number.
    std::vector<int> requested() const {
        std::vector<int> r;
        for (const auto& request : server.requests()) r.push_back(request.target[6] - '0');
        std::sort(r.begin(), r.end());
        return r;
    }
    void release(int n) { server.release("/song/" + std::to_string(n) + ".mp3"); }
    static std::vector<int> sorted(std::vector<int> numbers) {
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }
    fs::path file(int n) const { return work.path() / "downmp3" / ("s" + std::to_string(n) + ".mp3"); }
    std::size_t hiddenFiles() const {
        const auto names = filesIn(work.path() / "downmp3");
        return static_cast<std::size_t>(std::count_if(
            names.begin(), names.end(), [](const std::string& name) { return name.rfind(".brelvo-", 0) == 0; }));
    }

    RangeServer server{heldSongs()};
    ScopedWorkDir work;
    std::map<DownloadQueue::Id, int> numbers;
    std::vector<int> started;
    std::vector<int> ended;
    std::map<int, TransferOutcome> results;
    DownloadQueue queue;  // last: it goes first
};

}  // namespace

TEST_F(Queue, SongsTwoAtATimeOneStoppedOneAddedWhileRunning) {
    add(1);
    const DownloadQueue::Id second = add(2);
    add(3);
    add(4);
    EXPECT_EQ(queue.Count(), 4);
    // Two start (each with its part file and what identifies it); the other
    // two wait for a slot.
    ASSERT_TRUE(pumpUntil([&] { return requested().size() == 2u && hiddenFiles() == 4u; }));
    EXPECT_EQ(requested(), (std::vector<int>{1, 2}));
    // The two begin at once, in either order.
    EXPECT_EQ(sorted(started), (std::vector<int>{1, 2}));
    EXPECT_EQ(queue.Running(), 2);

    // One stopped while it runs: it ends as stopped, its bytes kept for the
    // next download of it, and the next song takes its slot.
    queue.Stop(second);
    ASSERT_TRUE(pumpUntil([&] { return hasEnded(2) && requested().size() == 3u; }));
    const TransferOutcome& stopped = results.at(2);
    EXPECT_EQ(stopped.end(), TransferOutcome::End::Stopped);
    EXPECT_EQ(stopped.errorCode, dl::kErrStopped);
    EXPECT_TRUE(stopped.kept);
    EXPECT_TRUE(stopped.filePath.empty());
    EXPECT_FALSE(fs::exists(file(2)));
    EXPECT_FALSE(queue.Contains(second));
    EXPECT_EQ(requested(), (std::vector<int>{1, 2, 3}));

    // One added while two run waits for a slot too; one stopped while it
    // waits never reaches the server.
    add(5);
    const DownloadQueue::Id sixth = add(6);
    queue.Stop(sixth);
    ASSERT_TRUE(pumpUntil([&] { return hasEnded(6); }));
    EXPECT_EQ(results.at(6).end(), TransferOutcome::End::Stopped);
    EXPECT_FALSE(results.at(6).kept);

    // The first song finishes whole; the next waiting one starts.
    release(1);
    ASSERT_TRUE(pumpUntil([&] { return hasEnded(1) && requested().size() == 4u; }));
    const TransferOutcome& done = results.at(1);
    EXPECT_EQ(done.end(), TransferOutcome::End::Finished) << done.message;
    EXPECT_EQ(done.errorCode, 0);
    EXPECT_EQ(done.filePath, fs::absolute(file(1)).lexically_normal().string());
    EXPECT_EQ(done.fileSize, kSongSize);
    EXPECT_FALSE(done.savedAsPage);
    EXPECT_EQ(readFile(file(1)), *kSong);

    server.release();
    ASSERT_TRUE(pumpUntil([&] { return queue.Count() == 0; }));
    for (int n : {3, 4, 5}) {
        EXPECT_EQ(results.at(n).end(), TransferOutcome::End::Finished) << n;
        EXPECT_EQ(readFile(file(n)), *kSong) << n;
    }
    EXPECT_EQ(requested(), (std::vector<int>{1, 2, 3, 4, 5}));
    // Then one at a time, as slots came free.
    ASSERT_EQ(started.size(), 5u);
    EXPECT_EQ(sorted({started[0], started[1]}), (std::vector<int>{1, 2}));
    EXPECT_EQ(std::vector<int>(started.begin() + 2, started.end()), (std::vector<int>{3, 4, 5}));
    ASSERT_EQ(ended.size(), 6u);
    EXPECT_EQ(std::vector<int>(ended.begin(), ended.begin() + 3), (std::vector<int>{2, 6, 1}));
    EXPECT_EQ(server.maxOpenConnections(), 2u);
    // The stopped song's part file and what identifies it stay; nothing else hidden.
    EXPECT_EQ(hiddenFiles(), 2u);

    // Added again, it continues from what was kept.
    add(2);
    ASSERT_TRUE(pumpUntil([&] { return queue.Count() == 0; }));
    EXPECT_EQ(results.at(2).end(), TransferOutcome::End::Finished);
    EXPECT_EQ(results.at(2).continuations, 1);
    EXPECT_EQ(readFile(file(2)), *kSong);
    EXPECT_EQ(hiddenFiles(), 0u);
}

TEST_F(Queue, StopAllEndsEverySongBeforeItReturns) {
    for (int n = 1; n <= 3; ++n) add(n);
    ASSERT_TRUE(pumpUntil([&] { return hiddenFiles() == 4u; }));
    queue.StopAll();
    EXPECT_EQ(queue.Count(), 0);
    ASSERT_EQ(results.size(), 3u);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(results.at(n).end(), TransferOutcome::End::Stopped) << n;
    EXPECT_TRUE(results.at(1).kept);
    EXPECT_TRUE(results.at(2).kept);
    EXPECT_FALSE(results.at(3).kept);
    EXPECT_EQ(requested(), (std::vector<int>{1, 2}));

    // The queue takes songs again after it.
    server.release();
    add(3);
    ASSERT_TRUE(pumpUntil([&] { return queue.Count() == 0; }));
    EXPECT_EQ(results.at(3).end(), TransferOutcome::End::Finished);
    EXPECT_EQ(readFile(file(3)), *kSong);
}

// Callbacks may add and stop songs: nothing inside them waits for the engine
// thread that delivered them.
TEST_F(Queue, CallbacksMayAddAndStopSongs) {
    server.release();
    queue.OnEnded = [this](DownloadQueue::Id id, const TransferOutcome& result) {
        const int n = numberOf(id);
        results[n] = result;
        if (n < 4) add(n + 1);
        if (n == 4) queue.StopAll();
    };
    add(1);
    ASSERT_TRUE(pumpUntil([&] { return results.size() == 4u && queue.Count() == 0; }));
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(results.at(n).end(), TransferOutcome::End::Finished) << n;
    add(5);
    ASSERT_TRUE(pumpUntil([&] { return hasEnded(5); }));
    EXPECT_EQ(results.at(5).end(), TransferOutcome::End::Finished);
}

// The caller names its songs: every report carries the caller's id, one id
// is taken once at a time, and the end gives the bytes the last progress
// report told, with the file written.
TEST_F(Queue, TheCallersIdComesBackInEveryReportWithTheBytes) {
    std::vector<DownloadQueue::Id> startedIds, progressIds;
    std::map<DownloadQueue::Id, TransferOutcome> byId;
    std::map<DownloadQueue::Id, std::pair<std::uint64_t, std::uint64_t>> lastBytes;
    queue.OnStarted = [&](DownloadQueue::Id id) { startedIds.push_back(id); };
    queue.OnProgress = [&](DownloadQueue::Id id, std::uint64_t received, std::uint64_t total) {
        progressIds.push_back(id);
        lastBytes[id] = {received, total};
    };
    queue.OnEnded = [&](DownloadQueue::Id id, const TransferOutcome& result) { byId[id] = result; };
    constexpr DownloadQueue::Id kRow = 7340032;  // a row id far from the queue's own
    const dl::QueuedSong song{server.url("/song/1.mp3"), "downmp3", "s1.mp3", "s"};
    ASSERT_TRUE(queue.Add(kRow, song));
    EXPECT_FALSE(queue.Add(kRow, song)) << "one id, one song";
    EXPECT_TRUE(queue.Contains(kRow));
    // The next free id is not one the caller took.
    const DownloadQueue::Id other = queue.Add({server.url("/song/2.mp3"), "downmp3", "s2.mp3", "s"});
    EXPECT_NE(other, kRow);
    server.release();
    ASSERT_TRUE(pumpUntil([&] { return byId.size() == 2u; }));
    ASSERT_EQ(startedIds.size(), 2u);
    EXPECT_TRUE(std::count(startedIds.begin(), startedIds.end(), kRow) == 1) << "each started once, under its id";
    for (const DownloadQueue::Id id : progressIds) EXPECT_TRUE(id == kRow || id == other) << id;
    const TransferOutcome& result = byId.at(kRow);
    EXPECT_EQ(result.end(), TransferOutcome::End::Finished) << result.message;
    EXPECT_EQ(result.failure, dl::FailureClass::None);
    EXPECT_EQ(result.fileSize, kSongSize);
    EXPECT_FALSE(result.savedAsPage);
    EXPECT_EQ(readFile(result.filePath), *kSong);
    // What the end says of the bytes is what the last progress report said
    // (none: nothing).
    for (const DownloadQueue::Id id : {kRow, other}) {
        const auto bytes = lastBytes.count(id) ? lastBytes.at(id) : std::pair<std::uint64_t, std::uint64_t>{};
        EXPECT_EQ(byId.at(id).received, bytes.first) << id;
        EXPECT_EQ(byId.at(id).total, bytes.second) << id;
        if (bytes.second != 0) {
            EXPECT_EQ(bytes.second, kSongSize) << id;
        }
    }
}

namespace {

// One place, the first request refused with 503 and a Retry-After, every
// answer held after its first bytes until the test lets it go.
struct PausedQueue {
    explicit PausedQueue(const std::string& retryAfter) : server(setup(retryAfter)) {
        queue.Parallel = 1;
        queue.OnStarted = [this](DownloadQueue::Id id) { started.push_back(id); };
        queue.OnRetryWait = [this](DownloadQueue::Id id, std::chrono::milliseconds pause) {
            waits[id].push_back(pause);
        };
        queue.OnEnded = [this](DownloadQueue::Id id, const TransferOutcome& result) { results[id] = result; };
    }
    static RangeServer::Setup setup(const std::string& retryAfter) {
        RangeServer::Setup s = heldSongs();
        s.statusOf = {{0, 503}};
        s.retryAfterOf = {{0, retryAfter}};
        return s;
    }
    DownloadQueue::Id add(int n) {
        return queue.Add({server.url("/song/" + std::to_string(n) + ".mp3"), "downmp3", "s" + std::to_string(n) + ".mp3",
                          "s"});
    }

    RangeServer server;
    ScopedWorkDir work;
    std::vector<DownloadQueue::Id> started;
    std::map<DownloadQueue::Id, std::vector<std::chrono::milliseconds>> waits;
    std::map<DownloadQueue::Id, TransferOutcome> results;
    DownloadQueue queue;  // last: it goes first
};

}  // namespace

// A server asks the first song to come back in 50 s: the song tells its
// pause and gives its one place to the next song, which starts long before
// the 50 s are over (the bound is well under them).
TEST(QueuePauses, ALongPauseGivesThePlaceToTheNextSong) {
    PausedQueue q("50");
    const DownloadQueue::Id first = q.add(1);
    const DownloadQueue::Id second = q.add(2);
    ASSERT_TRUE(pumpUntil([&] { return q.server.requestCount() == 2u; }, 30000));
    EXPECT_EQ(q.server.requests()[1].target, "/song/2.mp3");
    ASSERT_TRUE(pumpUntil([&] { return q.started.size() == 2u; }, 30000));
    EXPECT_EQ(q.waits[first], (std::vector<std::chrono::milliseconds>{std::chrono::seconds(50)}));
    EXPECT_EQ(q.queue.Running(), 1);
    EXPECT_EQ(q.queue.Count(), 2);
    EXPECT_TRUE(q.queue.Contains(first));

    // Stopped in its pause, it ends at once, as a waiting song does.
    q.queue.Stop(first);
    ASSERT_TRUE(pumpUntil([&] { return q.results.count(first) > 0; }, 30000));
    EXPECT_EQ(q.results.at(first).end(), TransferOutcome::End::Stopped);
    q.server.release();
    ASSERT_TRUE(pumpUntil([&] { return q.results.count(second) > 0; }, 30000));
    EXPECT_EQ(q.results.at(second).end(), TransferOutcome::End::Finished) << q.results.at(second).message;
    EXPECT_EQ(q.server.requestCount(), 2u);
}

// A pause of 4 s gives the place away too; when it is over the song waits
// for the running one (it pushes no one out), then takes the place, and its
// attempts are counted on.
TEST(QueuePauses, APausedSongTakesTheNextFreePlace) {
    PausedQueue q("4");
    const DownloadQueue::Id first = q.add(1);
    const DownloadQueue::Id second = q.add(2);
    ASSERT_TRUE(pumpUntil([&] { return q.server.requestCount() == 2u; }, 30000));
    // Past its pause, the second song still holds the one place.
    pumpUntil([] { return false; }, 5500);
    EXPECT_EQ(q.server.requestCount(), 2u);
    EXPECT_EQ(q.queue.Running(), 1);
    EXPECT_EQ(q.results.count(second), 0u);

    q.server.release();
    ASSERT_TRUE(pumpUntil([&] { return q.queue.Count() == 0; }));
    EXPECT_EQ(q.server.requestCount(), 3u);
    EXPECT_EQ(q.server.requests()[2].target, "/song/1.mp3");
    const TransferOutcome& done = q.results.at(first);
    EXPECT_EQ(done.end(), TransferOutcome::End::Finished) << done.message;
    EXPECT_EQ(done.retries, 1);
    EXPECT_EQ(readFile(q.work.path() / "downmp3" / "s1.mp3"), *kSong);
    // Its pause told as it began and as the next attempt began; started once.
    EXPECT_EQ(q.waits[first], (std::vector<std::chrono::milliseconds>{std::chrono::seconds(4), std::chrono::milliseconds(0)}));
    EXPECT_EQ(std::count(q.started.begin(), q.started.end(), first), 1);
}

// Places changed while songs run: one more starts a waiting song at once;
// one fewer lets both running songs end before the next one starts.
TEST_F(Queue, PlacesChangeWhileSongsRun) {
    queue.Parallel = 1;
    add(1);
    add(2);
    add(3);
    ASSERT_TRUE(pumpUntil([&] { return requested() == std::vector<int>{1}; }));
    queue.SetParallel(2);
    ASSERT_TRUE(pumpUntil([&] { return requested() == (std::vector<int>{1, 2}); }, 30000));
    EXPECT_EQ(queue.Running(), 2);

    queue.SetParallel(1);
    release(1);
    ASSERT_TRUE(pumpUntil([&] { return hasEnded(1); }));
    // Song 2 still runs and fills the one place: song 3 waits.
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(requested(), (std::vector<int>{1, 2}));
    EXPECT_EQ(queue.Running(), 1);
    release(2);
    ASSERT_TRUE(pumpUntil([&] { return requested() == (std::vector<int>{1, 2, 3}); }));
    server.release();
    ASSERT_TRUE(pumpUntil([&] { return queue.Count() == 0; }));
    EXPECT_EQ(server.maxOpenConnections(), 2u);
}

// 优先下载's road: the waiting songs named start first, in that order.
TEST_F(Queue, MoveToFrontChangesWhichWaitingSongStartsNext) {
    queue.Parallel = 1;
    add(1);
    add(2);
    const DownloadQueue::Id third = add(3);
    const DownloadQueue::Id fourth = add(4);
    ASSERT_TRUE(pumpUntil([&] { return requested() == std::vector<int>{1}; }));
    queue.MoveToFront({fourth, third, 99});
    server.release();
    ASSERT_TRUE(pumpUntil([&] { return queue.Count() == 0; }));
    EXPECT_EQ(started, (std::vector<int>{1, 4, 3, 2}));
}

// The speed limit reaches a song that runs: set while it is held, the bytes
// it gets stay under a bound far above the limit's (a slow machine only
// brings fewer); lifted, the rest comes at once.
TEST(QueueSpeed, TheLimitReachesARunningSong) {
    constexpr std::size_t kBig = 4 * 1024 * 1024;
    RangeServer::Setup setup;
    setup.file = {testsupport::patternBody(kBig, 5), "\"big\"", ""};
    setup.holdAt = 4096;
    RangeServer server(setup);
    ScopedWorkDir work;
    DownloadQueue queue;
    std::uint64_t received = 0;
    std::optional<TransferOutcome> result;
    queue.OnProgress = [&](DownloadQueue::Id, std::uint64_t bytes, std::uint64_t) { received = bytes; };
    queue.OnEnded = [&](DownloadQueue::Id, const TransferOutcome& r) { result = r; };
    queue.Add({server.url("/big.mp3"), "downmp3", "big.mp3", "big"});
    ASSERT_TRUE(pumpUntil([&] { return server.requestCount() == 1u; }, 30000));

    constexpr std::int64_t kLimit = 32 * 1024;
    queue.SetSpeedLimit(kLimit);
    EXPECT_EQ(queue.SpeedLimit(), kLimit);
    // The limit object the transfers read is the queue's: the same one.
    EXPECT_EQ(queue.Downloads().Options().RateLimit->bytesPerSecond(), kLimit);
    const auto began = std::chrono::steady_clock::now();
    server.release();
    pumpUntil([&] { return received >= 256 * 1024; }, 3000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // At most a second saved up, one read and what a report lags behind on
    // top of the limit, doubled.
    const double bound = 2.0 * (kLimit * (seconds + 1.0) + 4096 + 256 * 1024);
    EXPECT_LT(static_cast<double>(received), bound) << seconds << " s";
    EXPECT_LT(received, kBig / 2);

    queue.SetSpeedLimit(0);
    ASSERT_TRUE(pumpUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->end(), TransferOutcome::End::Finished) << result->message;
    EXPECT_EQ(result->fileSize, kBig);
}
