// The downloads list through the window, as a user works it: 加入下载列表 from
// the results grid's menu, two songs at a time in the background while the
// window searches the demo service and downloads with 下载歌曲's modal window,
// the list's own menu and keys, a failing server, and a restart that picks
// the songs up where they stopped. The songs come from a loopback server that
// holds each answer after its first bytes until the test lets it go, so each
// step waits on what the server or the list has seen, never on time.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/DownloadList.h"
#include "app/DownloadListView.h"
#include "app/ListSettings.h"
#include "app/ListSettingsDialog.h"
#include "app/DownloadOutcome.h"
#include "app/MessageLog.h"
#include "app/TForm1.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/DownloadListStore.h"
#include "store/LinkVerdictStore.h"
#include "store/SongStore.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/DemoServiceProcess.h"
#include "tests/support/FolderListing.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using apptest::pumpUntil;
using apptest::readFile;
using apptest::WorkDir;
using app::DownloadListModel;
using store::ListState;
using testsupport::RangeServer;

namespace {

constexpr std::size_t kSongSize = 64 * 1024;
constexpr std::uint64_t kHeldAt = 4096;
const auto kSong = testsupport::songBody(kSongSize, 7);
const QString kSearchEnded = QStringLiteral("所有歌曲都已经搜索完毕，请及时下载！过期可能会失效。");

// Every answer stops after its first bytes until released; the song has an
// ETag, so what arrived is kept for the next download of it.
RangeServer::Setup heldSongs() {
    RangeServer::Setup setup;
    setup.file = {kSong, "\"song\"", ""};
    setup.holdAt = kHeldAt;
    return setup;
}

class DownloadListWindow : public ::testing::Test {
protected:
    ~DownloadListWindow() override {
        if (form_) form_->close();
        form_.reset();
        server_.stop();
    }
    void storeSongs(const std::vector<std::pair<std::string, std::string>>& songs) {
        store::SongStore songStore(file_.path);
        for (const auto& [title, url] : songs) songStore.Insert(title, url, "key");
    }
    void openWindow() {
        apptest::app();
        ::setenv("BRELVOMP3_SEARCH_HOST", ("127.0.0.1:" + std::to_string(service_.port())).c_str(), 1);
        form_ = std::make_unique<app::TForm1>(file_.path, std::make_unique<search::NetHttpPageFetcher>());
        ::unsetenv("BRELVOMP3_SEARCH_HOST");
        form_->show();
        form_->downloadList().setOpener([this](const QUrl& url) {
            opened_ << url;
            return openWorks_;
        });
    }
    void closeWindow() {
        form_->close();
        form_.reset();
    }
    DownloadListModel& model() { return form_->downloadList().model(); }
    int rowOf(const std::string& title) {
        for (int row = 0; row < model().rowCount(); ++row)
            if (model().entry(row).title == title) return row;
        return -1;
    }
    ListState stateOf(const std::string& title) {
        const int row = rowOf(title);
        return row < 0 ? ListState::Stopped : model().entry(row).state;
    }
    int countIn(ListState state) {
        int n = 0;
        for (int row = 0; row < model().rowCount(); ++row) n += model().entry(row).state == state ? 1 : 0;
        return n;
    }
    // The menu of `view` for `row` by a right click, then `entry`.
    void rightClickMenu(QTableView* view, QMenu* menu, int row, QAction* entry) {
        const QModelIndex index = view->model()->index(row, 0);
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::RightButton, Qt::NoModifier, view->visualRect(index).center());
        ASSERT_TRUE(pumpUntil([&] { return menu->isVisible(); }, 30000));
        ASSERT_TRUE(entry->isEnabled()) << entry->text().toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(entry).center());
    }
    // One song at a time, each added once the one before shows its first
    // bytes (a report of one song may be dropped while another's is on its
    // way; alone, its first read is always told).
    void addEachWhenTheOneBeforeHoldsBytes(int rows) {
        for (int row = 0; row < rows; ++row) {
            const QModelIndex index = form_->DBGrid1->model()->index(row, 0);
            QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::NoModifier,
                              form_->DBGrid1->visualRect(index).center());
            rightClickMenu(form_->DBGrid1, form_->PopupMenu1, row, form_->AddToList1);
            if (row == rows - 1 || ::testing::Test::HasFatalFailure()) return;
            ASSERT_TRUE(pumpUntil([&] { return model().rowCount() == row + 1 && model().entry(row).received >= 4096; }));
        }
    }
    void addAllToList() {
        form_->DBGrid1->setFocus();
        QTest::keyClick(form_->DBGrid1, Qt::Key_A, Qt::ControlModifier);
        rightClickMenu(form_->DBGrid1, form_->PopupMenu1, 0, form_->AddToList1);
    }
    QTableView* list() { return form_->DownloadListView1; }
    std::vector<std::string> rangesAskedFor(const std::string& target) {
        std::vector<std::string> ranges;
        for (const auto& request : server_.requests())
            if (request.target == target) ranges.push_back(request.range.value_or("none"));
        return ranges;
    }

    apptest::StoreFile file_;
    WorkDir work_;
    testsupport::DemoServiceProcess service_{{"--port", "0"}};
    RangeServer server_{heldSongs()};
    std::unique_ptr<app::TForm1> form_;
    QList<QUrl> opened_;
    bool openWorks_ = true;
};

}  // namespace

TEST_F(DownloadListWindow, TwoAtATimeWhileTheWindowSearchesAndDownloadsModally) {
    ASSERT_GT(service_.port(), 0);
    storeSongs({{"一", server_.url("/1.mp3")}, {"二", server_.url("/2.mp3")}, {"三", server_.url("/3.mp3")}});
    openWindow();
    addAllToList();
    // Added in slices of a time budget: on a busy machine the line may come later.
    EXPECT_TRUE(pumpUntil([&] { return form_->logLines().contains(QStringLiteral("已把 3 首歌曲加入下载列表。")); }));
    // Two start at once; the third waits for a free place.
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Downloading) == 2; }));
    EXPECT_EQ(countIn(ListState::Waiting), 1);
    EXPECT_EQ(stateOf("三"), ListState::Waiting);
    ASSERT_TRUE(pumpUntil([&] { return server_.requestCount() >= 2; }));

    // Meanwhile the window searches, and its pages come in.
    form_->ComboBox1->setEditText(QStringLiteral("月亮"));
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return form_->logLines().contains(kSearchEnded); }));
    ASSERT_TRUE(pumpUntil([&] { return form_->DBGrid1->model()->rowCount() > 3; }));

    // ... and 下载歌曲 downloads a song of the demo service with its modal window.
    const auto* grid = form_->DBGrid1->songModel();
    int plain = -1;
    for (int row = 0; row < grid->rowCount() && plain < 0; ++row) {
        const QString url = grid->cellText(row, store::SongTableModel::UrlColumn);
        if (url.contains(QStringLiteral("/songs/")) && !url.contains(QStringLiteral("listen-")) &&
            !url.contains(QStringLiteral("slow-")))
            plain = row;
    }
    ASSERT_GE(plain, 0);
    const QString title = grid->cellText(plain, store::SongTableModel::TitleColumn);
    QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::NoModifier,
                      form_->DBGrid1->visualRect(grid->index(plain, 0)).center());
    bool windowShown = false;
    form_->HTTPGet1->OnCustomizeForm = [&](dl::TDlWebHTTPGet&, dl::TDlWebDownload&) { windowShown = true; };
    rightClickMenu(form_->DBGrid1, form_->PopupMenu1, plain, form_->N7);
    EXPECT_TRUE(windowShown);
    EXPECT_TRUE(fs::is_regular_file(work_.downloads() / (title + QStringLiteral(".mp3")).toStdString()));
    EXPECT_TRUE(form_->logLines().last().startsWith(QStringLiteral("下载完成：《") + title));
    // The list waited through all of it, still two at a time.
    EXPECT_EQ(countIn(ListState::Downloading), 2);
    EXPECT_LE(server_.maxOpenConnections(), 2u);

    server_.release();
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Finished) == 3; }));
    EXPECT_LE(server_.maxOpenConnections(), 2u);
    const QStringList lines = form_->logLines();
    for (const char* song : {"一", "二", "三"}) {
        const fs::path saved = work_.downloads() / (std::string(song) + ".mp3");
        EXPECT_EQ(readFile(saved), *kSong) << song;
        const store::ListEntry& entry = model().entry(rowOf(song));
        EXPECT_EQ(entry.path, fs::absolute(saved).lexically_normal().string());
        app::DownloadOutcome outcome;
        outcome.kind = app::DownloadOutcome::Kind::Saved;
        outcome.path = QString::fromStdString(entry.path);
        outcome.size = static_cast<std::int64_t>(kSongSize);
        EXPECT_TRUE(lines.contains(app::outcomeLogLine(QString::fromUtf8(song), outcome))) << song;
        EXPECT_EQ(DownloadListModel::sizeText(entry), app::readableSize(kSongSize));
    }
}

// Closed while songs download: the next start has them waiting again, and
// they continue from the bytes that were kept.
TEST_F(DownloadListWindow, ARestartContinuesWhatWasKept) {
    storeSongs({{"一", server_.url("/1.mp3")}, {"二", server_.url("/2.mp3")}, {"三", server_.url("/3.mp3")}});
    openWindow();
    // Two running, their first bytes arrived; the third waiting.
    addEachWhenTheOneBeforeHoldsBytes(3);
    ASSERT_TRUE(pumpUntil([&] { return model().rowCount() == 3 && model().entry(1).received >= 4096; }));
    EXPECT_EQ(countIn(ListState::Downloading), 2);
    EXPECT_EQ(stateOf("三"), ListState::Waiting);
    closeWindow();
    const std::size_t before = server_.requestCount();

    server_.release();
    openWindow();
    EXPECT_TRUE(form_->logLines().contains(QStringLiteral("下载列表中有 3 首歌曲接着下载。")));
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Finished) == 3; }));
    for (const char* song : {"一", "二", "三"})
        EXPECT_EQ(readFile(work_.downloads() / (std::string(song) + ".mp3")), *kSong) << song;
    // The two that had begun asked only for the rest.
    const auto requests = server_.requests();
    int continued = 0;
    for (std::size_t i = before; i < requests.size(); ++i)
        continued += requests[i].range == "bytes=" + std::to_string(kHeldAt) + "-" ? 1 : 0;
    EXPECT_EQ(continued, 2);
    EXPECT_EQ(server_.requestCount(), before + 3);
}

TEST_F(DownloadListWindow, TheListsMenuAndKeys) {
    storeSongs({{"一", server_.url("/1.mp3")}, {"二", server_.url("/2.mp3")}});
    openWindow();
    addEachWhenTheOneBeforeHoldsBytes(2);
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Downloading) == 2; }));
    form_->PageControl1->setCurrentIndex(1);
    app::DownloadListView& view = *form_->DownloadListView1;

    // 停止 on a running song: stopped at once; its end is told.
    rightClickMenu(list(), view.PopupMenu2, rowOf("一"), view.Stop1);
    EXPECT_EQ(stateOf("一"), ListState::Stopped);
    ASSERT_TRUE(pumpUntil([&] {
        return form_->logLines().last() == QStringLiteral("已取消下载：《一》，已下载的 4.0 KB 保留了下来，下次下载这首歌会接着下载");
    }));
    // What its menu offers now.
    view.selectRow(rowOf("一"));
    view.updateMenu();
    EXPECT_FALSE(view.OpenSong1->isEnabled());
    EXPECT_TRUE(view.OpenFolder2->isEnabled());
    EXPECT_TRUE(view.Restart1->isEnabled());
    EXPECT_FALSE(view.Stop1->isEnabled());
    EXPECT_TRUE(view.Remove1->isEnabled());

    // 重新下载 asks only for the rest of what it kept.
    server_.release();
    rightClickMenu(list(), view.PopupMenu2, rowOf("一"), view.Restart1);
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Finished) == 2; }));
    EXPECT_EQ(rangesAskedFor("/1.mp3"), (std::vector<std::string>{"none", "bytes=4096-"}));
    EXPECT_EQ(readFile(work_.downloads() / "一.mp3"), *kSong);

    // Enter and a double-click open a finished song.
    view.setFocus();
    view.selectRow(rowOf("一"));
    QTest::keyClick(&view, Qt::Key_Return);
    const QModelIndex two = view.model()->index(rowOf("二"), 0);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, view.visualRect(two).center());
    ASSERT_EQ(opened_.size(), 2);
    EXPECT_EQ(opened_[0], QUrl::fromLocalFile(QString::fromStdString((work_.downloads() / "一.mp3").string())));
    EXPECT_EQ(opened_[1], QUrl::fromLocalFile(QString::fromStdString((work_.downloads() / "二.mp3").string())));
    // 打开所在文件夹, and a desktop that can open nothing.
    openWorks_ = false;
    rightClickMenu(list(), view.PopupMenu2, rowOf("二"), view.OpenFolder2);
    EXPECT_EQ(opened_.last(), QUrl::fromLocalFile(QString::fromStdString(work_.downloads().string())));
    EXPECT_EQ(form_->logLines().last(),
              QStringLiteral("无法打开所在文件夹 ") + QString::fromStdString(work_.downloads().string()));

    // Delete removes the selected rows; the files stay.
    view.selectAll();
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_TRUE(fs::exists(work_.downloads() / "一.mp3"));
    EXPECT_TRUE(fs::exists(work_.downloads() / "二.mp3"));
    ASSERT_TRUE(form_->downloadList().listStore().WaitUntilWritten(std::chrono::seconds(60)));
    EXPECT_TRUE(storetest::OtherConnection(file_.path).ids("select id from downloadlist").empty());
}

// A server that fails: the row says why in words, the log says it as the
// modal commands do, and the list goes on with the next song.
TEST_F(DownloadListWindow, AFailingServerFailsItsRowWithTheReason) {
    RangeServer::Setup missing;
    missing.file = {kSong, "", ""};
    missing.statusOf = {{0, 404}};
    RangeServer gone(missing);
    server_.release();
    struct Case {
        const char* title;
        std::string url;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"拒绝", "http://127.0.0.1:1/song.mp3", "无法连接到服务器"},
        {"没有", gone.url("/gone.mp3"), "服务器上没有这首歌（HTTP 404）"},
        {"好的", server_.url("/ok.mp3"), nullptr},
    };
    std::vector<std::pair<std::string, std::string>> songs;
    for (const Case& c : cases) songs.emplace_back(c.title, c.url);
    storeSongs(songs);
    openWindow();
    addAllToList();
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Waiting) + countIn(ListState::Downloading) == 0; }));
    for (const Case& c : cases) {
        const store::ListEntry& entry = model().entry(rowOf(c.title));
        if (!c.reason) {
            EXPECT_EQ(entry.state, ListState::Finished);
            continue;
        }
        EXPECT_EQ(entry.state, ListState::Failed) << c.title;
        EXPECT_EQ(DownloadListModel::stateText(entry), QStringLiteral("失败：") + QString::fromUtf8(c.reason));
        EXPECT_TRUE(form_->logLines().contains(QStringLiteral("下载失败：《") + QString::fromUtf8(c.title) +
                                               QStringLiteral("》，") + QString::fromUtf8(c.reason)))
            << c.title << "\n" << form_->logLines().join('\n').toStdString();
    }
}

// 下载歌曲, 下载到... and a batch on a song the list is fetching do not fetch
// it a second time into the same file: the log says so and the list shows
// its row. The rest of a batch downloads as always.
TEST_F(DownloadListWindow, TheModalCommandsLeaveASongTheListIsFetchingToIt) {
    RangeServer::Setup quick;
    quick.file = {kSong, "\"other\"", ""};
    RangeServer other(quick);
    storeSongs({{"一", server_.url("/1.mp3")}, {"二", other.url("/2.mp3")}});
    openWindow();
    addEachWhenTheOneBeforeHoldsBytes(1);
    // Its first bytes have arrived: the server has had its one request.
    ASSERT_TRUE(pumpUntil([&] { return model().rowCount() == 1 && model().entry(0).received >= 4096; }));
    ASSERT_EQ(stateOf("一"), ListState::Downloading);
    const std::size_t asked = server_.requestCount();
    ASSERT_EQ(asked, 1u);
    bool windowShown = false;
    form_->HTTPGet1->OnCustomizeForm = [&](dl::TDlWebHTTPGet&, dl::TDlWebDownload&) { windowShown = true; };
    const QString told = QStringLiteral("《一》正在下载列表中下载");
    const QString chosen = QString::fromStdString((work_.downloads() / "一.mp3").string());
    form_->setSaveFileChooser([&](const QString&) { return chosen; });
    struct Step {
        const char* what;
        std::function<void()> act;
    };
    const std::vector<Step> steps = {
        {"下载歌曲", [&] { form_->N7Click(); }},
        {"下载到...", [&] { form_->N2Click(); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        form_->PageControl1->setCurrentIndex(0);
        form_->DBGrid1->selectRow(0);
        form_->DBGrid1CellClick();
        step.act();
        EXPECT_FALSE(windowShown);
        EXPECT_EQ(form_->logLines().last(), told);
        EXPECT_EQ(form_->PageControl1->currentWidget(), form_->DownloadListView1);
        EXPECT_EQ(form_->DownloadListView1->selectedRows(), QList<int>{rowOf("一")});
    }
    // A batch of both: the other song is downloaded, this one left to the list.
    form_->PageControl1->setCurrentIndex(0);
    form_->DBGrid1->setFocus();
    form_->DBGrid1->selectAll();
    form_->N7Click();
    EXPECT_TRUE(windowShown);
    const QStringList lines = form_->logLines();
    EXPECT_TRUE(lines.contains(told));
    EXPECT_TRUE(lines.contains(QStringLiteral("开始下载 1 首歌曲到 ") +
                               QString::fromStdString(fs::absolute(work_.downloads()).string()) + QStringLiteral("/")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(readFile(work_.downloads() / "二.mp3"), *kSong);
    EXPECT_EQ(server_.requestCount(), asked) << "the list's song was asked for once";
    server_.release();
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Finished) == 1; }));
    EXPECT_EQ(readFile(work_.downloads() / "一.mp3"), *kSong);
}

// A store whose list holds rows another program wrote: the window starts,
// nothing is fetched, written or opened outside the download folder, and
// each such row is one log line and can only be removed.
TEST_F(DownloadListWindow, RowsAnotherProgramWroteAreShownAndLeftAlone) {
    const fs::path outside = work_.dir.path() / "outside";
    const std::string autostart = (work_.dir.path() / ".config" / "autostart").string() + "/";
    {
        store::DownloadListStore writer(file_.path);
        store::ListEntry e;
        e.id = 1;
        e.title = "evil";
        e.url = server_.url("/evil.desktop");
        e.folder = autostart;
        e.fileName = "evil.desktop";
        e.path = autostart + "evil.desktop";
        writer.Save(e);
        e.id = 2;
        e.title = "passwd";
        e.folder = fs::absolute(work_.downloads()).string() + "/";
        e.fileName = "passwd.mp3";
        e.state = ListState::Finished;
        e.path = (outside / "passwd").string();
        writer.Save(e);
    }
    fs::create_directories(outside);
    std::ofstream((outside / "passwd").string()) << "root:x:0:0";
    openWindow();
    server_.release();
    const QString reason = QString::fromUtf8(app::DownloadList::kUntrustedReason);
    const QStringList lines = form_->logLines();
    EXPECT_EQ(lines.count(QStringLiteral("《evil》：") + reason), 1) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("《passwd》：") + reason), 1);
    form_->PageControl1->setCurrentIndex(1);
    app::DownloadListView& view = *form_->DownloadListView1;
    for (const char* title : {"evil", "passwd"}) {
        view.clearSelection();
        view.selectRow(rowOf(title));
        view.updateMenu();
        EXPECT_FALSE(view.OpenSong1->isEnabled()) << title;
        EXPECT_FALSE(view.OpenFolder2->isEnabled()) << title;
        EXPECT_FALSE(view.Restart1->isEnabled()) << title;
        EXPECT_FALSE(view.Stop1->isEnabled()) << title;
        EXPECT_TRUE(view.Remove1->isEnabled()) << title;
        EXPECT_EQ(model().data(model().index(rowOf(title), DownloadListModel::StateColumn)).toString(),
                  QStringLiteral("已停止：") + reason);
    }
    // Enter on the finished one opens nothing.
    view.setFocus();
    view.selectRow(rowOf("passwd"));
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_FALSE(fs::exists(autostart));
    EXPECT_EQ(readFile(outside / "passwd"), "root:x:0:0");
    view.selectAll();
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(model().rowCount(), 0);
    ASSERT_TRUE(form_->downloadList().listStore().WaitUntilWritten(std::chrono::seconds(60)));
    EXPECT_TRUE(storetest::OtherConnection(file_.path).ids("select id from downloadlist").empty());
}

// A song added from its dead row arrives from its live link, byte for byte:
// the store's other rows of the song are its links; a page on the way is
// never saved; what each link did is kept as its verdict.
TEST_F(DownloadListWindow, ASongFromItsDeadRowArrivesFromItsLiveLink) {
    ASSERT_GT(service_.port(), 0);
    RangeServer::Setup gone;
    gone.file = {kSong, "\"song\"", ""};
    for (std::size_t i = 0; i < 8; ++i) gone.statusOf[i] = 404;
    RangeServer dead(gone);
    RangeServer::Setup notFoundPage;
    notFoundPage.file = {std::make_shared<const std::string>("<html><body>File not found</body></html>"), "", ""};
    notFoundPage.contentType = "text/html";
    RangeServer page(notFoundPage);
    RangeServer::Setup song;
    song.file = {kSong, "\"song\"", ""};
    RangeServer live(song);
    // The same song three times, as the service gives it on other hosts;
    // a live version is another song.
    storeSongs({{"月亮代表我的心", dead.url("/1.mp3")},
                {"月亮代表我的心（Live）", live.url("/live.mp3")},
                {"月亮 代表我的心", page.url("/2.mp3")},
                {"月亮代表我的心", live.url("/3.mp3")}});
    openWindow();
    const QModelIndex first = form_->DBGrid1->model()->index(0, 0);
    QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::NoModifier,
                      form_->DBGrid1->visualRect(first).center());
    rightClickMenu(form_->DBGrid1, form_->PopupMenu1, 0, form_->AddToList1);
    ASSERT_TRUE(pumpUntil([&] { return stateOf("月亮代表我的心") == ListState::Finished; }, 60000))
        << model().entry(0).reason;
    EXPECT_EQ(readFile(work_.downloads() / "月亮代表我的心.mp3"), *kSong);
    // Nothing else was saved: not the page, not a part.
    EXPECT_EQ(testsupport::namesIn(work_.downloads()), (std::vector<std::string>{"月亮代表我的心.mp3"}));
    EXPECT_EQ(dead.requestCount(), 1u);
    EXPECT_EQ(page.requestCount(), 1u);
    ASSERT_EQ(live.requestCount(), 1u);
    EXPECT_EQ(live.requests()[0].target, "/3.mp3");
    const QStringList lines = form_->logLines();
    EXPECT_TRUE(lines.contains(QStringLiteral("《月亮代表我的心》：第 1 个链接失败（HTTP 404），换用第 2 个链接 ") +
                               QString::fromStdString(page.url("/2.mp3"))));
    EXPECT_TRUE(lines.contains(QStringLiteral("《月亮代表我的心》：第 2 个链接失败（不是歌曲），换用第 3 个链接 ") +
                               QString::fromStdString(live.url("/3.mp3"))));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("（第 3 个链接 ") + QString::fromStdString(live.url("/3.mp3")) +
                                      QStringLiteral("）")))
        << lines.last().toStdString();
    EXPECT_EQ(model().entry(0).url, live.url("/3.mp3"));
    // The links' verdicts are there for the grid and for the next time.
    closeWindow();
    store::LinkVerdictStore verdicts(file_.path);
    const auto kept = verdicts.find({dead.url("/1.mp3"), page.url("/2.mp3")});
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].verdict, store::LinkVerdictKind::Dead);
    EXPECT_EQ(kept[0].code, 404);
    EXPECT_EQ(kept[1].verdict, store::LinkVerdictKind::NotAudio);
}

// 优先下载 and 下载设置 through the list's menu: a waiting song moved to the
// front takes the next place, and a third place given in the dialog starts
// it while the two running songs go on; the settings are kept.
TEST_F(DownloadListWindow, MoveToFrontAndMorePlacesFromTheMenu) {
    // Whatever happens here, the tests after it start with the defaults.
    struct Defaults {
        ~Defaults() { app::saveListSettings(app::ListSettings{}); }
    } defaults;
    storeSongs({{"一", server_.url("/1.mp3")},
                {"二", server_.url("/2.mp3")},
                {"三", server_.url("/3.mp3")},
                {"四", server_.url("/4.mp3")}});
    openWindow();
    addAllToList();
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Downloading) == 2 && server_.requestCount() == 2u; }));
    form_->PageControl1->setCurrentIndex(1);
    app::DownloadListView& view = *form_->DownloadListView1;

    // Only a waiting row offers it.
    view.clearSelection();
    view.selectRow(rowOf("一"));
    view.updateMenu();
    EXPECT_FALSE(view.MoveToFront1->isEnabled());
    EXPECT_TRUE(view.ListSettings1->isEnabled());
    view.selectRow(rowOf("四"));
    view.updateMenu();
    EXPECT_TRUE(view.MoveToFront1->isEnabled());
    rightClickMenu(list(), view.PopupMenu2, rowOf("四"), view.MoveToFront1);

    // The dialog, as the menu opens it: three at a time, then 确定.
    bool seen = false;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<app::ListSettingsDialog*>(QApplication::activeModalWidget());
        if (!dialog || seen) return;
        seen = true;
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("下载设置"));
        EXPECT_EQ(dialog->AtATime1->value(), 2);
        EXPECT_EQ(dialog->AtATime1->minimum(), 1);
        EXPECT_EQ(dialog->AtATime1->maximum(), 5);
        EXPECT_FALSE(dialog->LimitSpeed1->isChecked());
        EXPECT_FALSE(dialog->LimitKBps1->isEnabled());
        dialog->AtATime1->setValue(3);
        dialog->Buttons1->button(QDialogButtonBox::Ok)->click();
    });
    answer.start();
    rightClickMenu(list(), view.PopupMenu2, rowOf("三"), view.ListSettings1);
    ASSERT_TRUE(pumpUntil([&] { return seen; }, 30000));
    answer.stop();

    ASSERT_TRUE(pumpUntil([&] { return server_.requestCount() == 3u; }, 30000));
    EXPECT_EQ(server_.requests()[2].target, "/4.mp3");
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Downloading) == 3; }, 30000));
    EXPECT_EQ(stateOf("三"), ListState::Waiting);
    EXPECT_EQ(app::loadListSettings().atATime, 3);
    EXPECT_EQ(form_->downloadList().settings().atATime, 3);

    server_.release();
    ASSERT_TRUE(pumpUntil([&] { return countIn(ListState::Finished) == 4; }));
    EXPECT_EQ(server_.maxOpenConnections(), 3u);
}

// One place, and the server asks the first song to come back in 50 s: its
// row counts the pause down and the second song takes the place meanwhile.
TEST_F(DownloadListWindow, ARowInALongPauseCountsDownAndGivesWay) {
    struct Defaults {
        ~Defaults() { app::saveListSettings(app::ListSettings{}); }
    } defaults;
    app::ListSettings one;
    one.atATime = 1;
    app::saveListSettings(one);
    RangeServer::Setup busy = heldSongs();
    busy.statusOf = {{0, 503}};
    busy.retryAfterOf = {{0, "50"}};
    RangeServer server(busy);
    storeSongs({{"一", server.url("/1.mp3")}, {"二", server.url("/2.mp3")}});
    openWindow();
    addAllToList();
    const auto stateCell = [&](const char* title) {
        return model().data(model().index(rowOf(title), DownloadListModel::StateColumn)).toString();
    };
    ASSERT_TRUE(pumpUntil([&] { return stateCell("一").startsWith(QStringLiteral("等待重试（")); }, 30000));
    const QString first = stateCell("一");
    EXPECT_TRUE(first.endsWith(QStringLiteral(" 秒后）"))) << first.toStdString();
    EXPECT_EQ(model().data(model().index(rowOf("一"), DownloadListModel::SpeedColumn)).toString(), QString());
    // The second song runs in the one place long before the 50 s are over.
    ASSERT_TRUE(pumpUntil([&] { return server.requestCount() == 2u && stateOf("二") == ListState::Downloading; },
                          30000));
    EXPECT_EQ(server.requests()[1].target, "/2.mp3");
    // The count goes down.
    ASSERT_TRUE(pumpUntil([&] { return stateCell("一") != first; }, 30000));
    EXPECT_TRUE(stateCell("一").startsWith(QStringLiteral("等待重试（"))) << stateCell("一").toStdString();

    // 停止 in the pause ends it at once.
    form_->downloadList().stop({rowOf("一")});
    server.release();
    ASSERT_TRUE(pumpUntil([&] { return stateOf("二") == ListState::Finished; }));
    EXPECT_EQ(stateOf("一"), ListState::Stopped);
    EXPECT_EQ(stateCell("一"), QStringLiteral("已停止"));
    closeWindow();
}
