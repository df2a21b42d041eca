// The transfer of one item on its own, with a context of the test's making
// in place of a run: what it reports and counts, what it gives back, and that
// it needs nothing else of a collection.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/ItemTransfer.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/engine/TransferContext.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/ScriptedTcpServer.h"

using dltest::answer;
using dltest::httpResponse;
using dltest::localUrl;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;

namespace {

// Runs on the transfer's own thread: no UI, no collection.
class RecordingContext : public dl::TransferContext {
public:
    void Report(dl::TDlDownloadItem&, dl::ItemReport report) override { reports.push_back(report); }
    bool IsStopping() const override { return stopping; }
    void CountTraffic(std::uint32_t, std::int64_t bytes) override { counted += bytes; }
    void SweepFolderOnce(const std::string& folder, const dl::AskedDownload*) override { swept.push_back(folder); }
    std::optional<std::chrono::milliseconds> FurtherAttempt() override { return std::chrono::milliseconds(1); }
    void LeaveQueue(dl::TDlDownloadItem&) override { ++left; }

    bool stopping = false;
    std::vector<dl::ItemReport> reports;
    std::int64_t counted = 0;
    std::vector<std::string> swept;
    int left = 0;
};

}  // namespace

TEST(TransferContext, OneTransferReportsCountsAndGivesItsOutcomeBack) {
    using dl::ItemReport;
    struct Case {
        const char* name;
        std::string response;
        bool stopping;
        std::vector<ItemReport> reports;
        dl::TDlItemState state;
        std::int32_t code;
        std::int32_t status;
        std::int64_t counted;
    };
    const std::string song = "ID3 pretend song bytes";
    const Case cases[] = {
        {"a song", httpResponse("200 OK", "Content-Type: audio/mpeg\r\n", song), false,
         {ItemReport::Start, ItemReport::AfterHeaders, ItemReport::Reading}, dl::dsFinished, 0, 200, static_cast<std::int64_t>(song.size())},
        {"not found", httpResponse("404 Not Found", "", "gone"), false, {ItemReport::Start}, dl::dsFailed,
         dl::kErrServerRefused, 404, 0},
        {"a run already stopping", httpResponse("200 OK", "", song), true, {ItemReport::Start}, dl::dsFailed,
         dl::kErrStopped, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedTcpServer server(answer(c.response));
        dl::TDlDownloadItem item;
        item.Request.URL = localUrl(server.port(), "/song.mp3");
        RecordingContext context;
        context.stopping = c.stopping;
        const dl::TransferOutcome outcome = dl::Transfer(item, context);
        EXPECT_TRUE(outcome.ran);
        EXPECT_EQ(outcome.stopped, c.stopping);
        EXPECT_EQ(outcome.state, c.state);
        EXPECT_EQ(outcome.errorCode, c.code);
        EXPECT_EQ(outcome.statusCode, c.status);
        EXPECT_FALSE(outcome.kept);
        // The item holds the same; the end report and leaving the queue are
        // its download thread's, not the transfer's.
        EXPECT_EQ(item.Progress.State.load(), c.state);
        EXPECT_EQ(item.Progress.ErrorCode, c.code);
        EXPECT_EQ(item.Progress.Percent.load(), 100);
        EXPECT_EQ(context.reports, c.reports);
        EXPECT_EQ(context.counted, c.counted);
        EXPECT_EQ(context.left, 0);
        if (c.state == dl::dsFinished) {
            EXPECT_EQ(std::string(item.Progress.Data.View()), song);
        }
        // Its handles are closed when it ends.
        EXPECT_EQ(item.InternetHandle(), nullptr);
        EXPECT_EQ(item.ConnectionHandle(), nullptr);
    }
}

TEST(TransferContext, AnItemThatIsNotWaitingIsLeftAlone) {
    dl::TDlDownloadItem item;
    item.Request.URL = "http://127.0.0.1:1/song.mp3";
    item.Progress.State = dl::dsFinished;
    RecordingContext context;
    const dl::TransferOutcome outcome = dl::Transfer(item, context);
    EXPECT_FALSE(outcome.ran);
    EXPECT_TRUE(context.reports.empty());
    EXPECT_EQ(item.Progress.State.load(), dl::dsFinished);
}
