// A song that must be MPEG audio: what is not (a page, an empty body, other
// bytes) is never saved under the song's name, and audio is saved as audio
// whatever its type says. And a song moving to another of its links goes on
// from the bytes it kept only when the new link serves the same file.
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/component/DownloadQueue.h"
#include "download/component/KeptPartHandover.h"
#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using dl::DownloadQueue;
using dl::TransferOutcome;
using testsupport::RangeServer;
using uitest::filesIn;
using uitest::pumpUntil;
using uitest::readFile;
using uitest::ScopedWorkDir;

namespace {

constexpr std::size_t kSize = 200000;
const auto kSong = testsupport::songBody(kSize, 5);

// One song of the queue from `url` as "s.mp3", the song's own result.
class OneSong {
public:
    explicit OneSong(bool retries = true) {
        if (!retries) queue_.Downloads().Attempts.maxFurther = 0;
        queue_.OnEnded = [this](DownloadQueue::Id, const TransferOutcome& result) { result_ = result; };
    }
    std::optional<TransferOutcome> run(const std::string& url) {
        result_.reset();
        queue_.Add({url, "downmp3", "s.mp3", "s", true});
        if (!pumpUntil([&] { return result_.has_value(); })) return std::nullopt;
        return result_;
    }

private:
    std::optional<TransferOutcome> result_;
    DownloadQueue queue_;
};

std::size_t hiddenFiles(const fs::path& folder) {
    const auto names = filesIn(folder);
    return static_cast<std::size_t>(
        std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind(".brelvo-", 0) == 0; }));
}

}  // namespace

TEST(AudioOnlySong, WhatIsNotMpegAudioIsNeverSavedAsTheSong) {
    struct Case {
        const char* name;
        std::shared_ptr<const std::string> body;
        std::string type;
        bool saved;
    };
    const std::vector<Case> cases = {
        {"a song", kSong, "audio/mpeg", true},
        {"a song the server calls a page", kSong, "text/html", true},
        {"a file-not-found page with status 200",
         std::make_shared<const std::string>("<html><body>File not found</body></html>"), "text/html", false},
        {"the page under an audio type", std::make_shared<const std::string>("<html>gone</html>"), "audio/mpeg",
         false},
        {"bytes that are not MPEG audio", testsupport::patternBody(kSize, 5), "audio/mpeg", false},
        {"an empty body", std::make_shared<const std::string>(), "audio/mpeg", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedWorkDir work;
        RangeServer::Setup setup;
        setup.file = {c.body, "\"v\"", ""};
        setup.contentType = c.type;
        RangeServer server(setup);
        OneSong song;
        const auto result = song.run(server.url("/s.mp3"));
        ASSERT_TRUE(result);
        const fs::path folder = work.path() / "downmp3";
        if (c.saved) {
            EXPECT_EQ(result->end(), TransferOutcome::End::Finished);
            EXPECT_FALSE(result->savedAsPage);
            EXPECT_EQ(readFile(folder / "s.mp3"), *c.body);
        } else {
            EXPECT_EQ(result->end(), TransferOutcome::End::Failed);
            EXPECT_EQ(result->errorCode, dl::kErrNotAudio);
            EXPECT_EQ(result->failure, dl::FailureClass::NotAudio);
            EXPECT_TRUE(result->filePath.empty());
            EXPECT_TRUE(result->pageItems.empty());
            // Nothing of it stays, under any name.
            EXPECT_TRUE(!fs::exists(folder) || filesIn(folder).empty());
        }
    }
}

TEST(SongLinkHandover, KeptBytesGoOnFromAnotherLinkOnlyWhenItIsTheSameFile) {
    struct Case {
        const char* name;
        RangeServer::Version other;
        bool carried;
    };
    const std::vector<Case> cases = {
        {"the same file under its own validator", {kSong, "\"b\"", ""}, true},
        {"the same file dated only", {kSong, "", "Sun, 06 Nov 1994 08:49:37 GMT"}, true},
        {"another file of the same length", {testsupport::songBody(kSize, 6), "\"b\"", ""}, false},
        {"the same start, another length",
         {std::make_shared<const std::string>(*kSong + std::string(417, '\0')), "\"b\"", ""},
         false},
        {"the same file without a validator to ask for the rest", {kSong, "", ""}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedWorkDir work;
        RangeServer::Setup dying;
        dying.file = {kSong, "\"a\"", ""};
        dying.dropAt = {60000};
        RangeServer first(dying);
        RangeServer::Setup live;
        live.file = c.other;
        RangeServer second(live);
        OneSong song(false);
        const auto broke = song.run(first.url("/a.mp3"));
        ASSERT_TRUE(broke);
        ASSERT_EQ(broke->end(), TransferOutcome::End::Failed);
        ASSERT_TRUE(broke->kept);

        inet::LinkProber prober(dl::HandoverProbeSettings());
        const dl::Handover handover =
            dl::HandKeptPartTo("downmp3/", first.url("/a.mp3"), "s.mp3", second.url("/b.mp3"), prober);
        EXPECT_EQ(handover.carried, c.carried);
        EXPECT_EQ(handover.verdict.state, probe::LinkState::Audio);

        const auto done = song.run(second.url("/b.mp3"));
        ASSERT_TRUE(done);
        EXPECT_EQ(done->end(), TransferOutcome::End::Finished);
        EXPECT_EQ(done->fromKept, c.carried);
        EXPECT_EQ(readFile(work.path() / "downmp3" / "s.mp3"), *c.other.body);
        EXPECT_EQ(hiddenFiles(work.path() / "downmp3"), 0u);
        // The probe's request, then the download's: the rest, or the whole file.
        const auto asked = second.requests();
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0].range.value_or(""), "bytes=0-16383");
        if (c.carried) {
            EXPECT_EQ(asked[1].range.value_or(""), "bytes=60000-");
        } else {
            EXPECT_FALSE(asked[1].range.has_value());
        }
    }
}
