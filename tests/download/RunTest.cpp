// Runs of a collection: stopping, order, items added during a run, the
// counters, and the waits the UI thread makes on the run's threads.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/engine/TDlProcessDownloadThread.h"
#include "platform/TickCount.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/HostileScripts.h"
#include "tests/support/ScriptedTcpServer.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using dltest::answer;
using dltest::answerInPieces;
using dltest::CollectionRun;
using dltest::httpResponse;
using dltest::localUrl;
using dltest::OneItemRun;
using dltest::pumpUntil;
using dltest::Recorder;
using testsupport::ScriptedTcpServer;
using testsupport::UnansweredListener;
namespace hostile = testsupport::hostile;

namespace {

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(Run, StopEndsTheTransferWithoutAnEndReport) {
    enum class Where { Connecting, WaitingForTheAnswer, Reading, BetweenReads };
    struct Case {
        const char* name;
        Where where;
        dl::TDlItemState state;
        std::int32_t code;
        const char* message;
    };
    // Wherever the stop finds it, a stopped item did not finish: it fails
    // with "Stopped", whether a blocked call was interrupted or the stop was
    // noticed between two reads.
    const Case cases[] = {
        {"connecting", Where::Connecting, dl::dsFailed, 6, "Stopped"},
        {"waiting for the answer", Where::WaitingForTheAnswer, dl::dsFailed, 6, "Stopped"},
        {"reading", Where::Reading, dl::dsFailed, 6, "Stopped"},
        {"between two reads", Where::BetweenReads, dl::dsFailed, 6, "Stopped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<UnansweredListener> unanswered;
        std::unique_ptr<ScriptedTcpServer> server;
        int port = 0;
        if (c.where == Where::Connecting) {
            unanswered = std::make_unique<UnansweredListener>();
            port = unanswered->port();
        } else if (c.where == Where::WaitingForTheAnswer) {
            server = std::make_unique<ScriptedTcpServer>(hostile::neverAnswers());
            port = server->port();
        } else {
            server = std::make_unique<ScriptedTcpServer>(
                hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabc"));
            port = server->port();
        }
        OneItemRun run;
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        dl::TDlDownloadItem& item = run.item;
        downloads.ThreadCount = 1;
        const auto readingReport = [&] {
            for (const auto& r : recorder.reports())
                if (r.size == 3u && !r.headerPhase) return true;
            return false;
        };
        Clock::time_point stopped{};
        if (c.where == Where::BetweenReads) {
            recorder.onItem = [&](dl::TDlDownloadItem& item) {
                if (item.Progress.Size == 3u && !item.Progress.HeaderPhase && stopped == Clock::time_point{}) {
                    stopped = Clock::now();
                    downloads.Stop();
                }
            };
        }
        item.Request.URL = localUrl(port, "/a.mp3");
        downloads.StartAsync();
        if (c.where == Where::Connecting) {
            ASSERT_TRUE(pumpUntil([&] { return !recorder.reports().empty(); }));
            pumpUntil([] { return false; }, 200);  // well into the connect
        } else if (c.where == Where::WaitingForTheAnswer) {
            ASSERT_TRUE(pumpUntil([&] { return server->received().find("\r\n\r\n") != std::string::npos; }));
            pumpUntil([] { return false; }, 200);  // the server says nothing for 200 ms
        } else if (c.where == Where::Reading) {
            ASSERT_TRUE(pumpUntil(readingReport));
            pumpUntil([] { return false; }, 100);  // back in the next read
        }
        std::size_t reportsBefore = 0;
        if (c.where != Where::BetweenReads) {
            reportsBefore = recorder.reports().size();
            stopped = Clock::now();
            downloads.Stop();
            EXPECT_LT(msSince(stopped), 10000);  // Stop does not wait for the threads (they would wait 30 s)
        }
        // Well below the 30 s a silent server could hold the transfer.
        ASSERT_TRUE(pumpUntil([&] { return recorder.allDone() > 0; }, 20000));
        EXPECT_LT(msSince(stopped), 10000);
        downloads.WaitForRun();
        pumpUntil([] { return false; }, 50);
        if (c.where == Where::BetweenReads) reportsBefore = 3;  // start, headers, the one that stopped
        EXPECT_EQ(recorder.allDone(), 1);
        EXPECT_EQ(recorder.reports().size(), reportsBefore);  // no end report, nothing after the stop
        EXPECT_EQ(downloads.RunState.load(), dl::rsFinished);
        EXPECT_TRUE(item.Stopped());
        EXPECT_EQ(item.Progress.State.load(), c.state);
        EXPECT_EQ(item.Progress.ErrorCode, c.code);
        EXPECT_EQ(item.Progress.ErrorMessage, c.message);
        if (c.where == Where::Reading || c.where == Where::BetweenReads) {
            EXPECT_EQ(std::string(item.Progress.Data.View()), "abc");
        }
    }
}

TEST(Run, OneThreadTakesTheItemsInCollectionOrder) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "song")));
    CollectionRun run(1);
    Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& first = run.add(localUrl(server.port(), "/first.mp3"));
    dl::TDlDownloadItem& second = run.add(localUrl(server.port(), "/second.mp3"));
    ASSERT_TRUE(recorder.runToEnd());
    const auto reports = recorder.reports();
    ASSERT_FALSE(reports.empty());
    // Every report of the first item comes before any of the second.
    std::size_t lastFirst = 0, firstSecond = reports.size();
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (reports[i].item == &first) lastFirst = i;
        if (reports[i].item == &second && firstSecond == reports.size()) firstSecond = i;
    }
    EXPECT_LT(lastFirst, firstSecond);
    EXPECT_EQ(first.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(second.Progress.State.load(), dl::dsFinished);
    ASSERT_EQ(server.connectionCount(), 2u);
    EXPECT_NE(server.received(0).find("GET /first.mp3 "), std::string::npos);
    EXPECT_NE(server.received(1).find("GET /second.mp3 "), std::string::npos);
    EXPECT_EQ(recorder.allDone(), 1);
    EXPECT_TRUE(recorder.allDoneOnUiThread());
}

TEST(Run, WakeWorkersLetsASleepingThreadTakeAnItemAddedDuringTheRun) {
    // The page is slow; the item added after its headers is quick.
    ScriptedTcpServer slow(answerInPieces("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n", {"page", "!!"}, 600ms));
    ScriptedTcpServer quick(answer(httpResponse("200 OK", "", "frame")));
    CollectionRun run(2);
    dl::TDlDownloads& downloads = run.downloads;
    Recorder& recorder = run.recorder;
    dl::TDlDownloadItem* added = nullptr;
    recorder.onItem = [&](dl::TDlDownloadItem& item) {
        if (!added && item.Progress.HeaderPhase) {
            added = &run.add(localUrl(quick.port(), "/frame.htm"));
            added->Request.IsLink = true;
            added->Request.Level = -1;
            downloads.WakeWorkers();
        }
    };
    dl::TDlDownloadItem& page = run.add(localUrl(slow.port(), "/page.htm"));
    ASSERT_TRUE(recorder.runToEnd());
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(page.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(added->Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(std::string(added->Progress.Data.View()), "frame");
    // The second thread fetched it while the first was still reading the page.
    const auto pageReports = recorder.reportsOf(page);
    const auto addedReports = recorder.reportsOf(*added);
    const auto reports = recorder.reports();
    std::size_t pageEnd = 0, addedEnd = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (reports[i].item == &page && reports[i].state == dl::dsFinished) pageEnd = i;
        if (reports[i].item == added && reports[i].state == dl::dsFinished) addedEnd = i;
    }
    EXPECT_LT(addedEnd, pageEnd);
    EXPECT_EQ(recorder.allDone(), 1);
}

TEST(Run, ItemsAddedByTheEndReportAreFetchedInTheSameRun) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "x")));
    CollectionRun run(1);
    dl::TDlDownloads& downloads = run.downloads;
    Recorder& recorder = run.recorder;
    int added = 0;
    recorder.onItem = [&](dl::TDlDownloadItem& item) {
        if (item.Progress.State == dl::dsFinished && added < 2) {
            ++added;
            run.add(localUrl(server.port(), "/more" + std::to_string(added)));
            downloads.WakeWorkers();
        }
    };
    run.add(localUrl(server.port(), "/first"));
    ASSERT_TRUE(recorder.runToEnd());
    ASSERT_EQ(downloads.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(downloads.Items(i).Progress.State.load(), dl::dsFinished) << i;
    EXPECT_EQ(server.connectionCount(), 3u);
}

TEST(Run, CountsTheBytesAndTheRateOfTheCurrentRun) {
    ScriptedTcpServer server(answerInPieces("HTTP/1.1 200 OK\r\nContent-Length: 65536\r\n\r\n",
                                            {std::string(32768, 'a'), std::string(32768, 'b')}, 400ms));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    std::int32_t rateAtEnd = -1;
    recorder.onItem = [&](dl::TDlDownloadItem& item) {
        if (item.Progress.State == dl::dsFinished) rateAtEnd = downloads.TransferRate();
    };
    ASSERT_TRUE(recorder.runToEnd());
    EXPECT_EQ(downloads.BytesReceived.load(), 65536);
    // 64 KiB over the 400 ms pause and a little more.
    EXPECT_GT(rateAtEnd, 65536 * 1000 / 3000);
    EXPECT_LE(rateAtEnd, 65536 * 1000 / 390);
    // A new run starts its counters afresh.
    ASSERT_TRUE(recorder.runToEnd());
    EXPECT_EQ(downloads.BytesReceived.load(), 65536);
}

TEST(Run, TransferRateIsTheAverageSinceTheFirstData) {
    dl::TDlDownloads downloads;
    downloads.AddTraffic(200, 10000);
    downloads.AddTraffic(0, 10000);
    const std::int32_t rate = downloads.TransferRate();
    // 20000 bytes over 200 ms (and the few ms this test takes).
    EXPECT_LE(rate, 100000);
    EXPECT_GT(rate, 20000 * 1000 / 400);
}

TEST(Run, AnEmptyCollectionFinishesAtOnce) {
    dl::TDlDownloads downloads;
    Recorder recorder(downloads);
    ASSERT_TRUE(recorder.runToEnd());
    EXPECT_EQ(recorder.allDone(), 1);
    EXPECT_EQ(downloads.RunState.load(), dl::rsFinished);
    downloads.ResetFinished();
    EXPECT_EQ(downloads.RunState.load(), dl::rsIdle);
}

TEST(Run, RunOnTheUiThreadDeliversTheReportsWhileItWaits) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "abc")));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    EXPECT_TRUE(downloads.Run());  // no event loop: Run serves the hand-offs itself
    EXPECT_EQ(recorder.allDone(), 1);
    EXPECT_EQ(recorder.reports().back().state, dl::dsFinished);
}

TEST(Run, WaitForRunOnTheUiThreadDeliversTheReportsItWaitsFor) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "abc")));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    downloads.StartAsync();
    const auto start = Clock::now();
    downloads.WaitForRun();  // no pumping here: the manager waits for the UI thread meanwhile
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(recorder.allDone(), 1);
    EXPECT_EQ(recorder.reports().back().state, dl::dsFinished);
}

TEST(Run, DestroyingTheCollectionStopsTheRunAndWaitsForIt) {
    ScriptedTcpServer server(hostile::neverAnswers());
    auto downloads = std::make_unique<dl::TDlDownloads>();
    int allDone = 0;
    downloads->OnAllDone = [&](dl::TDlDownloads&) { ++allDone; };
    downloads->OnItemProgress = [](dl::TDlDownloadItem&) {};
    downloads->AddItem().Request.URL = localUrl(server.port(), "/a.mp3");
    downloads->StartAsync();
    ASSERT_TRUE(pumpUntil([&] { return server.received().find("\r\n\r\n") != std::string::npos; }));
    const auto start = Clock::now();
    downloads.reset();  // the manager's last report is dropped, not waited for
    EXPECT_LT(msSince(start), 10000);  // the silent server would hold it 30 s
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(allDone, 0);
}

TEST(Run, ADroppableReportIsSkippedWhileOneIsPending) {
    dl::TDlDownloads downloads;
    std::atomic<int> handled{0};
    downloads.OnItemProgress = [&](dl::TDlDownloadItem&) { ++handled; };
    dl::TDlDownloadItem& item = downloads.AddItem();
    // A report waits for the UI thread, which is not pumping yet.
    std::thread reporter([&] { downloads.NotifyItem(item, false); });
    const auto start = Clock::now();
    while (!downloads.Notifier().HasPendingRequest() && msSince(start) < 2000) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(downloads.Notifier().HasPendingRequest());
    std::atomic<bool> droppedReturned{false};
    std::thread dropper([&] {
        downloads.NotifyItem(item, true);
        droppedReturned = true;
    });
    dropper.join();  // returns without the UI thread's help
    EXPECT_TRUE(droppedReturned);
    ASSERT_TRUE(pumpUntil([&] { return handled.load() == 1; }));
    reporter.join();
    EXPECT_FALSE(downloads.Notifier().HasPendingRequest());
    EXPECT_EQ(handled.load(), 1);
}

TEST(Run, FinishedItemsMarkedForRemovalLeaveTheCollection) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "x")));
    CollectionRun run(1);
    dl::TDlDownloads& downloads = run.downloads;
    Recorder& recorder = run.recorder;
    bool refused = false;
    recorder.onItem = [&](dl::TDlDownloadItem&) {
        try {
            downloads.Delete(0);
        } catch (const std::logic_error&) {
            refused = true;  // the run's threads hold the items
        }
    };
    dl::TDlDownloadItem& gone = run.add(localUrl(server.port(), "/gone"));
    gone.Request.RemoveWhenDone = true;
    dl::TDlDownloadItem& kept = run.add(localUrl(server.port(), "/kept"));
    ASSERT_TRUE(recorder.runToEnd());
    EXPECT_TRUE(refused);
    ASSERT_EQ(downloads.Count(), 1);
    EXPECT_EQ(&downloads.Items(0), &kept);
    EXPECT_EQ(kept.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(server.connectionCount(), 2u);
    downloads.Clear();  // allowed once the run is over
    EXPECT_EQ(downloads.Count(), 0);
}
