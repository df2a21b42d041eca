// The download component continues a song where it stopped: within a run
// through its window and without it, and from the part file a failed
// download of the same song kept; the limits hold over the whole song, and
// continuing can be turned off.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <QProgressBar>
#include <QTimer>
#include <gtest/gtest.h>

#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using testsupport::RangeServer;
using uitest::filesIn;
using uitest::readFile;
using uitest::runWithoutWindow;
using uitest::ScopedWorkDir;

namespace {

constexpr std::uint64_t kSize = 2 << 20;
constexpr std::uint64_t kHeld = kSize * 3 / 10;
const auto kFile = testsupport::patternBody(kSize, 3);
const std::string kTag = "\"song-1\"";

// The first download is cut off at 30 % and the server cannot serve the
// rest just then; later ones are served.
RangeServer::Setup cutOffOnce() {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    setup.statusOf = {{1, 503}};
    return setup;
}

struct Song {
    RangeServer server;
    ScopedWorkDir work;
    dl::TDlWebHTTPGet get;
    // What OnProgress saw of the song: the whole length after the headers,
    // then the bytes held (the start report, before anything is known, aside).
    std::vector<std::uint32_t> sizes;
    std::uint32_t headerSize = 0;

    explicit Song(RangeServer::Setup setup) : server(std::move(setup)) {
        get.DownloadDir = "downmp3/";
        get.DestinationName = "song.mp3";
        get.URL = server.url("/song.mp3");
        get.Downloads().Attempts.pauses.fill(std::chrono::milliseconds(1));
        get.OnProgress = [this](dl::DownloadComponent&, dl::TDlDownloadItem& item) {
            if (item.Progress.HeaderPhase)
                headerSize = item.Progress.Size;
            else if (item.Progress.State == dl::dsRunning && headerSize != 0)
                sizes.push_back(item.Progress.Size);
        };
    }
    dl::TDlDownloadItem& item() { return *get.CurrentItem(); }
    // What the component says became of it.
    dl::TransferOutcome outcome() const { return get.CurrentOutcome(false).value_or(dl::TransferOutcome{}); }
    fs::path folder() const { return work.path() / "downmp3"; }
    fs::path file() const { return folder() / "song.mp3"; }
    bool run() {
        sizes.clear();
        headerSize = 0;
        return runWithoutWindow(get, 60000);
    }
    // Names in the folder: the song's file, and the kept part file with its identity.
    std::size_t kept() const {
        const auto names = filesIn(folder());
        return static_cast<std::size_t>(std::count_if(names.begin(), names.end(), [](const std::string& n) {
            return dl::IsPartFileName(n) || dl::IsIdentityFileName(n);
        }));
    }
};

}  // namespace

// One further attempt: the drop's request for the rest, which the server
// refuses for now; so the song fails, and the next download continues it.
void giveUpAfterTheFirstContinuation(Song& song) { song.get.Downloads().Attempts.maxFurther = 1; }

TEST(ComponentContinue, ASongThatFailedIsContinuedByTheNextDownloadOfIt) {
    Song song(cutOffOnce());
    EXPECT_TRUE(song.get.ContinueDownloads);  // on unless turned off
    giveUpAfterTheFirstContinuation(song);
    ASSERT_TRUE(song.run());
    EXPECT_EQ(song.item().Progress.ErrorMessage, "Service unavailable");
    EXPECT_TRUE(song.item().Request.LocalFileName.empty());
    // Kept hidden, never under the song's name.
    EXPECT_FALSE(fs::exists(song.file()));
    EXPECT_EQ(song.kept(), 2u);

    ASSERT_TRUE(song.run());
    ASSERT_EQ(song.item().Progress.State.load(), dl::dsFinished) << song.item().Progress.ErrorMessage;
    EXPECT_EQ(song.outcome().continuations, 1);
    EXPECT_EQ(song.item().Request.LocalFileName, song.file().string());
    EXPECT_TRUE(readFile(song.file()) == *kFile) << "the song arrived spliced";
    EXPECT_EQ(song.get.Document().Size(), kSize);
    EXPECT_EQ(filesIn(song.folder()), std::vector<std::string>{"song.mp3"});
    // The third request asked for the rest; and the song's figures are the
    // whole song's, never the bytes of this request alone.
    const auto requests = song.server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].range.value_or(""), "bytes=" + std::to_string(kHeld) + "-");
    EXPECT_EQ(requests[2].ifRange.value_or(""), kTag);
    EXPECT_EQ(song.headerSize, kSize);
    for (const std::uint32_t size : song.sizes) EXPECT_GE(size, kHeld);
    EXPECT_TRUE(std::is_sorted(song.sizes.begin(), song.sizes.end()));
    EXPECT_EQ(song.get.Downloads().BytesReceived.load(), static_cast<std::int64_t>(kSize - kHeld));
}

TEST(ComponentContinue, TurnedOffNothingIsContinuedNorKept) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    Song song(setup);
    song.get.ContinueDownloads = false;
    ASSERT_TRUE(song.run());
    // Not continued, the song is asked for whole again, and nothing is kept.
    ASSERT_EQ(song.item().Progress.State.load(), dl::dsFinished) << song.item().Progress.ErrorMessage;
    EXPECT_EQ(song.outcome().continuations, 0);
    EXPECT_EQ(song.outcome().retries, 1);
    const auto requests = song.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].range.has_value());
    EXPECT_TRUE(readFile(song.file()) == *kFile);
    EXPECT_EQ(filesIn(song.folder()), std::vector<std::string>{"song.mp3"});

}

TEST(ComponentContinue, WithoutFurtherAttemptsADropFailsItAndNothingStays) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    Song song(setup);
    song.get.ContinueDownloads = false;
    song.get.Downloads().Attempts.maxFurther = 0;
    ASSERT_TRUE(song.run());
    EXPECT_EQ(song.item().Progress.ErrorCode, 12030);
    EXPECT_EQ(song.server.requestCount(), 1u);
    EXPECT_FALSE(fs::exists(song.folder()) && !filesIn(song.folder()).empty());
}

// The size limit and check-only mean what they mean for the whole song, also
// when part of it is held already.
TEST(ComponentContinue, TheLimitsHoldOverTheWholeSong) {
    struct Case {
        const char* name;
        std::uint32_t sizeLimit;
        bool checkOnly;
        dl::TDlItemState state;
        std::int32_t code;
        bool asksForTheRest;
        bool keptStays;
    };
    const std::vector<Case> cases = {
        {"a limit above what is held, below the song", static_cast<std::uint32_t>(kHeld + 1000), false, dl::dsFailed,
         8, true, false},
        {"a limit of the whole song", static_cast<std::uint32_t>(kSize), false, dl::dsFinished, 0, true, false},
        {"headers only", 0, true, dl::dsFinished, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Song song(cutOffOnce());
        giveUpAfterTheFirstContinuation(song);
        ASSERT_TRUE(song.run());
        ASSERT_EQ(song.kept(), 2u);
        song.get.DownloadParams.SizeLimit = c.sizeLimit;
        song.get.DownloadParams.CheckOnly = c.checkOnly;
        ASSERT_TRUE(song.run());
        EXPECT_EQ(song.item().Progress.State.load(), c.state);
        EXPECT_EQ(song.item().Progress.ErrorCode, c.code);
        EXPECT_EQ(song.headerSize, kSize);
        const auto requests = song.server.requests();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_EQ(requests[2].range.has_value(), c.asksForTheRest);
        EXPECT_EQ(song.kept(), c.keptStays ? 2u : 0u);
        EXPECT_EQ(fs::exists(song.file()), c.state == dl::dsFinished && !c.checkOnly);
    }
}

// Through the progress window: the line drops three times, the song arrives
// whole, and the bar never goes back.
TEST(ComponentContinue, TheWindowShowsTheWholeSongThroughItsDrops) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kSize * 3 / 10, kSize * 6 / 10, kSize * 9 / 10};
    Song song(setup);
    std::vector<int> bar;
    dl::TDlWebDownload* window = nullptr;
    song.get.OnCustomizeForm = [&window](dl::TDlWebHTTPGet&, dl::TDlWebDownload& form) { window = &form; };
    QTimer ticker;
    ticker.setInterval(2);
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!window || !window->isVisible()) return;
        bar.push_back(window->ProgressBar->value());
        // Bounded: a window that never ends is a failure, not a hang.
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(60)) {
            ADD_FAILURE() << "the progress window did not end";
            song.get.Abort();
        }
    });
    ticker.start();
    EXPECT_TRUE(song.get.Execute());
    ticker.stop();
    ASSERT_EQ(song.item().Progress.State.load(), dl::dsFinished) << song.item().Progress.ErrorMessage;
    EXPECT_EQ(song.outcome().continuations, 3);
    EXPECT_TRUE(readFile(song.file()) == *kFile) << "the song arrived spliced";
    EXPECT_EQ(filesIn(song.folder()), std::vector<std::string>{"song.mp3"});
    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end()));
    EXPECT_TRUE(std::is_sorted(song.sizes.begin(), song.sizes.end()));
    EXPECT_EQ(song.get.Downloads().BytesReceived.load(), static_cast<std::int64_t>(kSize));
}
