// The one result of a download as the run gives it: the class of each
// failure, what the collection keeps of each item's end, and the second
// listener beside the collection's own handlers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/engine/TransferOutcome.h"
#include "download/texts/DownloadErrors.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/ScriptedTcpServer.h"

using dl::FailureClass;
using dltest::answer;
using dltest::httpResponse;
using dltest::localUrl;
using dltest::OneItemRun;
using dltest::refusedPort;
using testsupport::ScriptedTcpServer;

TEST(Outcome, EachFailureHasItsClass) {
    struct Case {
        std::int32_t code, status;
        FailureClass want;
    };
    const std::vector<Case> cases = {
        {dl::kErrNone, 200, FailureClass::None},
        {dl::kErrServerRefused, 404, FailureClass::LinkDead},
        {dl::kErrServerRefused, 410, FailureClass::LinkDead},
        {dl::kErrInvalidUrl, 0, FailureClass::LinkDead},
        {dl::kErrUnrecognizedScheme, 0, FailureClass::LinkDead},
        {dl::kErrServerRefused, 0, FailureClass::HostUnreachable},  // not connected
        {dl::kErrNameNotResolved, 0, FailureClass::HostUnreachable},
        {dl::kErrCannotConnect, 0, FailureClass::HostUnreachable},
        {dl::kErrServerRefused, 503, FailureClass::ServerFailing},
        {dl::kErrServerRefused, 429, FailureClass::ServerFailing},
        {dl::kErrServerRefused, 408, FailureClass::ServerFailing},
        {dl::kErrTimeout, 200, FailureClass::ServerFailing},
        {dl::kErrConnectionReset, 200, FailureClass::ServerFailing},
        {dl::kErrConnectionAborted, 200, FailureClass::ServerFailing},
        {dl::kErrServerRefused, 403, FailureClass::NotWhatWasAsked},
        {dl::kErrServerRefused, 416, FailureClass::NotWhatWasAsked},
        {dl::kErrServerRefused, 206, FailureClass::NotWhatWasAsked},  // a range that does not continue the bytes
        {dl::kErrSizeLimit, 200, FailureClass::NotWhatWasAsked},
        {dl::kErrTooOld, 200, FailureClass::NotWhatWasAsked},
        {dl::kErrPrecondFailed, 200, FailureClass::NotWhatWasAsked},
        {dl::kErrDiskFull, 200, FailureClass::DiskFailed},
        {dl::kErrWriteAccessDenied, 200, FailureClass::DiskFailed},
        {dl::kErrFileNameTooLong, 200, FailureClass::DiskFailed},
        {dl::kErrInvalidFileName, 200, FailureClass::DiskFailed},
        {dl::kErrFileWriteError, 200, FailureClass::DiskFailed},
        {dl::kErrNotAudio, 200, FailureClass::NotAudio},
        {dl::kErrStopped, 200, FailureClass::UserStopped},
        {dl::kErrOperationCancelled, 0, FailureClass::UserStopped},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dl::ClassOfFailure(c.code, c.status), c.want) << c.code << " " << c.status;
}

// Over the wire: the run keeps each item's outcome, with its class, its
// bytes and its length, for whoever reads it after the run.
TEST(Outcome, TheRunKeepsWhatBecameOfEachItem) {
    {
        ScriptedTcpServer server(answer(httpResponse("200 OK", "", "0123456789")));
        OneItemRun run(localUrl(server.port(), "/a.mp3"));
        ASSERT_TRUE(run.run());
        const auto outcome = run.downloads.OutcomeOf(run.item);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->end(), dl::TransferOutcome::End::Finished);
        EXPECT_EQ(outcome->received, 10u);
        EXPECT_EQ(outcome->total, 10u);
        EXPECT_EQ(outcome->statusCode, 200);
        EXPECT_EQ(outcome->url, run.item.Request.URL);
    }
    {
        ScriptedTcpServer server(answer(httpResponse("404 Not Found", "", "gone")));
        OneItemRun run(localUrl(server.port(), "/a.mp3"));
        run.downloads.Attempts.maxFurther = 0;
        ASSERT_TRUE(run.run());
        const auto outcome = run.downloads.OutcomeOf(run.item);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->end(), dl::TransferOutcome::End::Failed);
        EXPECT_EQ(outcome->failure, FailureClass::LinkDead);
        EXPECT_EQ(outcome->message, run.item.Progress.ErrorMessage);
    }
    {
        OneItemRun run(localUrl(refusedPort(), "/a.mp3"));
        run.downloads.Attempts.maxFurther = 0;
        ASSERT_TRUE(run.run());
        const auto outcome = run.downloads.OutcomeOf(run.item);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->failure, FailureClass::HostUnreachable) << outcome->errorCode;
    }
    // An item that never ran has none.
    dl::TDlDownloads downloads;
    dl::TDlDownloadItem& idle = downloads.AddItem();
    EXPECT_FALSE(downloads.OutcomeOf(idle));
}

// The second listener hears each report after the collection's own handler
// and the run's end before its own end handler, and neither replaces nor
// silences them.
TEST(Outcome, AWatcherListensBesideTheHandlers) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "0123456789")));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    std::vector<std::string> heard;
    run.recorder.onItem = [&](dl::TDlDownloadItem&) { heard.push_back("handler"); };
    run.downloads.WatchItemProgress = [&](dl::TDlDownloadItem&) { heard.push_back("watcher"); };
    run.downloads.WatchAllDone = [&](dl::TDlDownloads& downloads) {
        heard.push_back(run.recorder.allDone() == 0 ? "watcher end first" : "watcher end late");
        EXPECT_EQ(&downloads, &run.downloads);
    };
    ASSERT_TRUE(run.run());
    ASSERT_GE(heard.size(), 5u);  // start, after the head, the end, and the run's end
    for (std::size_t i = 0; i + 1 < heard.size(); i += 2) {
        EXPECT_EQ(heard[i], "handler") << i;
        EXPECT_EQ(heard[i + 1], "watcher") << i;
    }
    EXPECT_EQ(heard.back(), "watcher end first");
    EXPECT_EQ(run.recorder.allDone(), 1);
    EXPECT_EQ(run.recorder.reports().size(), (heard.size() - 1) / 2);
}
