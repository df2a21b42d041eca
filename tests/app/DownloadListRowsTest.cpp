// The downloads list's rows without a window: the speed and time left from
// a moving window of the bytes received, the texts of the cells, and the
// coalescing that repaints a row at most four times a second however often
// its download reports.
#include <cstdint>
#include <optional>
#include <vector>

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "app/DownloadListModel.h"
#include "app/ReceivedRate.h"

using app::DownloadListModel;
using app::ReceivedRate;
using store::ListEntry;
using store::ListState;

namespace {

struct Report {
    std::int64_t ms;
    std::int64_t received;
};

ListEntry song(std::int64_t id, ListState state, std::int64_t received = 0, std::int64_t total = 0) {
    ListEntry e;
    e.id = id;
    e.title = "歌 " + std::to_string(id);
    e.state = state;
    e.received = received;
    e.total = total;
    e.path = "/d/歌 " + std::to_string(id) + ".mp3";
    return e;
}

}  // namespace

TEST(ReceivedRate, SpeedAndTimeLeftFollowTheLastFiveSeconds) {
    struct Case {
        const char* what;
        std::vector<Report> reports;
        std::int64_t total;
        std::optional<double> speed;
        std::optional<std::int64_t> left;
    };
    const std::vector<Case> cases = {
        {"nothing yet", {}, 1000, std::nullopt, std::nullopt},
        {"too short a span to tell", {{0, 0}, {400, 4000}}, 10000, std::nullopt, std::nullopt},
        {"steady 10 kB/s", {{0, 0}, {1000, 10000}, {2000, 20000}}, 100000, 10000.0, 8},
        {"time left rounds up", {{0, 0}, {1000, 3000}}, 10000, 3000.0, 3},
        {"no total, no time left", {{0, 0}, {1000, 5000}}, 0, 5000.0, std::nullopt},
        {"all there", {{0, 0}, {1000, 5000}}, 5000, 5000.0, 0},
        {"stalled: no speed, no time left", {{0, 5000}, {1000, 5000}, {2000, 5000}}, 9000, 0.0, std::nullopt},
        // Fast for ten seconds, then slow for five: only the slow part counts.
        {"a slower line shows within the window",
         {{0, 0}, {5000, 5000000}, {10000, 10000000}, {11000, 10001000}, {12000, 10002000}, {13000, 10003000},
          {14000, 10004000}, {15000, 10005000}},
         10015000, 1000.0, 10},
        {"a song that starts over starts the window over", {{0, 0}, {1000, 90000}, {2000, 1000}, {3000, 3000}}, 0,
         2000.0, std::nullopt},
    };
    for (const Case& c : cases) {
        ReceivedRate rate;
        for (const Report& r : c.reports) rate.add(r.ms, r.received);
        const std::optional<double> speed = rate.bytesPerSecond();
        ASSERT_EQ(speed.has_value(), c.speed.has_value()) << c.what;
        if (speed) {
            EXPECT_NEAR(*speed, *c.speed, *c.speed * 0.06 + 1) << c.what;
        }
        EXPECT_EQ(rate.secondsLeft(c.total), c.left) << c.what;
    }
}

TEST(ReceivedRate, ManyReportsKeepABoundedWindow) {
    ReceivedRate rate;
    // 100 reports a second for a minute at 1 MB/s.
    for (std::int64_t ms = 0; ms <= 60000; ms += 10) rate.add(ms, ms * 1000);
    ASSERT_TRUE(rate.bytesPerSecond());
    EXPECT_NEAR(*rate.bytesPerSecond(), 1e6, 1e3);
}

TEST(DownloadListModel, CellTexts) {
    struct Case {
        ListEntry entry;
        const char* state;
        const char* progress;
        const char* size;
    };
    ListEntry failed = song(3, ListState::Failed, 512, 2048);
    failed.reason = "无法连接到服务器";
    ListEntry page = song(7, ListState::Finished, 213, 213);
    page.reason = "地址给出的是网页";
    const std::vector<Case> cases = {
        {song(1, ListState::Waiting), "等待", "", ""},
        {song(2, ListState::Downloading, 1536, 2048), "正在下载", "75%", "1.5 KB / 2.0 KB"},
        {song(2, ListState::Downloading, 3 << 20, 0), "正在下载", "", "3.00 MB"},
        {song(4, ListState::Finished, 4096, 4096), "已完成", "100%", "4.0 KB"},
        {failed, "失败：无法连接到服务器", "25%", "512 字节 / 2.0 KB"},
        {song(5, ListState::Failed), "失败", "", "0 字节"},
        {song(8, ListState::Failed, 0, 2048), "失败", "0%", "0 字节 / 2.0 KB"},
        {song(9, ListState::Stopped), "已停止", "", "0 字节"},
        {song(6, ListState::Stopped, 100, 400), "已停止", "25%", "100 字节 / 400 字节"},
        {page, "已完成：地址给出的是网页", "100%", "213 字节"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DownloadListModel::stateText(c.entry), QString::fromUtf8(c.state));
        EXPECT_EQ(DownloadListModel::progressText(c.entry), QString::fromUtf8(c.progress)) << c.state;
        EXPECT_EQ(DownloadListModel::sizeText(c.entry), QString::fromUtf8(c.size)) << c.state;
    }
    EXPECT_EQ(DownloadListModel::durationText(0), "0:00");
    EXPECT_EQ(DownloadListModel::durationText(42), "0:42");
    EXPECT_EQ(DownloadListModel::durationText(725), "12:05");
    EXPECT_EQ(DownloadListModel::durationText(3723), "1:02:03");
}

// A running row's speed and time left come from the bytes of this
// transfer's reports, over the last five seconds, on the model's clock:
// "—" until two reports half a second apart tell them.
TEST(DownloadListModel, SpeedAndTimeLeftOfARunningRow) {
    struct Case {
        const char* what;
        std::vector<Report> reports;  // every other quarter second only flushes
        std::int64_t untilMs;
        std::int64_t total;
        const char* speed;
        const char* left;
    };
    // 10 000 bytes a second, reported every quarter second from `fromMs` to `toMs`.
    const auto steady = [](std::int64_t fromMs, std::int64_t toMs, std::int64_t base) {
        std::vector<Report> reports;
        for (std::int64_t ms = fromMs; ms <= toMs; ms += 250) reports.push_back({ms, base + (ms - fromMs) * 10});
        return reports;
    };
    const auto joined = [](std::vector<Report> a, const std::vector<Report>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<Case> cases = {
        {"no report yet", {}, 2000, 100000, "—", "—"},
        {"one report", {{500, 4000}}, 800, 100000, "—", "—"},
        {"the first report holds kept bytes: it is the base", steady(250, 3250, 4 << 20), 3250, (4 << 20) + 40000,
         "9.8 KB/s", "0:01"},
        {"steady", steady(0, 3000, 0), 3000, 100000, "9.8 KB/s", "0:07"},
        // 20 000 bytes in 2 s, a pause of 2 s, 10 000 in the last second.
        {"a pause within the window", joined(steady(0, 2000, 0), steady(4000, 5000, 20000)), 5000, 100000,
         "5.9 KB/s", "0:12"},
        {"a stall longer than the window", steady(0, 2000, 0), 8000, 100000, "0 字节/s", "—"},
        {"no length: no time left", steady(0, 2000, 0), 2000, 0, "9.8 KB/s", "—"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::int64_t now = 0;
        DownloadListModel model;
        model.setClock([&now] { return now; });
        // The row held bytes before this transfer began.
        model.setEntries({song(1, ListState::Waiting, 3 << 20, c.total)});
        model.update(song(1, ListState::Downloading, 3 << 20, c.total));
        std::size_t next = 0;
        for (now = 0; now <= c.untilMs; now += 250) {
            if (next < c.reports.size() && c.reports[next].ms == now)
                model.setProgress(1, c.reports[next++].received, c.total);
            model.flush();
        }
        EXPECT_EQ(model.data(model.index(0, DownloadListModel::SpeedColumn)).toString(), QString::fromUtf8(c.speed));
        EXPECT_EQ(model.data(model.index(0, DownloadListModel::TimeLeftColumn)).toString(), QString::fromUtf8(c.left));
    }
    // An ended row shows neither.
    DownloadListModel model;
    model.setEntries({song(1, ListState::Failed, 0, 100)});
    EXPECT_EQ(model.data(model.index(0, DownloadListModel::SpeedColumn)).toString(), QString());
}

TEST(DownloadListModel, RowsAreFoundByIdAfterRemovals) {
    DownloadListModel model;
    std::vector<ListEntry> entries;
    for (int id = 1; id <= 8; ++id) entries.push_back(song(id, ListState::Finished));
    model.setEntries(entries);
    model.removeIds({2, 3, 7, 99});
    ASSERT_EQ(model.rowCount(), 5);
    const std::vector<std::int64_t> left = {1, 4, 5, 6, 8};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(model.entry(row).id, left[static_cast<std::size_t>(row)]);
        EXPECT_EQ(model.rowOf(left[static_cast<std::size_t>(row)]), row);
    }
    EXPECT_EQ(model.rowOf(2), -1);
    EXPECT_EQ(model.append(song(9, ListState::Waiting)), 5);
    EXPECT_EQ(model.rowOf(9), 5);
}

// A row's run stays with its own row when rows before it go, outlives a
// change of what is kept of it, and all runs but the trust end at once.
TEST(DownloadListModel, ARowsRunGoesWithItsRow) {
    DownloadListModel model;
    model.setEntries({song(1, ListState::Waiting), song(2, ListState::Waiting), song(3, ListState::Waiting)});
    model.runOf(2)->stopping = true;
    model.runOf(3)->inDownloader = true;
    model.runOf(3)->restartWanted = true;
    model.runOf(3)->trusted = false;
    model.removeIds({1});
    EXPECT_EQ(model.runOf(1), nullptr);
    model.update(song(2, ListState::Stopped));
    ASSERT_NE(model.runOf(2), nullptr);
    EXPECT_TRUE(model.runOf(2)->stopping);
    EXPECT_FALSE(model.runOf(2)->inDownloader);
    EXPECT_TRUE(model.runOf(3)->inDownloader);
    EXPECT_TRUE(model.runOf(3)->restartWanted);
    EXPECT_EQ(model.append(song(4, ListState::Waiting)), 2);
    EXPECT_TRUE(model.runOf(4)->trusted);
    EXPECT_FALSE(model.runOf(4)->stopping);

    model.endRuns();
    for (std::int64_t id : {2, 3, 4}) {
        const DownloadListModel::RowRun& run = *model.runOf(id);
        EXPECT_FALSE(run.inDownloader || run.stopping || run.restartWanted) << id;
    }
    EXPECT_TRUE(model.runOf(2)->trusted);
    EXPECT_FALSE(model.runOf(3)->trusted);
}

// Reports come in bursts far faster than the eye; the row is repainted at
// its first report, then at most once a quarter second, and its last state
// is always painted in the end.
TEST(DownloadListModel, ARowIsRepaintedAtMostFourTimesASecond) {
    struct Case {
        const char* what;
        int reportEveryMs;
        int forMs;
        int flushEveryMs;
    };
    const std::vector<Case> cases = {
        {"a report every millisecond for 2 s", 1, 2000, 50},
        {"a report every 10 ms for 10 s", 10, 10000, 50},
        {"reports slower than the refresh", 400, 4000, 50},
        {"flushes more often than reports", 100, 1000, 1},
    };
    for (const Case& c : cases) {
        std::int64_t now = 0;
        DownloadListModel model;
        model.setClock([&now] { return now; });
        model.setEntries({song(1, ListState::Downloading), song(2, ListState::Waiting)});
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        std::vector<std::int64_t> paints;  // when row 0 was repainted
        QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex&) {
            if (from.row() == 0) paints.push_back(now);
        });
        std::int64_t received = 0;
        for (now = 0; now <= c.forMs; ++now) {
            if (now % c.reportEveryMs == 0) model.setProgress(1, received += 1000, 100000000);
            if (now % c.flushEveryMs == 0) model.flush();
        }
        // After the burst, flushes alone paint the last state (and the
        // speed falling as nothing more comes).
        for (int i = 0; i < 20; ++i, now += 50) model.flush();
        EXPECT_LE(static_cast<int>(paints.size()), (c.forMs + 1000) / DownloadListModel::kRefreshMs + 1) << c.what;
        EXPECT_EQ(model.refreshes(0), static_cast<int>(paints.size())) << c.what;
        for (std::size_t i = 1; i < paints.size(); ++i)
            EXPECT_GE(paints[i] - paints[i - 1], DownloadListModel::kRefreshMs) << c.what;
        EXPECT_EQ(model.entry(0).received, received) << c.what;
        ASSERT_FALSE(paints.empty()) << c.what;
        EXPECT_GE(paints.back(), c.forMs - c.forMs % c.reportEveryMs) << c.what << ": the last report is painted";
        EXPECT_EQ(model.refreshes(1), 0) << c.what << ": a row without reports is left alone";
    }
}

// A state change waits for the row's turn too, but no longer than that.
TEST(DownloadListModel, AnEndRightAfterAProgressPaintIsPaintedAtTheNextTurn) {
    std::int64_t now = 1000;
    DownloadListModel model;
    model.setClock([&now] { return now; });
    model.setEntries({song(1, ListState::Downloading)});
    model.setProgress(1, 10, 100);
    model.flush();
    EXPECT_EQ(model.refreshes(0), 1);
    now += 10;
    model.update(song(1, ListState::Finished, 100, 100));
    model.flush();
    EXPECT_EQ(model.refreshes(0), 1);
    now += DownloadListModel::kRefreshMs;
    model.flush();
    EXPECT_EQ(model.refreshes(0), 2);
    EXPECT_EQ(model.data(model.index(0, DownloadListModel::StateColumn)).toString(), QStringLiteral("已完成"));
    EXPECT_EQ(model.data(model.index(0, DownloadListModel::SpeedColumn)).toString(), QString());
}
