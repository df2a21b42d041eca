// What a power cut can leave of a download, watched through a recording
// disk layer: the identity's renames are each followed by a folder sync,
// after the bytes it vouches for were synced. Also the part files the program takes up: two downloads of one folder always take
// up their own, a part file with a second name is never written through,
// and a 206 of another whole length starts the song over.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "tests/download/DiskCallRecorder.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/download/SongRun.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using dltest::DiskCallRecorder;
using dltest::indexOf;
using dltest::namesIn;
using dltest::readFile;
using dltest::writeFile;
using dltest::range;
using dltest::rangesAsked;
using dltest::SongRun;
using testsupport::RangeServer;
using Call = DiskCallRecorder::Call;

namespace {

constexpr std::uint64_t kSize = 200000;
constexpr std::uint64_t kHeld = 60000;
const auto kFile = testsupport::patternBody(kSize, 0);
const std::string kTag = "\"v1\"";

std::string nameOf(const std::string& path) { return fs::path(path).filename().string(); }

// A part file kept as a program keeps one, for `url` and `name`, holding
// the first `held` bytes of `body`; returns its path.
fs::path keepPart(const fs::path& folder, const std::string& stem, const std::string& url, const std::string& name,
                  const std::string& body, std::uint64_t held) {
    const fs::path part = folder / (".brelvo-" + stem + ".part");
    writeFile(part, body.substr(0, held));
    const dl::PartIdentity id{url, name, kTag, "", body.size(), held, ""};
    writeFile(dl::IdentityPathOf(part.string()), dl::EncodePartIdentity(id));
    return part;
}

RangeServer::Setup song(std::shared_ptr<const std::string> body = kFile) {
    RangeServer::Setup setup;
    setup.file = {std::move(body), kTag, ""};
    return setup;
}

}  // namespace

// A song kept for a later run: its bytes synced before the identity that
// vouches for them, and each identity's rename followed by a sync of the
// folder, so that after a power cut the identity is there with the bytes.
TEST(DurableFinish, EachRenameOfAnIdentityIsFollowedByASyncOfItsFolder) {
    RangeServer::Setup setup = song();
    setup.dropAt = {kHeld};
    setup.statusOf = {{1, 503}};
    RangeServer server(setup);
    DiskCallRecorder disk;
    SongRun run(server);
    run.downloads.Attempts.maxFurther = 1;
    ASSERT_TRUE(run.run());
    ASSERT_EQ(run.item.Progress.ErrorMessage, "Service unavailable");
    ASSERT_EQ(namesIn(run.folder.path()).size(), 2u);

    const std::vector<Call> calls = disk.calls();
    int renames = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].op != "rename") continue;
        ++renames;
        EXPECT_TRUE(dl::IsIdentityFileName(nameOf(calls[i].to))) << calls[i].to;
        // The side file was synced before it was renamed.
        EXPECT_NE(indexOf(calls, [&](const Call& c) { return c.op == "dataSync" && c.path == calls[i].path; }), -1);
        ASSERT_LT(i + 1, calls.size());
        EXPECT_EQ(calls[i + 1].op, "folderSync");
        EXPECT_EQ(fs::path(calls[i + 1].path), run.folder.path());
    }
    EXPECT_GE(renames, 1);
    // The last identity, the kept one, vouches for bytes already synced.
    const int last = [&] {
        int at = -1;
        for (int i = 0; i < static_cast<int>(calls.size()); ++i)
            if (calls[static_cast<std::size_t>(i)].op == "rename") at = i;
        return at;
    }();
    const std::string part = dl::PartPathOfIdentity(calls[static_cast<std::size_t>(last)].to);
    int partSync = -1;
    for (int i = 0; i < last; ++i)
        if (calls[static_cast<std::size_t>(i)].op == "dataSync" && calls[static_cast<std::size_t>(i)].path == part)
            partSync = i;
    EXPECT_NE(partSync, -1);
    const auto identity = dl::ReadPartIdentity(part);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->held, kHeld);
}

// A part file whose name is one of two (a hard link to a file elsewhere),
// or whose side file is, is not the program's to write: the file elsewhere
// stays byte for byte as it was.
TEST(DurableFinish, APartFileWithASecondNameIsNeverWrittenThrough) {
    struct Case {
        const char* name;
        bool linkPart;  // else the ".next" beside it
        std::vector<std::string> ranges;
    };
    const std::vector<Case> cases = {
        {"the part file", true, {""}},
        {"its next identity", false, {range(kHeld)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(song());
        SongRun run(server);
        testsupport::TempDir elsewhere;
        const fs::path precious = elsewhere.path() / "precious.txt";
        const fs::path part = keepPart(run.folder.path(), "7", run.item.Request.URL, "song.mp3", *kFile, kHeld);
        if (c.linkPart) {
            fs::rename(part, precious);
            ASSERT_EQ(::link(precious.c_str(), part.c_str()), 0);
        } else {
            writeFile(precious, "precious");
            ASSERT_EQ(::link(precious.c_str(), dl::NextIdentityPathOf(part.string()).c_str()), 0);
        }
        const std::string before = readFile(precious);
        ASSERT_TRUE(run.run());
        EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished) << run.item.Progress.ErrorMessage;
        EXPECT_TRUE(run.item.Progress.Data.View() == *kFile);
        EXPECT_EQ(rangesAsked(server), c.ranges);
        EXPECT_TRUE(readFile(precious) == before);
        EXPECT_EQ(fs::hard_link_count(precious), c.linkPart ? 2u : 1u);
    }
    // A ".next" planted beside a part file this program holds: the identity
    // is written to a file of its own, not through the planted name.
    testsupport::TempDir folder, elsewhere;
    int error = 0;
    auto file = dl::PartFile::Create(folder.path().string(), error);
    ASSERT_TRUE(file) << error;
    const fs::path precious = elsewhere.path() / "precious.txt";
    writeFile(precious, "precious");
    ASSERT_EQ(::link(precious.c_str(), dl::NextIdentityPathOf(file->path()).c_str()), 0);
    ASSERT_EQ(file->Append(kFile->data(), kHeld), 0);
    const dl::PartIdentity id{"http://127.0.0.1:1/song.mp3", "song.mp3", kTag, "", kSize, kHeld, ""};
    ASSERT_EQ(dl::WritePartIdentity(*file, id), 0);
    EXPECT_EQ(readFile(precious), "precious");
    EXPECT_EQ(dl::ReadPartIdentity(file->path()), id);
}

// Two downloads of one folder start together, each with a part file kept
// for it there: each takes up its own, every time; the sweep or take-up of
// the one never makes the other take its part file for another program's.
TEST(DurableFinish, TwoDownloadsOfOneFolderAlwaysTakeUpTheirKeptParts) {
    constexpr std::uint64_t kSmall = 4096, kSmallHeld = 1000;
    const auto body = testsupport::patternBody(kSmall, 2);
    RangeServer server(song(body));
    constexpr int kRounds = 100;
    int continuedBoth = 0;
    for (int round = 0; round < kRounds; ++round) {
        testsupport::TempDir folder;
        dltest::CollectionRun run(2);
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        // Other songs' kept parts beside them, which every sweep and take-up
        // looks at too.
        for (int other = 0; other < 20; ++other) {
            const std::string name = "other-" + std::to_string(other) + ".mp3";
            keepPart(folder.path(), std::to_string(100 + other), server.url("/" + name), name, *body, kSmallHeld);
        }
        std::vector<dl::TDlDownloadItem*> items;
        for (const std::string name : {"a.mp3", "b.mp3"}) {
            dl::TDlDownloadItem& item = run.add(server.url("/" + name));
            item.Request.SetSaveFolder(folder.path().string());
            item.Request.SetContinueTransfer(true);
            item.Request.SetKeepName(name);
            keepPart(folder.path(), name.substr(0, 1) == "a" ? "1" : "2", item.Request.URL, name, *body, kSmallHeld);
            items.push_back(&item);
        }
        ASSERT_TRUE(recorder.runToEnd(60000));
        bool both = true;
        for (dl::TDlDownloadItem* item : items) {
            both = both && item->Progress.State == dl::dsFinished &&
                   downloads.OutcomeOf(*item).value_or(dl::TransferOutcome{}).continuations == 1 &&
                   item->Progress.Data.View() == *body;
        }
        if (both) ++continuedBoth;
    }
    EXPECT_EQ(continuedBoth, kRounds);
}

// The same at the level of the part files, where the moments meet far more
// often: two threads each take up the part file kept for their song and keep
// it again, while a third sweeps the folder for a download of a third song,
// over and over. Every take-up finds its part file.
TEST(DurableFinish, TakeUpsAndSweepsOfOneFolderNeverMissAKeptPart) {
    testsupport::TempDir folder;
    const auto body = testsupport::patternBody(4096, 2);
    const std::vector<std::string> names = {"a.mp3", "b.mp3"};
    for (std::size_t i = 0; i < names.size(); ++i)
        keepPart(folder.path(), std::to_string(i + 1), "http://127.0.0.1:1/" + names[i], names[i], *body, 1000);
    constexpr int kRounds = 100;
    std::atomic<int> missed{0};
    std::atomic<int> running{static_cast<int>(names.size())};
    std::vector<std::thread> threads;
    for (const std::string& name : names) {
        threads.emplace_back([&, name] {
            for (int round = 0; round < kRounds; ++round) {
                auto kept = dl::TakeUpKeptPart(folder.path().string(), "http://127.0.0.1:1/" + name, name,
                                               std::time(nullptr));
                if (!kept) {
                    ++missed;
                    break;
                }
                if (dl::KeepPartFile(*kept->file, kept->identity) != 0) {
                    ++missed;
                    break;
                }
            }
            --running;
        });
    }
    threads.emplace_back([&] {
        const dl::AskedDownload asked{"http://127.0.0.1:1/c.mp3", "c.mp3", true};
        while (running > 0) dl::SweepPartFiles(folder.path().string(), &asked, std::time(nullptr));
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(missed.load(), 0);
}

// A 206 whose whole length is not the one the bytes held came with: the
// server's file is another, so the bytes go and the song starts over in a
// further attempt; with none left it fails, and nothing of it stays.
TEST(DurableFinish, ARangeOfAnotherWholeLengthStartsTheSongOver) {
    struct Case {
        const char* name;
        int further;
        bool finishes;
        std::vector<std::string> ranges;
    };
    const std::vector<Case> cases = {
        {"with attempts left", 3, true, {range(kHeld), ""}},
        {"with none left", 0, false, {range(kHeld)}},
    };
    const auto longer = testsupport::patternBody(kSize + 10, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(song(longer));  // the same ETag, another length
        SongRun run(server);
        run.downloads.Attempts.maxFurther = c.further;
        keepPart(run.folder.path(), "3", run.item.Request.URL, "song.mp3", *kFile, kHeld);
        ASSERT_TRUE(run.run());
        EXPECT_EQ(rangesAsked(server), c.ranges);
        if (c.finishes) {
            EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished) << run.item.Progress.ErrorMessage;
            EXPECT_TRUE(run.item.Progress.Data.View() == *longer);
            EXPECT_EQ(run.outcome().continuations, 0);
            EXPECT_EQ(run.outcome().retries, 1);
            run.item.ReleaseData();
        } else {
            EXPECT_EQ(run.item.Progress.State.load(), dl::dsFailed);
            EXPECT_EQ(run.item.Progress.ErrorMessage, "HTTP Error: 206");
        }
        EXPECT_TRUE(namesIn(run.folder.path()).empty());
    }
}

// A server that sends a trickle (far below the low-speed limit, its time
// lowered here to a second) has stalled as one that fell silent has: the download
// asks for the rest, and fails with a time-out when that trickles too.
TEST(DurableFinish, ATrickleBelowTheLowSpeedLimitIsAStall) {
    // It sends in pieces of 64 KiB, each then held back for a minute.
    RangeServer::Setup setup = song();
    setup.bytesPerSecond = 1000;
    RangeServer server(setup);
    SongRun run(server);
    run.downloads.Attempts.maxFurther = 1;
    dl::TDlInternetOptions options = run.downloads.Options();
    options.LowSpeedLimit = 1024;
    options.LowSpeedTime = 1;
    run.downloads.SetOptions(options);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFailed);
    EXPECT_EQ(run.item.Progress.ErrorCode, dl::kErrTimeout);
    const std::vector<std::string> ranges = rangesAsked(server);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], "");
    EXPECT_EQ(ranges[1], range(64 * 1024));  // the rest of what had come
}
