// One item against servers that misbehave: what it ends with, that nothing
// of it stays in its folder, and that the run ends. The servers are scripts
// (tests/support/HostileScripts.h) on loopback.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/files/DlFileWriting.h"
#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/HostileScripts.h"
#include "tests/support/TempDir.h"

extern "C" int brelvo_hanging_lookups(void);

namespace fs = std::filesystem;
using dltest::localUrl;
using dltest::OneItemRun;
using dltest::Recorder;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;
using testsupport::namesIn;
namespace hostile = testsupport::hostile;

namespace {

struct Outcome {
    dl::TDlItemState state;
    std::int32_t code;
    std::string message;
};

}  // namespace

TEST(HostileServer, EveryMisbehaviourEndsAsAFailureOfItsOwn) {
    struct Case {
        const char* name;
        ServerScript script;
        Outcome want;
        std::int32_t status = -1;        // -1: not checked
        std::uint32_t sizeLimit = 0;
        std::int32_t dataTimeout = 0;    // seconds; 0: the default
        std::int64_t maxBytes = -1;      // the most the run may have read; -1: not checked
    };
    const std::string manyBytes(200000, 'u');
    const std::vector<Case> cases = {
        {"a head cut short", hostile::sendsAndCloses("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n"),
         {dl::dsFailed, 12152, "Internet Error: 12152"}},
        {"no answer at all before the close", hostile::sendsAndCloses(""), {dl::dsFailed, 12030, "Connection aborted"}},
        {"a redirect without Location",
         hostile::sendsAndCloses("HTTP/1.1 302 Found\r\nContent-Length: 5\r\n\r\nmoved"),
         {dl::dsFailed, 2, "Redirect without location"}, 302},
        {"a redirect with a blank Location",
         hostile::sendsAndCloses("HTTP/1.1 301 Moved\r\nLocation:   \r\nContent-Length: 5\r\n\r\nmoved"),
         {dl::dsFailed, 2, "Redirect without location"}, 301},
        {"a length that does not fit in 64 bits",
         hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000000000000\r\n\r\nabc"),
         {dl::dsFailed, 12030, "Connection aborted"}},
        {"a length past 4 GiB - 1", hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\nabc"),
         {dl::dsFailed, 12030, "Connection aborted"}},
        {"header lines without end", hostile::sends(hostile::headerLines(5000)),
         {dl::dsFailed, 12152, "Internet Error: 12152"}},
        {"a head past its byte bound", hostile::sends(hostile::headerLines(300, 2000)),
         {dl::dsFailed, 12152, "Internet Error: 12152"}},
        {"trailer lines without end", hostile::sends(hostile::chunkedWithTrailer(5000, false)),
         {dl::dsFailed, 12152, "Internet Error: 12152"}},
        {"a trailer within its bounds", hostile::sendsAndCloses(hostile::chunkedWithTrailer(900, true)),
         {dl::dsFinished, 0, ""}, 200},
        {"a server that never answers", hostile::neverAnswers(), {dl::dsFailed, 12002, "Timeout"}, -1, 0, 1},
        {"a body that stalls", hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"),
         {dl::dsFailed, 12002, "Timeout"}, -1, 0, 1},
        {"an announced length that never comes",
         hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n"), {dl::dsFailed, 12002, "Timeout"},
         -1, 0, 1},
        {"an announced length over the limit",
         hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n" + manyBytes),
         {dl::dsFailed, 8, "Size limit"}, -1, 20000, 0, 0},
        {"received bytes over the limit, no length",
         hostile::sends("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + manyBytes), {dl::dsFailed, 8, "Size limit"},
         -1, 20000, 0, 20000 + 16384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir folder;
        ScriptedTcpServer server(c.script);
        OneItemRun run;
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        dl::TDlDownloadItem& item = run.item;
        downloads.ThreadCount = 1;
        // One attempt: how each misbehaviour ends it (trying again is ItemAttemptsTest's).
        downloads.Attempts.maxFurther = 0;
        dl::TDlInternetOptions options = downloads.Options();
        options.DataTimeout = c.dataTimeout;
        downloads.SetOptions(options);
        item.Request.URL = localUrl(server.port(), "/song.mp3");
        item.Request.SetSaveFolder(folder.path().string());
        item.Request.SetSizeLimit(c.sizeLimit);
        ASSERT_TRUE(recorder.runToEnd(30000));
        EXPECT_EQ(item.Progress.State.load(), c.want.state);
        EXPECT_EQ(item.Progress.ErrorCode, c.want.code);
        EXPECT_EQ(item.Progress.ErrorMessage, c.want.message);
        if (c.status >= 0) {
            EXPECT_EQ(item.Progress.StatusCode, c.status);
        }
        if (c.maxBytes >= 0) {
            EXPECT_LE(downloads.BytesReceived.load(), c.maxBytes);
        }
        if (c.want.state == dl::dsFinished) {
            EXPECT_EQ(std::string(item.Progress.Data.View()), "hello");
        } else {
            // A failed item keeps nothing on disk, not even a part file.
            EXPECT_TRUE(namesIn(folder.path()).empty());
        }
    }
}

// Bytes are written through to the part file as they come: by the time the
// server stops sending, they are on disk, not in memory.
TEST(HostileServer, BytesGoToThePartFileAsTheyArrive) {
    const std::string sent(3 << 20, 'p');
    testsupport::TempDir folder;
    ScriptedTcpServer server(hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n" + sent));
    OneItemRun run;
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    downloads.ThreadCount = 1;
    item.Request.URL = localUrl(server.port(), "/song.mp3");
    item.Request.SetSaveFolder(folder.path().string());
    downloads.StartAsync();
    // Less than the staging buffer may wait in memory.
    const auto onDisk = [&] {
        std::uint64_t size = 0;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder.path(), ignored)) size += entry.file_size(ignored);
        return size;
    };
    EXPECT_TRUE(dltest::pumpUntil([&] { return onDisk() + dl::ItemData::kStaging >= sent.size(); }, 20000));
    const std::vector<std::string> names = namesIn(folder.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(dl::IsPartFileName(names[0])) << names[0];
    downloads.Stop();
    ASSERT_TRUE(dltest::pumpUntil([&] { return recorder.allDone() > 0; }, 20000));
    downloads.WaitForRun();
    EXPECT_EQ(item.Progress.ErrorCode, 6);
    EXPECT_TRUE(namesIn(folder.path()).empty());
}

// A Stop that comes while the run is only beginning, at either of the two
// points where it begins, ends it all the same: the test holds the run
// there, stops it, and lets it go on.
TEST(HostileServer, AStopAtTheVeryStartOfARunEndsIt) {
    for (const int point : {0, 1}) {
        SCOPED_TRACE(point);
        ScriptedTcpServer server(hostile::neverAnswers());
        OneItemRun run;
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        dl::TDlDownloadItem& item = run.item;
        downloads.ThreadCount = 1;
        item.Request.URL = localUrl(server.port(), "/song.mp3");
        std::promise<void> reached;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        downloads.RunPointHook = [&, released](int at) {
            if (at != point) return;
            reached.set_value();
            released.wait();
        };
        downloads.StartAsync();
        ASSERT_EQ(reached.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
        downloads.Stop();
        release.set_value();
        ASSERT_TRUE(dltest::pumpUntil([&] { return recorder.allDone() > 0; }, 20000)) << "the run hangs";
        downloads.WaitForRun();
        EXPECT_EQ(downloads.RunState.load(), dl::rsFinished);
        EXPECT_TRUE(downloads.StopRequested.load());
        EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
        EXPECT_EQ(item.Progress.ErrorCode, 6);
        EXPECT_TRUE(recorder.reports().empty());
        EXPECT_EQ(server.connectionCount(), 0u);
    }
}

// Stop during a name lookup that never ends: the run does not wait for it.
TEST(HostileServer, AStopDuringALookupThatHangsEndsTheRun) {
    OneItemRun run;
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    downloads.ThreadCount = 1;
    item.Request.URL = "http://song.hang.test/a.mp3";
    const int before = brelvo_hanging_lookups();
    downloads.StartAsync();
    if (!dltest::pumpUntil([&] { return brelvo_hanging_lookups() > before; }, 20000)) {
        downloads.Stop();
        dltest::pumpUntil([&] { return recorder.allDone() > 0; }, 20000);
        downloads.WaitForRun();
        GTEST_SKIP() << "this build's own getaddrinfo comes first";
    }
    const auto stopped = std::chrono::steady_clock::now();
    downloads.Stop();
    ASSERT_TRUE(dltest::pumpUntil([&] { return recorder.allDone() > 0; }, 20000)) << "the run waits for the lookup";
    std::printf("    the run ended %lld ms after Stop\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - stopped)
                                           .count()));
    downloads.WaitForRun();
    EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
    EXPECT_EQ(item.Progress.ErrorCode, 6);
}

// Part files left by a program that ended in the middle go with the next
// download in their folder; one that a running program holds stays.
TEST(HostileServer, LeftPartFilesGoButHeldOnesStay) {
    testsupport::TempDir folder;
    {
        std::FILE* left = std::fopen((folder.path() / ".brelvo-123.part").c_str(), "w");
        ASSERT_NE(left, nullptr);
        std::fputs("left behind", left);
        std::fclose(left);
    }
    int error = 0;
    auto held = dl::PartFile::Create(folder.path().string(), error);
    ASSERT_TRUE(held) << error;
    const std::string heldName = fs::path(held->path()).filename().string();
    ScriptedTcpServer server(hostile::sendsAndCloses(dltest::httpResponse("200 OK", "", "song")));
    OneItemRun run;
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    downloads.ThreadCount = 1;
    item.Request.URL = localUrl(server.port(), "/song.mp3");
    item.Request.SetSaveFolder(folder.path().string());
    ASSERT_TRUE(recorder.runToEnd(20000));
    ASSERT_EQ(item.Progress.State.load(), dl::dsFinished);
    std::vector<std::string> names = namesIn(folder.path());
    std::sort(names.begin(), names.end());
    // Left: only the part file still held, and the finished download's own
    // (unnamed until its component gives it a name).
    EXPECT_EQ(std::count(names.begin(), names.end(), ".brelvo-123.part"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), heldName), 1);
    EXPECT_EQ(item.Progress.Data.TakeName((folder.path() / "song.mp3").string(), 0), 0);
    EXPECT_EQ(dl::SweepPartFiles(folder.path().string(), nullptr, std::time(nullptr)), 0);  // the held one is not stale
    held.reset();
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"song.mp3"});
}
