// A finished song is on the disk under its name before anyone hears of its
// end: its bytes synced, renamed, its folder synced, its side files gone, in
// that order, through the component (下载歌曲) and through the download
// queue (the downloads list's road, and dlget's), whose end is a mark in the
// same sequence. A call that fails on the way fails the song and leaves the
// older file as it was. The calls are watched and failed through a
// recording disk layer.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/component/DownloadComponent.h"
#include "download/component/DownloadQueue.h"
#include "download/files/DlFileErrors.h"
#include "download/files/PartFile.h"
#include "tests/download/DiskCallRecorder.h"
#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using dltest::DiskCallRecorder;
using dltest::indexOf;
using Call = DiskCallRecorder::Call;
using testsupport::RangeServer;
using testsupport::namesIn;
using uitest::readFile;
using uitest::writeFile;

namespace {

const auto kFile = testsupport::patternBody(200000, 0);

bool isPart(const std::string& path) { return dl::IsPartFileName(fs::path(path).filename().string()); }

RangeServer::Setup song() {
    RangeServer::Setup setup;
    setup.file = {kFile, "\"v1\"", ""};
    return setup;
}

// The song through the component, as 下载歌曲 downloads it, on this thread.
struct ComponentRun {
    explicit ComponentRun(const RangeServer& server) {
        get.URL = server.url("/song.mp3");
        get.DownloadDir = folder.path().string() + "/";
        get.DestinationName = "song.mp3";
        get.Downloads().ThreadCount = 1;
        get.Downloads().Attempts.pauses.fill(std::chrono::milliseconds(1));
    }
    fs::path file() const { return folder.path() / "song.mp3"; }
    dl::TDlDownloadItem& item() { return *get.CurrentItem(); }

    testsupport::TempDir folder;
    dl::DownloadComponent get;
};

}  // namespace

TEST(DurableEnd, ASongIsSyncedThenNamedThenItsFolderSyncedThenItsSideFilesGo) {
    RangeServer server(song());
    DiskCallRecorder disk;
    ComponentRun run(server);
    ASSERT_TRUE(run.get.Download(false, false));
    ASSERT_EQ(run.item().Progress.State.load(), dl::dsFinished) << run.item().Progress.ErrorMessage;
    EXPECT_TRUE(readFile(run.file()) == *kFile);

    const std::vector<Call> calls = disk.calls();
    const std::string file = run.file().string();
    const int named = indexOf(calls, [&](const Call& c) { return c.op == "rename" && c.to == file; });
    ASSERT_GE(named, 1);
    const std::string part = calls[static_cast<std::size_t>(named)].path;
    EXPECT_TRUE(isPart(part)) << part;
    // Nothing between the bytes' sync and the rename, nor between the rename
    // and the folder's sync.
    EXPECT_EQ(calls[static_cast<std::size_t>(named) - 1].op, "dataSync");
    EXPECT_EQ(calls[static_cast<std::size_t>(named) - 1].path, part);
    ASSERT_LT(static_cast<std::size_t>(named) + 1, calls.size());
    EXPECT_EQ(calls[static_cast<std::size_t>(named) + 1].op, "folderSync");
    EXPECT_EQ(fs::path(calls[static_cast<std::size_t>(named) + 1].path), run.folder.path());
    // The identity that vouched for the bytes goes after that, never before.
    const std::string identity = dl::IdentityPathOf(part);
    const int removed = indexOf(calls, [&](const Call& c) { return c.op == "unlink" && c.path == identity; });
    EXPECT_GT(removed, named + 1);
    EXPECT_EQ(indexOf(calls, [&](const Call& c) { return c.op == "unlink" && c.path == identity; }, 0),
              removed);
    EXPECT_TRUE(namesIn(run.folder.path()) == std::vector<std::string>{"song.mp3"});
}

TEST(DurableEnd, ACallThatFailsOnTheWayFailsTheSongAndKeepsTheOlderFile) {
    struct Case {
        const char* name;
        const char* op;
        bool named;  // the song has its name all the same
        int error = EIO;
    };
    const std::vector<Case> cases = {
        {"the sync of its bytes", "dataSync", false},
        {"the sync of its bytes, the disk full", "dataSync", false, ENOSPC},
        {"its rename", "rename", false},
        {"the sync of its folder", "folderSync", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(song());
        DiskCallRecorder disk;
        ComponentRun run(server);
        writeFile(run.file(), "the older song");
        const std::string file = run.file().string();
        disk.failWhen(
            c.op,
            [&](const Call& call) {
                if (call.op == "rename") return call.to == file;
                // Only at the end: the part file's sync, or the folder's once it is named.
                return call.op == "dataSync" ? isPart(call.path) : fs::exists(file) && readFile(file) != "the older song";
            },
            c.error);
        ASSERT_TRUE(run.get.Download(false, false));
        dl::TDlDownloadItem& item = run.item();
        // Never told as a success.
        EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
        EXPECT_EQ(item.Progress.ErrorCode, dl::FileErrorOf(c.error));
        EXPECT_TRUE(item.Request.LocalFileName.empty());
        if (c.named) {
            EXPECT_TRUE(readFile(run.file()) == *kFile);
        } else {
            EXPECT_EQ(readFile(run.file()), "the older song");
        }
        // No part file stays beside it (an identity whose name may not be
        // on the disk stays, for the sweep to remove).
        const std::vector<std::string> names = namesIn(run.folder.path());
        EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return dl::IsPartFileName(n); }),
                  0);
        EXPECT_EQ(std::count(names.begin(), names.end(), "song.mp3"), 1);
    }
}


TEST(DurableEnd, TheQueueTellsASongsEndOnlyOnceItIsOnTheDiskUnderItsName) {
    const auto song = testsupport::patternBody(300000, 8);
    RangeServer::Setup setup;
    setup.file = {song, "\"e1\"", ""};
    RangeServer server(setup);
    uitest::ScopedWorkDir work;
    DiskCallRecorder disk;
    dl::DownloadQueue queue;
    bool ended = false;
    dl::TransferOutcome result;
    queue.OnEnded = [&](dl::DownloadQueue::Id, const dl::TransferOutcome& r) {
        disk.mark("ended");
        result = r;
        ended = true;
    };
    queue.Add({server.url("/song.mp3"), "downmp3", "s.mp3", "s"});
    ASSERT_TRUE(uitest::pumpUntil([&] { return ended; }, 60000));
    queue.StopAll();
    ASSERT_EQ(result.end(), dl::TransferOutcome::End::Finished) << result.message;
    const fs::path file = work.path() / "downmp3" / "s.mp3";
    EXPECT_TRUE(uitest::readFile(file) == *song);

    const std::vector<Call> calls = disk.calls();
    const int named = indexOf(calls, [&](const Call& c) { return c.op == "rename" && fs::path(c.to) == file; });
    ASSERT_GE(named, 1);
    const std::string part = calls[static_cast<std::size_t>(named)].path;
    const int synced = indexOf(calls, [&](const Call& c) { return c.op == "dataSync" && c.path == part; });
    const int folderSynced = indexOf(
        calls, [&](const Call& c) { return c.op == "folderSync" && fs::path(c.path) == file.parent_path(); }, named);
    const int sideGone = indexOf(
        calls, [&](const Call& c) { return c.op == "unlink" && c.path == dl::IdentityPathOf(part); }, 0);
    const int told = indexOf(calls, [](const Call& c) { return c.op == "ended"; });
    ASSERT_NE(synced, -1);
    ASSERT_NE(folderSynced, -1);
    ASSERT_NE(told, -1);
    EXPECT_LT(synced, named);
    EXPECT_EQ(folderSynced, named + 1);
    EXPECT_GT(sideGone, folderSynced);
    EXPECT_GT(told, sideGone);
}
