// The main window's reading of a download's end: every failure code in the
// user's words, a finished item with and without its file, sizes. The lines
// themselves are read from the log by the download command tests.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QRegularExpression>
#include <gtest/gtest.h>

#include "app/DownloadOutcome.h"
#include "download/component/SongDownload.h"
#include "download/engine/TDlDownloads.h"
#include "tests/support/TempDir.h"

namespace {

using app::DownloadOutcome;

TEST(DownloadOutcome, EveryFailureCodeReadsInTheUsersWords) {
    struct Case {
        std::int32_t code;
        std::int32_t status;
        std::string message;
        QString reason;
    };
    const std::vector<Case> cases = {
        {2, 404, "File not found", QStringLiteral("服务器上没有这首歌（HTTP 404）")},
        {2, 410, "Gone", QStringLiteral("服务器上没有这首歌（HTTP 410）")},
        {2, 500, "Server error", QStringLiteral("服务器出错（HTTP 500）")},
        {2, 503, "Service unavailable", QStringLiteral("服务器出错（HTTP 503）")},
        {2, 429, "HTTP Error: 429", QStringLiteral("服务器忙，请求太多（HTTP 429）")},
        {2, 408, "Request timeout", QStringLiteral("服务器等待请求超时（HTTP 408）")},
        {2, 301, "Redirect without location", QStringLiteral("服务器要求转到别处，却没有给出新地址（HTTP 301）")},
        {2, 403, "Access forbidden", QStringLiteral("服务器拒绝了下载（HTTP 403）")},
        {2, 418, "HTTP Error: 418", QStringLiteral("服务器不接受这个请求（HTTP 418）")},
        {2, 499, "HTTP Error: 499", QStringLiteral("服务器不接受这个请求（HTTP 499）")},
        {2, 204, "HTTP Error: 204", QStringLiteral("服务器没有给出歌曲（HTTP 204）")},
        {2, 999, "HTTP Error: 999", QStringLiteral("服务器没有给出歌曲（HTTP 999）")},
        {2, 206, "HTTP Error: 206", QStringLiteral("服务器没能从断开的地方接着发送歌曲（HTTP 206）")},
        {2, 416, "HTTP Error: 416", QStringLiteral("服务器没能从断开的地方接着发送歌曲（HTTP 416）")},
        {2, 0, "Not connected", QStringLiteral("没有连接到网络")},
        {6, 0, "Stopped", QStringLiteral("下载被停止")},
        {8, 200, "Size limit", QStringLiteral("歌曲超过了大小限制")},
        {9, 200, "URL is olded", QStringLiteral("歌曲已经过期")},
        {10, 200, "Disk full", QStringLiteral("无法写入文件：磁盘已满")},
        {11, 200, "Write access denied", QStringLiteral("无法写入文件：没有写入权限")},
        {12, 200, "File name too long", QStringLiteral("无法写入文件：文件名太长")},
        {13, 200, "Invalid file name", QStringLiteral("无法写入文件：文件名不合法")},
        {14, 200, "File write error", QStringLiteral("无法写入文件")},
        {412, 200, "Precond failed", QStringLiteral("这个地址给出的不是歌曲（内容类型被拒绝）")},
        {12002, 0, "Timeout", QStringLiteral("服务器没有及时回答（超时）")},
        {12007, 0, "Name not resolved", QStringLiteral("找不到服务器的名字")},
        {12029, 0, "Cannot connect", QStringLiteral("无法连接到服务器")},
        {12030, 200, "Connection aborted", QStringLiteral("连接中断，歌曲没有下载完整")},
        {12031, 200, "Connection reset", QStringLiteral("连接被服务器重置")},
        {12045, 0, "Internet Error: 12045", QStringLiteral("服务器的证书不可信")},
        {12152, 0, "Internet Error: 12152", QStringLiteral("服务器的回答不是正常的网页回答")},
        {12156, 302, "Internet Error: 12156", QStringLiteral("服务器转向的次数太多")},
        {1, 0, "bad_alloc", QStringLiteral("程序内部出错")},
        {13000 + 77, 0, "Internet Error: 13077", QStringLiteral("网络出错（代码 13077）")},
        {12999, 0, "Internet Error: 12999", QStringLiteral("出错（代码 12999）")},
    };
    for (const Case& c : cases) {
        const QString reason = app::failureReason(c.code, c.status, c.message);
        EXPECT_EQ(reason, c.reason) << c.code << " " << c.status;
        // Chinese only, with the number once: no English beside "HTTP".
        EXPECT_FALSE(QString(reason).remove(QStringLiteral("HTTP")).contains(QRegularExpression("[A-Za-z]")))
            << reason.toStdString();
        if (c.status != 0) {
            EXPECT_LE(reason.count(QString::number(c.status)), 1) << reason.toStdString();
        }
    }
    // A server that asked to wait longer than the program waits says so.
    EXPECT_EQ(app::failureReason(2, 503, "Service unavailable", 120),
              QStringLiteral("服务器出错（HTTP 503），服务器要求 120 秒后再试，等待太久，没有再试"));
}

TEST(DownloadOutcome, AFinishedItemIsSavedOnlyWithItsFile) {
    testsupport::TempDir dir;
    const std::string song = dir.file("song.mp3"), page = dir.file("song.mp3.htm");
    std::ofstream(song, std::ios::binary) << std::string(3000, 's');
    std::ofstream(page, std::ios::binary) << "<html></html>";
    struct Case {
        const char* what;
        dl::TDlItemState state;
        std::int32_t code;
        std::string localFile;
        std::string contentType;
        std::size_t received;
        bool cancelled;
        DownloadOutcome::Kind kind;
        QString reason;
    };
    using K = DownloadOutcome::Kind;
    const std::vector<Case> cases = {
        {"saved", dl::dsFinished, 0, song, "audio/mpeg", 3000, false, K::Saved, {}},
        {"a page", dl::dsFinished, 0, page, "Text/HTML; charset=gbk", 13, false, K::SavedAsPage, {}},
        {"no file written", dl::dsFinished, 0, "", "audio/mpeg", 3000, false, K::Failed,
         QStringLiteral("无法写入文件")},
        {"a file named but gone", dl::dsFinished, 0, dir.file("gone.mp3"), "audio/mpeg", 3000, false, K::Failed,
         QStringLiteral("无法写入文件")},
        {"nothing came", dl::dsFinished, 0, "", "audio/mpeg", 0, false, K::Failed,
         QStringLiteral("服务器给出的内容是空的，没有保存文件")},
        {"failed", dl::dsFailed, 12029, "", "", 0, false, K::Failed, QStringLiteral("无法连接到服务器")},
        {"cancelled", dl::dsFailed, 6, "", "", 0, true, K::Cancelled, {}},
    };
    for (const Case& c : cases) {
        dl::TDlDownloads downloads;
        dl::TDlDownloadItem& item = downloads.AddItem();
        item.Request.URL = "http://127.0.0.1/song.mp3";
        item.Progress.State = c.state;
        item.Progress.ErrorCode = c.code;
        item.Request.LocalFileName = c.localFile;
        item.Progress.ContentType = c.contentType;
        const DownloadOutcome outcome = app::readOutcome(&item, c.cancelled, c.received);
        EXPECT_EQ(outcome.kind, c.kind) << c.what;
        EXPECT_EQ(outcome.reason, c.reason) << c.what;
        if (c.kind == K::Saved) {
            EXPECT_EQ(outcome.path.toStdString(), std::filesystem::path(song).string()) << c.what;
            EXPECT_EQ(outcome.size, 3000) << c.what;
        }
    }
    dl::TDlDownloads downloads;
    EXPECT_EQ(app::readOutcome(&downloads.AddItem(), false, 0).reason, QStringLiteral("没有选择歌曲，下载地址是空的"));
    EXPECT_EQ(app::readOutcome(nullptr, false, 0).kind, K::Failed);
}

// A song picked up where the line broke says how often, saved or failed.
TEST(DownloadOutcome, TheLineSaysHowOftenASongWasContinued) {
    using K = DownloadOutcome::Kind;
    struct Case {
        DownloadOutcome outcome;
        QString line;
    };
    const std::vector<Case> cases = {
        {{K::Saved, "/d/a.mp3", 2048, {}, 0}, QStringLiteral("下载完成：《a》已保存为 /d/a.mp3（2.0 KB）")},
        {{K::Saved, "/d/a.mp3", 2048, {}, 3},
         QStringLiteral("下载完成：《a》已保存为 /d/a.mp3（2.0 KB，断线后接着下载了 3 次）")},
        {{K::Failed, {}, 0, QStringLiteral("连接中断，歌曲没有下载完整"), 0},
         QStringLiteral("下载失败：《a》，连接中断，歌曲没有下载完整")},
        {{K::Failed, {}, 0, QStringLiteral("连接中断，歌曲没有下载完整"), 1},
         QStringLiteral("下载失败：《a》，连接中断，歌曲没有下载完整（断线后接着下载了 1 次）")},
    };
    for (const Case& c : cases) EXPECT_EQ(app::outcomeLogLine(QStringLiteral("a"), c.outcome), c.line);
}

// What a song's line adds: continued, tried again, and the bytes kept for
// the next download of it; a Cancel says what it kept or what page it saved.
TEST(DownloadOutcome, TheLineSaysWhatWasTriedAgainAndWhatWasKept) {
    using K = DownloadOutcome::Kind;
    const QString reason = QStringLiteral("服务器出错（HTTP 503）");
    struct Case {
        DownloadOutcome outcome;
        QString line;
    };
    const std::vector<Case> cases = {
        {{K::Saved, "/d/a.mp3", 2048, {}, 1, 2, 0},
         QStringLiteral("下载完成：《a》已保存为 /d/a.mp3（2.0 KB，断线后接着下载了 1 次，服务器忙，重试了 2 次）")},
        {{K::SavedAsPage, "/d/a.mp3.htm", 80, {}, 0, 1, 0},
         QStringLiteral("下载的不是歌曲：《a》的地址给出的是一个网页，已保存为网页 /d/a.mp3.htm（服务器忙，重试了 1 次）")},
        {{K::Failed, {}, 0, reason, 0, 3, 0}, QStringLiteral("下载失败：《a》，服务器出错（HTTP 503）（服务器忙，重试了 3 次）")},
        {{K::Failed, {}, 0, reason, 1, 3, 307200},
         QStringLiteral("下载失败：《a》，服务器出错（HTTP 503）（断线后接着下载了 1 次，服务器忙，重试了 3 次，"
                        "已下载的 300.0 KB 保留了下来，下次下载这首歌会接着下载）")},
        {{K::Cancelled, {}, 0, {}, 0, 0, 0}, QStringLiteral("已取消下载：《a》，没有保存文件")},
        {{K::Cancelled, {}, 0, {}, 0, 0, 1572864},
         QStringLiteral("已取消下载：《a》，已下载的 1.50 MB 保留了下来，下次下载这首歌会接着下载")},
        {{K::Cancelled, "/d/a.mp3.htm", 80, {}, 0, 0, 0},
         QStringLiteral("已取消下载：《a》，地址给出的是一个网页，已保存为网页 /d/a.mp3.htm，网页用到的其他文件没有全部下载")},
    };
    for (const Case& c : cases) EXPECT_EQ(app::outcomeLogLine(QStringLiteral("a"), c.outcome), c.line);
}

// The queue's result reads as the component's item does: a stop is a
// Cancel, with what it kept or the page it saved.
TEST(DownloadOutcome, ASongsResultReadsAsItsItemDoes) {
    testsupport::TempDir dir;
    const std::string page = dir.file("a.mp3.htm");
    std::ofstream(page, std::ios::binary) << "<html></html>";
    using K = DownloadOutcome::Kind;
    dl::TransferOutcome stoppedKept;
    stoppedKept.state = dl::dsFailed;
    stoppedKept.failure = dl::FailureClass::UserStopped;
    stoppedKept.url = "http://h/a.mp3";
    stoppedKept.errorCode = 6;
    stoppedKept.kept = true;
    stoppedKept.keptBytes = 4096;
    dl::TransferOutcome stoppedPage = stoppedKept;
    stoppedPage.kept = false;
    stoppedPage.keptBytes = 0;
    stoppedPage.errorCode = 0;
    stoppedPage.filePath = page;
    stoppedPage.savedAsPage = true;
    dl::TransferOutcome refused;
    refused.state = dl::dsFailed;
    refused.url = "http://h/a.mp3";
    refused.errorCode = 2;
    refused.statusCode = 503;
    refused.refusedRetryAfter = 3600;
    refused.retries = 0;

    DownloadOutcome outcome = app::readOutcome(stoppedKept);
    EXPECT_EQ(outcome.kind, K::Cancelled);
    EXPECT_EQ(outcome.kept, 4096);
    EXPECT_TRUE(outcome.path.isEmpty());
    outcome = app::readOutcome(stoppedPage);
    EXPECT_EQ(outcome.kind, K::Cancelled);
    EXPECT_EQ(outcome.path.toStdString(), std::filesystem::path(page).string());
    outcome = app::readOutcome(refused);
    EXPECT_EQ(outcome.kind, K::Failed);
    EXPECT_EQ(outcome.reason, QStringLiteral("服务器出错（HTTP 503），服务器要求 3600 秒后再试，等待太久，没有再试"));
}

// Each further request is counted once, by why it was made, in words a user
// reads without the docs; a song that went on from kept bytes says from
// whose, and that first answer is no dropped line's.
TEST(DownloadOutcome, TheLineCountsEachKindOfRequestAgainApart) {
    testsupport::TempDir dir;
    const std::string song = dir.file("a.mp3");
    std::ofstream(song, std::ios::binary) << std::string(2048, 's');
    using Retry = dl::TransferOutcome::Retry;
    using KeptFrom = dl::TransferOutcome::KeptFrom;
    const Retry rest{Retry::Kind::RestOfBrokenLine, 0, 0};
    const Retry busy{Retry::Kind::WholeAgain, 2, 503};
    const Retry dropped{Retry::Kind::WholeAgain, 12030, 0};
    const Retry changed{Retry::Kind::WholeAgain, 2, 206};
    struct Case {
        const char* what;
        std::vector<Retry> retries;
        int continuations;
        KeptFrom keptFrom;
        std::int32_t errorCode;  // 0: saved
        std::int32_t statusCode;
        const char* notes;       // what the line ends with
    };
    const std::vector<Case> cases = {
        {"nothing again", {}, 0, KeptFrom::None, 0, 0, "（2.0 KB）"},
        {"one line dropped, the rest asked once", {rest}, 1, KeptFrom::None, 0, 0, "（2.0 KB，断线后接着下载了 1 次）"},
        {"after a restart", {}, 1, KeptFrom::EarlierProgram, 0, 0, "（2.0 KB，程序重新启动后接着下载）"},
        {"after 停止 and 重新下载", {}, 1, KeptFrom::ThisProgram, 0, 0, "（2.0 KB，接着之前下载的部分下载）"},
        {"after a restart, then a dropped line", {rest}, 2, KeptFrom::EarlierProgram, 0, 0,
         "（2.0 KB，程序重新启动后接着下载，断线后接着下载了 1 次）"},
        {"a busy server twice", {busy, busy}, 0, KeptFrom::None, 0, 0, "（2.0 KB，服务器忙，重试了 2 次）"},
        {"a dropped line whose rest the busy server sent later", {rest, busy}, 1, KeptFrom::None, 0, 0,
         "（2.0 KB，断线后接着下载了 1 次，服务器忙，重试了 1 次）"},
        {"a dropped line where no rest is sent", {dropped}, 0, KeptFrom::None, 0, 0, "（2.0 KB，断线后又试了 1 次）"},
        {"the server's file changed", {changed}, 0, KeptFrom::None, 0, 0,
         "（2.0 KB，服务器上的文件变了，从头重新下载了 1 次）"},
        {"kept bytes whose first request failed", {}, 0, KeptFrom::EarlierProgram, 2, 404, "（HTTP 404）"},
        {"the rest refused", {rest}, 0, KeptFrom::None, 2, 416, "（HTTP 416）（断线后又试了 1 次）"},
    };
    for (const Case& c : cases) {
        dl::TransferOutcome result;
        result.ran = true;
        result.url = "http://h/a.mp3";
        result.state = c.errorCode == 0 ? dl::dsFinished : dl::dsFailed;
        result.errorCode = c.errorCode;
        result.statusCode = c.statusCode;
        if (c.errorCode == 0) result.filePath = song;
        result.retryReasons = c.retries;
        result.retries = static_cast<std::int32_t>(c.retries.size());
        result.continuations = c.continuations;
        result.keptFrom = c.keptFrom;
        result.fromKept = c.keptFrom != KeptFrom::None;
        const QString line = app::outcomeLogLine(QStringLiteral("a"), app::readOutcome(result));
        EXPECT_TRUE(line.endsWith(QString::fromUtf8(c.notes))) << c.what << ": " << line.toStdString();
    }
}

// Songs and the web pages saved in their place are counted apart.
TEST(DownloadOutcome, TheBatchLineCountsSongsAndPagesApart) {
    const std::vector<std::pair<std::vector<int>, QString>> cases = {
        {{2, 0, 1, 0}, QStringLiteral("批量下载结束：保存了 2 首，失败 1 首。")},
        {{2, 1, 3, 0}, QStringLiteral("批量下载结束：保存了 2 首和 1 个网页，失败 3 首。")},
        {{0, 2, 0, 0}, QStringLiteral("批量下载结束：保存了 0 首和 2 个网页，失败 0 首。")},
        {{1, 0, 0, 4}, QStringLiteral("批量下载结束：保存了 1 首，失败 0 首，取消后还有 4 首没有下载。")},
    };
    for (const auto& [n, line] : cases) EXPECT_EQ(app::batchSummaryLine(n[0], n[1], n[2], n[3]), line);
}

TEST(DownloadOutcome, SizesForPeople) {
    const std::vector<std::pair<std::int64_t, QString>> sizes = {
        {0, QStringLiteral("0 字节")},          {1023, QStringLiteral("1023 字节")},
        {1024, QStringLiteral("1.0 KB")},        {17280, QStringLiteral("16.9 KB")},
        {1048524, QStringLiteral("1023.9 KB")}, {1048525, QStringLiteral("1.00 MB")},  {1048576, QStringLiteral("1.00 MB")},
        {5368709120, QStringLiteral("5120.00 MB")}};
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(app::readableSize(bytes), text) << bytes;
}

}  // namespace
