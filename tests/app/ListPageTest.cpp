// The downloads list's page as a user works it, against a downloader that
// only records what it is asked and reports what the test tells it: sorting
// by a column while the commands act on the rows shown and the queue keeps
// its order, 全部开始 / 全部停止 / 清除已完成, Delete selecting the next row,
// the totals and the tab's text, the bars in 进度, and the running rows
// kept in view.
#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "app/DownloadList.h"
#include "app/DownloadListView.h"
#include "app/DownloadOutcome.h"
#include "app/ListTotals.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingDownloader.h"

namespace fs = std::filesystem;
using app::DownloadList;
using app::DownloadListModel;
using app::DownloadListView;
using app::DownloadOutcome;
using app::ListTotals;
using apptest::RecordingDownloader;
using store::ListState;

namespace {

DownloadOutcome ended(DownloadOutcome::Kind kind, const std::string& path = {}) {
    DownloadOutcome o;
    o.kind = kind;
    o.path = QString::fromStdString(path);
    o.size = 1000;
    if (kind == DownloadOutcome::Kind::Failed) o.reason = QStringLiteral("服务器上没有这首歌（HTTP 404）");
    return o;
}

class ListPage : public ::testing::Test {
protected:
    ListPage() {
        apptest::app();
        auto downloader = std::make_unique<RecordingDownloader>();
        downloader_ = downloader.get();
        list_ = std::make_unique<DownloadList>(file_.path, "downmp3/", std::move(downloader), [](const QString&) {});
        list_->start();
        // Each look at the clock is a second later: every row's turn to be
        // redrawn has come whenever the test asks.
        list_->model().setClock([this] { return clockMs_ += 1000; });
        view_ = std::make_unique<DownloadListView>(*list_);
        view_->resize(592, 220);
        view_->show();
        QObject::connect(view_.get(), &DownloadListView::tabTextChanged, [this](const QString& t) { tab_ = t; });
    }
    ~ListPage() override {
        view_.reset();
        list_.reset();
    }
    void add(const std::vector<std::string>& titles) {
        QList<DownloadList::Song> songs;
        for (const std::string& t : titles)
            songs.append({QString::fromStdString(t), QStringLiteral("http://h/") + QString::fromStdString(t) + ".mp3"});
        list_->add(songs);
    }
    DownloadListModel& model() { return list_->model(); }
    std::int64_t idOf(const std::string& title) {
        for (int row = 0; row < model().rowCount(); ++row)
            if (model().entry(row).title == title) return model().entry(row).id;
        return 0;
    }
    ListState stateOf(const std::string& title) { return model().find(idOf(title))->state; }
    // The titles as the page shows them, top to bottom.
    std::vector<std::string> shown() {
        std::vector<std::string> titles;
        for (int row = 0; row < view_->model()->rowCount(); ++row)
            titles.push_back(model().entry(view_->sourceRow(row)).title);
        return titles;
    }
    std::vector<std::string> selectedTitles() {
        std::vector<std::string> titles;
        for (int row : view_->selectedRows()) titles.push_back(model().entry(view_->sourceRow(row)).title);
        return titles;
    }
    void clickTitle(int column) {
        QHeaderView* header = view_->horizontalHeader();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, header->height() / 2));
    }
    void selectShown(const std::vector<int>& rows) {
        view_->clearSelection();
        for (int row : rows)
            view_->selectionModel()->select(view_->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (!rows.empty())
            view_->selectionModel()->setCurrentIndex(view_->model()->index(rows.front(), 0),
                                                     QItemSelectionModel::NoUpdate);
    }
    void run(const std::string& title, std::int64_t received = 0, std::int64_t total = 0) {
        downloader_->reports_.started(idOf(title));
        if (total > 0) downloader_->reports_.progress(idOf(title), received, total);
    }
    void end(const std::string& title, DownloadOutcome::Kind kind) {
        const std::string path = fs::absolute(work_.downloads() / (title + ".mp3")).lexically_normal().string();
        downloader_->reports_.ended(idOf(title), ended(kind, path), 0, 0);
    }
    // The rows are redrawn, and the page has taken in what changed.
    void settle() {
        model().flush();
        apptest::pumpFor(20);
    }

    apptest::StoreFile file_;
    apptest::WorkDir work_;
    RecordingDownloader* downloader_ = nullptr;
    std::unique_ptr<DownloadList> list_;
    std::unique_ptr<DownloadListView> view_;
    QString tab_;
    std::int64_t clockMs_ = 0;
};

}  // namespace

// Sorted by a column, the commands act on the rows the page shows, and the
// songs are still downloaded in the list's order.
TEST_F(ListPage, SortingKeepsTheCommandsOnTheRowsShown) {
    add({"c", "a", "d", "b"});
    const std::vector<std::int64_t> queued = downloader_->added;
    ASSERT_EQ(queued.size(), 4u);
    selectShown({3});
    clickTitle(DownloadListModel::SongColumn);
    EXPECT_EQ(shown(), (std::vector<std::string>{"a", "b", "c", "d"}));
    // What was chosen stays chosen, wherever it is shown now.
    EXPECT_EQ(selectedTitles(), std::vector<std::string>{"b"});
    EXPECT_EQ(view_->currentRow(), 1);
    // 停止 on the first row shown stops "a", not the list's first song.
    selectShown({0});
    view_->Stop1->trigger();
    EXPECT_EQ(stateOf("a"), ListState::Stopped);
    EXPECT_EQ(downloader_->stopped, std::vector<std::int64_t>{idOf("a")});
    EXPECT_EQ(stateOf("c"), ListState::Waiting);
    downloader_->reports_.ended(idOf("a"), ended(DownloadOutcome::Kind::Cancelled), 0, 0);
    // Again the other way; 重新下载 of two rows queues them in the list's order.
    clickTitle(DownloadListModel::SongColumn);
    EXPECT_EQ(shown(), (std::vector<std::string>{"d", "c", "b", "a"}));
    view_->StopAll1->trigger();
    for (const char* t : {"b", "c", "d"}) downloader_->reports_.ended(idOf(t), ended(DownloadOutcome::Kind::Cancelled), 0, 0);
    selectShown({0, 3});
    EXPECT_EQ(selectedTitles(), (std::vector<std::string>{"d", "a"}));
    downloader_->added.clear();
    view_->Restart1->trigger();
    EXPECT_EQ(downloader_->added, (std::vector<std::int64_t>{idOf("a"), idOf("d")}));
    // Delete on a row shown removes that song and selects the row after it.
    view_->setFocus();
    selectShown({1});
    QTest::keyClick(view_.get(), Qt::Key_Delete);
    EXPECT_EQ(idOf("c"), 0);
    EXPECT_EQ(shown(), (std::vector<std::string>{"d", "b", "a"}));
    EXPECT_EQ(selectedTitles(), std::vector<std::string>{"b"});
    // A third click: the list's own order again.
    clickTitle(DownloadListModel::SongColumn);
    EXPECT_EQ(shown(), (std::vector<std::string>{"a", "d", "b"}));
    EXPECT_FALSE(view_->horizontalHeader()->isSortIndicatorShown());
    // The list model's rows are never moved by the page.
    EXPECT_EQ(model().entry(0).title, "a");
}

// Sizes, progress and speed sort as numbers, not as their texts.
TEST_F(ListPage, NumbersSortAsNumbers) {
    add({"small", "large", "middle", "unknown"});
    run("small", 10, 2 * 1024);
    run("large", 500, 2 * 1024 * 1024);
    run("middle", 450 * 1024, 900 * 1024);
    settle();
    clickTitle(DownloadListModel::SizeColumn);
    EXPECT_EQ(shown(), (std::vector<std::string>{"unknown", "small", "middle", "large"}));
    clickTitle(DownloadListModel::SizeColumn);
    clickTitle(DownloadListModel::SizeColumn);
    clickTitle(DownloadListModel::ProgressColumn);
    EXPECT_EQ(shown(), (std::vector<std::string>{"unknown", "large", "small", "middle"}));
}

TEST_F(ListPage, DeleteSelectsTheRowAfterTheRemovedOnes) {
    struct Case {
        const char* what;
        std::vector<int> selected;
        std::vector<std::string> left;
        std::vector<std::string> selectedAfter;
    };
    const std::vector<Case> cases = {
        {"one in the middle", {1}, {"0", "2", "3", "4"}, {"2"}},
        {"the first", {0}, {"1", "2", "3", "4"}, {"1"}},
        {"the last", {4}, {"0", "1", "2", "3"}, {"3"}},
        {"two apart", {1, 3}, {"0", "2", "4"}, {"2"}},
        {"the last two", {3, 4}, {"0", "1", "2"}, {"2"}},
        {"all", {0, 1, 2, 3, 4}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view_->selectAll();
        view_->Remove1->trigger();
        ASSERT_EQ(model().rowCount(), 0);
        add({"0", "1", "2", "3", "4"});
        view_->setFocus();
        selectShown(c.selected);
        QTest::keyClick(view_.get(), Qt::Key_Delete);
        EXPECT_EQ(shown(), c.left);
        EXPECT_EQ(selectedTitles(), c.selectedAfter);
        if (c.selectedAfter.empty()) continue;
        EXPECT_EQ(model().entry(view_->sourceRow(view_->currentRow())).title, c.selectedAfter.front());
        // A second Delete removes the row that is shown selected.
        QTest::keyClick(view_.get(), Qt::Key_Delete);
        EXPECT_EQ(idOf(c.selectedAfter.front()), 0);
    }
}

TEST_F(ListPage, StartAllStopAllAndClearFinished) {
    add({"waiting", "running", "done", "failed", "stopped"});
    run("running", 100, 1000);
    run("done");
    fs::create_directories(work_.downloads());
    apptest::writeFile(work_.downloads() / "done.mp3", std::string(1000, 'x'));
    end("done", DownloadOutcome::Kind::Saved);
    run("failed");
    end("failed", DownloadOutcome::Kind::Failed);
    list_->stop({model().rowOf(idOf("stopped"))});
    end("stopped", DownloadOutcome::Kind::Cancelled);
    settle();
    view_->updateMenu();
    EXPECT_TRUE(view_->StartAll1->isEnabled());
    EXPECT_TRUE(view_->StopAll1->isEnabled());
    EXPECT_TRUE(view_->ClearFinished1->isEnabled());

    downloader_->stopped.clear();
    view_->StopAll1->trigger();
    EXPECT_EQ(stateOf("waiting"), ListState::Stopped);
    EXPECT_EQ(stateOf("running"), ListState::Stopped);
    EXPECT_EQ(stateOf("done"), ListState::Finished);
    EXPECT_EQ(stateOf("failed"), ListState::Failed);
    EXPECT_EQ(downloader_->stopped, (std::vector<std::int64_t>{idOf("waiting"), idOf("running")}));
    end("waiting", DownloadOutcome::Kind::Cancelled);
    end("running", DownloadOutcome::Kind::Cancelled);
    settle();
    view_->updateMenu();
    EXPECT_FALSE(view_->StopAll1->isEnabled());

    downloader_->added.clear();
    view_->StartAll1->trigger();
    for (const char* t : {"waiting", "running", "failed", "stopped"}) EXPECT_EQ(stateOf(t), ListState::Waiting) << t;
    EXPECT_EQ(stateOf("done"), ListState::Finished);
    EXPECT_EQ(downloader_->added, (std::vector<std::int64_t>{idOf("waiting"), idOf("running"), idOf("failed"),
                                                             idOf("stopped")}));
    view_->ClearFinished1->trigger();
    EXPECT_EQ(idOf("done"), 0);
    EXPECT_EQ(model().rowCount(), 4);
    EXPECT_TRUE(fs::exists(work_.downloads() / "done.mp3"));
    settle();
    view_->updateMenu();
    EXPECT_FALSE(view_->ClearFinished1->isEnabled());
    EXPECT_FALSE(view_->StartAll1->isEnabled());
}

TEST(ListTotalsText, CountsAndTheTab) {
    struct Case {
        std::array<int, 5> states;  // waiting, running, finished, failed, stopped
        std::optional<double> speed;
        const char* line;
        const char* tab;
    };
    const std::vector<Case> cases = {
        {{0, 0, 0, 0, 0}, {}, "下载列表是空的", "    下载列表       "},
        {{8, 2, 0, 0, 0}, 2048.0, "共 10 首：还剩 10 首（正在下载 2 首）\u3000总速度 2.0 KB/s", "    下载列表 (2/10)   "},
        {{5, 2, 3, 0, 0}, {}, "共 10 首：已完成 3 首，还剩 7 首（正在下载 2 首）\u3000总速度 —", "    下载列表 (2/7)   "},
        {{0, 0, 9, 1, 0}, {}, "共 10 首：已完成 9 首，失败 1 首", "    下载列表       "},
        {{3, 0, 0, 0, 2}, {}, "共 5 首：还剩 3 首，已停止 2 首", "    下载列表 (0/3)   "},
        {{0, 1, 1, 1, 1}, 1536.0 * 1024, "共 4 首：已完成 1 首，还剩 1 首（正在下载 1 首），失败 1 首，已停止 1 首\u3000总速度 1.50 MB/s",
         "    下载列表 (1/1)   "},
    };
    for (const Case& c : cases) {
        ListTotals t;
        t.states = c.states;
        t.speed = c.speed;
        EXPECT_EQ(app::listTotalsText(t), QString::fromUtf8(c.line));
        EXPECT_EQ(app::listTabText(t), QString::fromUtf8(c.tab));
    }
}

// The line under the rows and the tab follow the list.
TEST_F(ListPage, TheTotalsLineAndTheTabFollowTheList) {
    EXPECT_EQ(view_->Totals1->text(), QStringLiteral("下载列表是空的"));
    add({"a", "b", "c"});
    run("a", 100, 1000);
    settle();
    EXPECT_EQ(tab_, QStringLiteral("    下载列表 (1/3)   "));
    EXPECT_TRUE(view_->Totals1->text().startsWith(QStringLiteral("共 3 首：还剩 3 首（正在下载 1 首）")))
        << view_->Totals1->text().toStdString();
    EXPECT_TRUE(view_->Totals1->isVisible());
    EXPECT_EQ(view_->Totals1->geometry().top(), view_->viewport()->geometry().bottom() + 1);
    fs::create_directories(work_.downloads());
    apptest::writeFile(work_.downloads() / "a.mp3", std::string(1000, 'x'));
    end("a", DownloadOutcome::Kind::Saved);
    view_->StopAll1->trigger();
    settle();
    EXPECT_EQ(tab_, QStringLiteral("    下载列表       "));
    EXPECT_EQ(view_->Totals1->text(), QStringLiteral("共 3 首：已完成 1 首，已停止 2 首"));
}

// 进度 is a bar: a song half there draws otherwise than one not begun,
// and the row's percent is what the bar shows.
TEST_F(ListPage, ProgressIsABarWithItsPercent) {
    add({"none", "half", "unknown"});
    run("half", 500, 1000);
    run("none", 0, 1000);
    settle();
    const auto cell = [&](const std::string& title) {
        const QModelIndex index = view_->model()->index(view_->viewRow(model().rowOf(idOf(title))),
                                                        DownloadListModel::ProgressColumn);
        return std::make_pair(index.data(DownloadListModel::PercentRole), view_->viewport()->grab(view_->visualRect(index)));
    };
    const auto [halfPercent, half] = cell("half");
    const auto [nonePercent, none] = cell("none");
    const auto [unknownPercent, unknown] = cell("unknown");
    EXPECT_EQ(halfPercent.toInt(), 50);
    EXPECT_EQ(nonePercent.toInt(), 0);
    EXPECT_FALSE(unknownPercent.isValid());
    EXPECT_NE(half.toImage(), none.toImage());
    EXPECT_NE(none.toImage(), unknown.toImage());
}

// The first running row stays in view until the user scrolls; a new batch
// is followed again.
TEST_F(ListPage, TheRunningRowsStayInViewUntilTheUserScrolls) {
    std::vector<std::string> titles;
    for (int i = 0; i < 200; ++i) titles.push_back("song-" + std::to_string(i));
    add(titles);
    const auto inView = [&](const std::string& title) {
        const int row = view_->viewRow(model().rowOf(idOf(title)));
        const QRect rect = view_->visualRect(view_->model()->index(row, 0));
        return rect.isValid() && view_->viewport()->rect().contains(rect.center());
    };
    run("song-150", 10, 1000);
    settle();
    EXPECT_TRUE(view_->followsRunning());
    EXPECT_TRUE(inView("song-150"));
    // The user scrolls back up: the page stays there.
    view_->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_FALSE(view_->followsRunning());
    end("song-150", DownloadOutcome::Kind::Failed);
    run("song-180", 10, 1000);
    settle();
    EXPECT_FALSE(inView("song-180"));
    EXPECT_TRUE(inView("song-0"));
    // Once nothing is left to come, the next batch is followed again.
    view_->StopAll1->trigger();
    for (const std::string& t : titles)
        if (model().find(idOf(t))->state == ListState::Stopped)
            downloader_->reports_.ended(idOf(t), ended(DownloadOutcome::Kind::Cancelled), 0, 0);
    settle();
    list_->restart({model().rowOf(idOf("song-190"))});
    run("song-190", 10, 1000);
    settle();
    EXPECT_TRUE(view_->followsRunning());
    EXPECT_TRUE(inView("song-190"));
}

// 保存位置 shows the file's name, its folder in the tooltip.
TEST_F(ListPage, WhereASongIsSavedShowsItsNameWithTheFolderInTheTooltip) {
    add({"月亮"});
    const QModelIndex cell = model().index(0, DownloadListModel::PathColumn);
    const std::string path = model().entry(0).path;
    ASSERT_EQ(path, fs::absolute(work_.downloads()).lexically_normal().string() + "/月亮.mp3");
    EXPECT_EQ(cell.data().toString(), QStringLiteral("月亮.mp3"));
    EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), QString::fromStdString(path));
}

// However many songs an add brings, the page (and its sorting) is told of
// them once: each insert told costs the sorting a pass over every row.
TEST_F(ListPage, AnAddIsToldToThePageOnce) {
    int inserts = 0;
    QObject::connect(view_->model(), &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    std::vector<std::string> titles;
    for (int i = 0; i < 3000; ++i) titles.push_back("s" + std::to_string(i));
    clickTitle(DownloadListModel::SongColumn);
    add(titles);
    EXPECT_EQ(inserts, 1);
    EXPECT_EQ(view_->model()->rowCount(), 3000);
    EXPECT_EQ(model().stateCounts()[0], 3000);
    bool finished = false;
    list_->add(2000, [](std::size_t i) {
        return DownloadList::Song{QStringLiteral("t%1").arg(i), QStringLiteral("http://h/t%1.mp3").arg(i)};
    }, [&](const DownloadList::Added&) { finished = true; });
    ASSERT_TRUE(apptest::pumpUntil([&] { return finished; }));
    EXPECT_EQ(view_->model()->rowCount(), 5000);
    EXPECT_GE(inserts, 2);
    // Sorted by title all along: "s0" ... before "t0" ...
    EXPECT_EQ(shown().front(), "s0");
    EXPECT_EQ(shown().back(), "t999");
}
