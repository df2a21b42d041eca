// The pop-up menu's download commands through the window, as a user works
// them: against the demo service (search, left click, right click, the menu
// entry), with the Save dialog and the message box injected, and in a
// working directory of the test's own, where downmp3/ is made.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/AppInfo.h"
#include "app/BlockedCloseFilter.h"
#include "app/DownloadList.h"
#include "app/DownloadListModel.h"
#include "app/DownloadOutcome.h"
#include "app/TForm1.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/SongStore.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/DemoServiceProcess.h"
#include "tests/support/FolderListing.h"
#include "tests/support/RangeServer.h"
#include "tools/demo-service/DemoMedia.h"

namespace fs = std::filesystem;
using apptest::pumpUntil;
using apptest::readFile;
using apptest::writeFile;
using apptest::StoreFile;
using apptest::WorkDir;
using testsupport::namesIn;
using Clock = std::chrono::steady_clock;

namespace {

// What one run of the progress window looked like.
struct WindowSeen {
    QString caption;
    bool visibleDuringRun = false;
    bool closedByItself = false;
};

class DownloadCommands : public ::testing::Test {
protected:
    void openWindow(std::unique_ptr<search::PageFetcher> fetcher) {
        apptest::app();
        form_ = std::make_unique<app::TForm1>(file_.path, std::move(fetcher));
        form_->show();
        // The window's run as it happens: its caption, whether it was up
        // during the run, whether it went without anyone pressing a button.
        form_->HTTPGet1->OnCustomizeForm = [this](dl::TDlWebHTTPGet&, dl::TDlWebDownload& window) {
            seen_.push_back({window.windowTitle(), false, false});
            window_ = &window;
        };
        form_->HTTPGet1->OnProgress = [this](dl::DownloadComponent&, dl::TDlDownloadItem&) {
            if (window_ && window_->isVisible()) seen_.back().visibleDuringRun = true;
        };
        form_->HTTPGet1->OnProcessed = [this](dl::DownloadComponent&) {
            seen_.back().closedByItself = window_ && window_->ResultCode == 1;
        };
    }
    void searchTheDemoService() {
        ::setenv("BRELVOMP3_SEARCH_HOST", ("127.0.0.1:" + std::to_string(service_.port())).c_str(), 1);
        openWindow(std::make_unique<search::NetHttpPageFetcher>());
        ::unsetenv("BRELVOMP3_SEARCH_HOST");
        form_->ComboBox1->setEditText(QStringLiteral("月亮"));
        form_->Button1->click();
        // Page 0 holds the slow, the HTML and plain songs; that is enough.
        ASSERT_TRUE(pumpUntil([&] { return form_->songStore().Count() >= 5; }, 20000));
        form_->Button2->click();
        ASSERT_TRUE(pumpUntil([&] { return form_->DBGrid1->model()->rowCount() >= 5; }));
    }
    int rowWhere(const std::function<bool(const QString& url)>& wanted) {
        auto* model = form_->DBGrid1->songModel();
        for (int row = 0; row < model->rowCount(); ++row)
            if (wanted(model->cellText(row, store::SongTableModel::UrlColumn))) return row;
        return -1;
    }
    QString cell(int row, store::SongTableModel::Column column) {
        return form_->DBGrid1->songModel()->cellText(row, column);
    }
    // Left click on the row, right click, then the menu entry.
    void chooseFromMenu(int row, QAction* entry) {
        store::TDBGrid3D* grid = form_->DBGrid1;
        const QModelIndex index = grid->model()->index(row, 0);
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, grid->visualRect(index).center());
        rightClickMenu(row, entry);
    }
    // Right click on the row (which keeps a selection it is part of), then
    // the menu entry.
    void rightClickMenu(int row, QAction* entry) {
        store::TDBGrid3D* grid = form_->DBGrid1;
        const QModelIndex index = grid->model()->index(row, 0);
        grid->scrollTo(index);
        const QPoint at = grid->visualRect(index).center();
        QTest::mouseClick(grid->viewport(), Qt::RightButton, Qt::NoModifier, at);
        ASSERT_TRUE(pumpUntil([&] { return form_->PopupMenu1->isVisible(); }, 30000));
        // Returns when the command has ended: the download is modal.
        QTest::mouseClick(form_->PopupMenu1, Qt::LeftButton, Qt::NoModifier,
                          form_->PopupMenu1->actionGeometry(entry).center());
        window_ = nullptr;
    }
    // Songs of the demo service (or elsewhere) as stored rows, in this order.
    void storeSongs(const std::vector<std::pair<std::string, std::string>>& songs) {
        store::SongStore songStore(file_.path);
        for (const auto& [title, path] : songs)
            songStore.Insert(title, path.rfind("http", 0) == 0 ? path : demoUrl(path), "key");
    }
    std::string demoUrl(const std::string& path) { return "http://127.0.0.1:" + std::to_string(service_.port()) + path; }
    void selectAllRows() {
        form_->DBGrid1->setFocus();
        QTest::keyClick(form_->DBGrid1, Qt::Key_A, Qt::ControlModifier);
    }
    // The log from the line that starts with `first` on.
    QStringList logFrom(const QString& first) {
        const QStringList lines = form_->logLines();
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(first)) return lines.mid(i);
        return {};
    }
    QString downloadsPath(const QString& name) const {
        return QString::fromStdString((fs::absolute(work_.downloads()) / name.toStdString()).string());
    }
    // The bytes the demo service serves for a song address.
    static std::string servedSong(const QString& url) {
        const QString name = url.trimmed().section(QLatin1Char('/'), -1).chopped(4);
        return demo::silentMp3(name.toStdString());
    }

    StoreFile file_;
    WorkDir work_;
    testsupport::DemoServiceProcess service_{{"--port", "0"}};
    std::unique_ptr<app::TForm1> form_;
    std::vector<WindowSeen> seen_;
    dl::TDlWebDownload* window_ = nullptr;
};

}  // namespace

TEST_F(DownloadCommands, DownloadSongDownloadToAndAnHtmlAnswerThroughTheMenu) {
    ASSERT_GT(service_.port(), 0);
    searchTheDemoService();
    const int song = rowWhere([](const QString& url) {
        return url.contains(QStringLiteral("/songs/")) && !url.contains(QStringLiteral("listen-")) &&
               !url.contains(QStringLiteral("slow-"));
    });
    ASSERT_GE(song, 0);
    const QString title = cell(song, store::SongTableModel::TitleColumn);
    const std::string bytes = servedSong(cell(song, store::SongTableModel::UrlColumn));
    const fs::path saved = work_.downloads() / (title + QStringLiteral(".mp3")).toStdString();

    // Download song: the window comes with the title in its caption and
    // goes by itself; the song is in downmp3/ under its title.
    chooseFromMenu(song, form_->N7);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].caption, QStringLiteral("BrelvoMP3，正在下载歌曲...") + title);
    EXPECT_TRUE(seen_[0].visibleDuringRun);
    EXPECT_TRUE(seen_[0].closedByItself);
    EXPECT_EQ(readFile(saved), bytes);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("下载完成：《") + title + QStringLiteral("》已保存为 ") +
                                            downloadsPath(title + QStringLiteral(".mp3")) + QStringLiteral("（") +
                                            app::readableSize(static_cast<std::int64_t>(bytes.size())) +
                                            QStringLiteral("）"));

    // Again: the file is replaced.
    std::ofstream(saved, std::ios::binary | std::ios::trunc) << "something else entirely";
    chooseFromMenu(song, form_->N7);
    EXPECT_EQ(readFile(saved), bytes);

    // Download to, cancelled: nothing changes, not even the settings.
    const std::string url = form_->HTTPGet1->URL, dir = form_->HTTPGet1->DownloadDir,
                      name = form_->HTTPGet1->DestinationName, caption = form_->HTTPGet1->Caption;
    int asked = 0;
    form_->setSaveFileChooser([&](const QString&) {
        ++asked;
        return QString();
    });
    const int other = song == 0 ? 2 : 0;
    chooseFromMenu(other, form_->N2);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(seen_.size(), 2u);
    EXPECT_EQ(form_->HTTPGet1->URL, url);
    EXPECT_EQ(form_->HTTPGet1->DownloadDir, dir);
    EXPECT_EQ(form_->HTTPGet1->DestinationName, name);
    EXPECT_EQ(form_->HTTPGet1->Caption, caption);

    // Download to a chosen file: it takes the chosen name in the chosen folder.
    const fs::path chosen = work_.dir.path() / "elsewhere" / "my pick.mp3";
    fs::create_directories(chosen.parent_path());
    form_->setSaveFileChooser([&](const QString&) { return QString::fromStdString(chosen.string()); });
    chooseFromMenu(song, form_->N2);
    EXPECT_EQ(readFile(chosen), bytes);
    EXPECT_EQ(seen_.size(), 3u);
    EXPECT_EQ(seen_[2].caption, QStringLiteral("BrelvoMP3，正在下载歌曲...") + title);

    // A song address that answers with a page: the page as title.mp3.htm,
    // its background and frame beside it, and the page pointing at them.
    const int listen = rowWhere([](const QString& u) { return u.contains(QStringLiteral("listen-")); });
    ASSERT_GE(listen, 0);
    const QString listenTitle = cell(listen, store::SongTableModel::TitleColumn);
    chooseFromMenu(listen, form_->N7);
    const std::string page = readFile(work_.downloads() / (listenTitle + QStringLiteral(".mp3.htm")).toStdString());
    EXPECT_NE(page.find("<body background=\"127.0.0.1_bg.gif\">"), std::string::npos) << page;
    EXPECT_NE(page.find("<frame src=\"127.0.0.1_player.htm\""), std::string::npos) << page;
    EXPECT_EQ(readFile(work_.downloads() / "127.0.0.1_bg.gif"), demo::tinyGif());
    EXPECT_NE(readFile(work_.downloads() / "127.0.0.1_player.htm").find("<html>"), std::string::npos);
    EXPECT_EQ(namesIn(work_.downloads()).size(), 4u);
    form_->close();
}

TEST_F(DownloadCommands, WithNoRowSelectedTheDownloadFailsAndSaysWhy) {
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    ASSERT_TRUE(form_->selectedSong().url.isEmpty());
    form_->N7->trigger();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].caption, QStringLiteral("BrelvoMP3，正在下载歌曲..."));
    EXPECT_TRUE(seen_[0].closedByItself);
    EXPECT_EQ(form_->HTTPGet1->URL, "");
    EXPECT_EQ(form_->HTTPGet1->DestinationName, ".mp3");
    EXPECT_EQ(form_->HTTPGet1->CurrentItem()->Progress.State.load(), dl::dsFailed);
    EXPECT_TRUE(namesIn(work_.downloads()).empty());
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("下载失败：《》，没有选择歌曲，下载地址是空的"));
    // The link command has no address to open either, and says so.
    form_->setMessageShower([](const QString&, const QString&) {});
    form_->IE1->trigger();
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("无法打开链接：没有选择歌曲"));
}

TEST_F(DownloadCommands, OpenInBrowserTellsTheUserFirst) {
    store::SongStore(file_.path).Insert("a title", "http://songs.test/a.mp3 ", "key");
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    std::vector<QString> events;
    form_->setMessageShower([&](const QString& caption, const QString& text) {
        events.push_back(caption);
        events.push_back(text);
    });
    form_->setUrlOpener([&](const QString& url) {
        events.push_back(url);
        return true;
    });
    chooseFromMenu(0, form_->IE1);
    const std::vector<QString> expected = {
        QStringLiteral("下载MP3文件"),
        QStringLiteral("将在IE中打开URL，下载您选择的MP3文件更好的下载方式正在开发中....,有建议请联系") +
            QString::fromLatin1(app::kContactEmail),
        QStringLiteral("http://songs.test/a.mp3")};
    EXPECT_EQ(events, expected);
    EXPECT_TRUE(seen_.empty());
}

// The link command opens every row the menu showed selected, after one
// message box; a link (or the home page) that no program could open is
// told in the log, one line each.
TEST_F(DownloadCommands, OpenInBrowserOpensEverySelectedRowAndSaysWhatCouldNotBeOpened) {
    storeSongs({{"a", "http://songs.test/a.mp3 "}, {"b", "http://songs.test/b.mp3"}, {"c", "http://songs.test/c.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    int boxes = 0;
    form_->setMessageShower([&](const QString&, const QString&) { ++boxes; });
    std::vector<QString> opened;
    form_->setUrlOpener([&](const QString& url) {
        opened.push_back(url);
        return !url.endsWith(QStringLiteral("c.mp3")) && !url.contains(QStringLiteral("example"));
    });
    QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::NoModifier,
                      form_->DBGrid1->visualRect(form_->DBGrid1->model()->index(0, 0)).center());
    QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      form_->DBGrid1->visualRect(form_->DBGrid1->model()->index(2, 0)).center());
    const int before = form_->logLines().size();
    rightClickMenu(2, form_->IE1);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(opened, (std::vector<QString>{QStringLiteral("http://songs.test/a.mp3"),
                                            QStringLiteral("http://songs.test/c.mp3")}));
    ASSERT_EQ(form_->logLines().size(), before + 1);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("无法打开链接 http://songs.test/c.mp3"));

    form_->SpeedButton7->click();
    ASSERT_EQ(form_->logLines().size(), before + 2);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("无法打开链接 ") + QString::fromLatin1(app::kHomePage));
}

// Download to for one song opens the Save dialog in the download folder,
// made when missing, on the name Download song would give the file.
TEST_F(DownloadCommands, DownloadToProposesTheDownloadFolderAndTheSongsFileName) {
    storeSongs({{"月亮 plain", "http://songs.test/a.mp3"}, {"AC/DC live", "http://songs.test/b.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    std::vector<QString> proposed;
    form_->setSaveFileChooser([&](const QString& file) {
        proposed.push_back(file);
        return QString();
    });
    ASSERT_FALSE(fs::exists(work_.downloads()));
    chooseFromMenu(0, form_->N2);
    chooseFromMenu(1, form_->N2);
    EXPECT_TRUE(fs::is_directory(work_.downloads()));
    EXPECT_EQ(proposed, (std::vector<QString>{downloadsPath(QStringLiteral("月亮 plain.mp3")),
                                              downloadsPath(QStringLiteral("AC_DC live.mp3"))}));
    EXPECT_TRUE(seen_.empty());
}

TEST_F(DownloadCommands, ClosingTheMainWindowDuringADownloadEndsItAtOnce) {
    ASSERT_GT(service_.port(), 0);
    const std::string slow = "http://127.0.0.1:" + std::to_string(service_.port()) + "/songs/slow-abc.mp3";
    store::SongStore(file_.path).Insert("slow", slow, "key");
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    fs::create_directories(work_.downloads());
    std::ofstream(work_.downloads() / "slow.mp3") << "older song";
    Clock::time_point closedAt;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (closedAt == Clock::time_point{} && form_->HTTPGet1->Downloads().BytesReceived > 100000) {
            closedAt = Clock::now();
            form_->close();
        }
    });
    closer.start();
    chooseFromMenu(0, form_->N7);
    closer.stop();
    ASSERT_NE(closedAt, Clock::time_point{});
    EXPECT_LT(Clock::now() - closedAt, std::chrono::seconds(1));
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(readFile(work_.downloads() / "slow.mp3"), "older song");
    EXPECT_EQ(namesIn(work_.downloads()), std::vector<std::string>{"slow.mp3"});
    const auto start = Clock::now();
    form_.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

// Several rows through the menu: one showing of the progress window, each
// song into downmp3/ under its title (a second row of the same title gets a
// number), one log line for each outcome, good and bad, and a summary.
TEST_F(DownloadCommands, SeveralSongsDownloadOneAfterAnotherAndEachOutcomeIsTold) {
    ASSERT_GT(service_.port(), 0);
    const std::string longTitle(100, 'x');  // with ".mp3" too long for a file name here
    storeSongs({{"好歌", "/songs/good-one.mp3"},
                {"没有的歌", "/missing/song.mp3"},
                {"连不上", "http://127.0.0.1:1/song.mp3"},
                {"试听", "/songs/listen-abc.mp3"},
                {longTitle + longTitle + longTitle, "/songs/long-one.mp3"},
                {"好歌", "/songs/good-two.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    selectAllRows();
    rightClickMenu(2, form_->N7);

    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].caption, QStringLiteral("BrelvoMP3（1/6），正在下载歌曲...好歌"));
    EXPECT_EQ(readFile(work_.downloads() / "好歌.mp3"), demo::silentMp3("good-one"));
    EXPECT_EQ(readFile(work_.downloads() / "好歌 (2).mp3"), demo::silentMp3("good-two"));
    const QStringList expected = {
        QStringLiteral("开始下载 6 首歌曲到 ") + downloadsPath({}),
        QStringLiteral("下载完成：《好歌》已保存为 ") + downloadsPath(QStringLiteral("好歌.mp3")) + QStringLiteral("（") +
            app::readableSize(demo::silentMp3("good-one").size()) + QStringLiteral("）"),
        QStringLiteral("下载失败：《没有的歌》，服务器上没有这首歌（HTTP 404）"),
        QStringLiteral("下载失败：《连不上》，无法连接到服务器"),
        QStringLiteral("下载的不是歌曲：《试听》的地址给出的是一个网页，已保存为网页 ") +
            downloadsPath(QStringLiteral("试听.mp3.htm")),
        QStringLiteral("下载失败：《") + QString::fromStdString(longTitle + longTitle + longTitle) +
            QStringLiteral("》，无法写入文件：文件名太长"),
        QStringLiteral("下载完成：《好歌》已保存为 ") + downloadsPath(QStringLiteral("好歌 (2).mp3")) +
            QStringLiteral("（") + app::readableSize(demo::silentMp3("good-two").size()) + QStringLiteral("）"),
        QStringLiteral("批量下载结束：保存了 2 首和 1 个网页，失败 3 首。"),
    };
    EXPECT_EQ(logFrom(QStringLiteral("开始下载")), expected);
    EXPECT_EQ(namesIn(work_.downloads()), (std::vector<std::string>{"127.0.0.1_bg.gif", "127.0.0.1_player.htm",
                                                                     "好歌 (2).mp3", "好歌.mp3", "试听.mp3.htm"}));
}

TEST_F(DownloadCommands, CancelEndsTheWholeBatch) {
    ASSERT_GT(service_.port(), 0);
    storeSongs({{"first", "/songs/first.mp3"}, {"slow", "/songs/slow-abc.mp3"}, {"third", "/songs/third.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    fs::create_directories(work_.downloads());
    std::ofstream(work_.downloads() / "slow.mp3") << "older song";
    QTimer canceller;
    canceller.setInterval(10);
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        if (window_ && window_->ResultCode == 1 && window_->windowTitle().contains(QStringLiteral("slow")) &&
            form_->HTTPGet1->Downloads().BytesReceived > 100000)
            window_->StopBtn->click();
    });
    canceller.start();
    selectAllRows();
    rightClickMenu(0, form_->N7);
    canceller.stop();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(readFile(work_.downloads() / "first.mp3"), demo::silentMp3("first"));
    EXPECT_EQ(readFile(work_.downloads() / "slow.mp3"), "older song");
    EXPECT_EQ(namesIn(work_.downloads()), (std::vector<std::string>{"first.mp3", "slow.mp3"}));
    const QStringList log = logFrom(QStringLiteral("开始下载"));
    ASSERT_EQ(log.size(), 4);
    EXPECT_TRUE(log[1].startsWith(QStringLiteral("下载完成：《first》"))) << log[1].toStdString();
    EXPECT_EQ(log[2], QStringLiteral("已取消下载：《slow》，没有保存文件"));
    EXPECT_EQ(log[3], QStringLiteral("批量下载结束：保存了 1 首，失败 0 首，取消后还有 1 首没有下载。"));
}

TEST_F(DownloadCommands, DownloadToWithSeveralRowsAsksForAFolder) {
    ASSERT_GT(service_.port(), 0);
    storeSongs({{"a", "/songs/a.mp3"}, {"b", "/songs/b.mp3"}, {"c", "/songs/c.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    const fs::path folder = work_.dir.path() / "picked";
    fs::create_directories(folder);
    int savesAsked = 0, foldersAsked = 0;
    form_->setSaveFileChooser([&](const QString&) {
        ++savesAsked;
        return QString();
    });
    form_->setFolderChooser([&] {
        ++foldersAsked;
        return foldersAsked == 1 ? QString() : QString::fromStdString(folder.string());
    });
    // Rows a and c; cancelled first, then a folder.
    QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::NoModifier,
                      form_->DBGrid1->visualRect(form_->DBGrid1->model()->index(0, 0)).center());
    QTest::mouseClick(form_->DBGrid1->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      form_->DBGrid1->visualRect(form_->DBGrid1->model()->index(2, 0)).center());
    rightClickMenu(2, form_->N2);
    EXPECT_TRUE(seen_.empty());
    rightClickMenu(0, form_->N2);
    EXPECT_EQ(savesAsked, 0);
    EXPECT_EQ(foldersAsked, 2);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"a.mp3", "c.mp3"}));
    EXPECT_FALSE(fs::exists(work_.downloads()));
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("批量下载结束：保存了 2 首，失败 0 首。"));
}

TEST_F(DownloadCommands, OpenDownloadFolderMakesItAndHandsItToTheFileManager) {
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    std::vector<QUrl> opened;
    form_->setFolderOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    ASSERT_FALSE(fs::exists(work_.downloads()));
    form_->OpenFolder1->trigger();
    EXPECT_TRUE(fs::is_directory(work_.downloads()));
    const QString folder = QString::fromStdString(fs::absolute(work_.downloads()).string());
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl::fromLocalFile(folder)});
    const int lines = form_->logLines().size();
    // A desktop without a file manager: the log says so.
    form_->setFolderOpener([](const QUrl&) { return false; });
    form_->OpenFolder1->trigger();
    ASSERT_EQ(form_->logLines().size(), lines + 1);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("无法打开下载文件夹 ") + folder);
}

// The window manager's close of the main window reaches the program while
// the progress window blocks it (Qt itself drops it then): the batch ends at
// once, nothing half-written stays, the older file is untouched.
TEST_F(DownloadCommands, TheWindowManagersCloseDuringABatchEndsItAtOnce) {
    ASSERT_GT(service_.port(), 0);
    storeSongs({{"slow", "/songs/slow-abc.mp3"}, {"after", "/songs/after.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    fs::create_directories(work_.downloads());
    std::ofstream(work_.downloads() / "slow.mp3") << "older song";
    const app::BlockedCloseFilter::Atoms atoms{501, 502};
    app::BlockedCloseFilter filter(atoms, [&](std::uint32_t window) { form_->windowSystemCloseRequested(window); });
    const auto request = [&](std::uint32_t window, std::uint32_t protocol) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE | 0x80;
        message.format = 32;
        message.window = window;
        message.type = atoms.protocols;
        message.data.data32[0] = protocol;
        filter.nativeEventFilter("xcb_generic_event_t", &message, nullptr);
    };
    const auto mainWindow = static_cast<std::uint32_t>(form_->winId());
    Clock::time_point closedAt;
    bool ignoredOthers = false;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (closedAt != Clock::time_point{} || form_->HTTPGet1->Downloads().BytesReceived < 100000) return;
        // Another protocol, or another window: nothing happens.
        request(mainWindow, 503);
        request(mainWindow + 1, atoms.deleteWindow);
        apptest::pumpFor(50);
        ignoredOthers = window_ && window_->isVisible() && form_->isVisible();
        closedAt = Clock::now();
        request(mainWindow, atoms.deleteWindow);
    });
    closer.start();
    selectAllRows();
    rightClickMenu(0, form_->N7);
    closer.stop();
    ASSERT_NE(closedAt, Clock::time_point{});
    EXPECT_TRUE(ignoredOthers);
    EXPECT_LT(Clock::now() - closedAt, std::chrono::seconds(1));
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(readFile(work_.downloads() / "slow.mp3"), "older song");
    EXPECT_EQ(namesIn(work_.downloads()), std::vector<std::string>{"slow.mp3"});
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("批量下载结束：保存了 0 首，失败 0 首，取消后还有 1 首没有下载。"));
}

// Qt's own texts of the Save and folder dialogs come from its Chinese
// translations, in Qt's own dialog, and each column has room for its title
// and, the date, for a whole date and time.
TEST_F(DownloadCommands, SaveAndFolderDialogsSpeakChineseWithRoomyColumns) {
    storeSongs({{"a", "http://127.0.0.1:1/a.mp3"}, {"b", "http://127.0.0.1:1/b.mp3"}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    struct Seen {
        QString title, lookIn, fileName;
        bool native = true;
        int columns = 0;
        QStringList tightColumns;
    };
    const auto inspectNextDialog = [](Seen& seen) {
        QTimer::singleShot(50, [&seen] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            seen.title = dialog->windowTitle();
            seen.native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel"))) seen.lookIn = label->text();
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("fileNameLabel"))) seen.fileName = label->text();
            if (auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
                QHeaderView* header = list->header();
                seen.columns = header->count();
                const QString date = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
                for (int column = 0; column < header->count(); ++column) {
                    const QString title = list->model()->headerData(column, Qt::Horizontal).toString();
                    int needed = header->fontMetrics().horizontalAdvance(title) + 16;
                    if (column == 3) needed = std::max(needed, list->fontMetrics().horizontalAdvance(date) + 8);
                    if (header->sectionSize(column) < needed) seen.tightColumns << title;
                }
            }
            dialog->reject();
        });
    };
    Seen save, folder;
    form_->DBGrid1->setFocus();
    inspectNextDialog(save);
    rightClickMenu(0, form_->N2);
    EXPECT_EQ(save.title, QStringLiteral("另存为"));
    EXPECT_EQ(save.lookIn, QStringLiteral("查找范围："));
    EXPECT_FALSE(save.native);
    EXPECT_EQ(save.columns, 4);
    EXPECT_TRUE(save.tightColumns.isEmpty()) << save.tightColumns.join(QLatin1Char(' ')).toStdString();
    selectAllRows();
    inspectNextDialog(folder);
    rightClickMenu(0, form_->N2);
    EXPECT_EQ(folder.title, QStringLiteral("选择保存歌曲的文件夹"));
    EXPECT_EQ(folder.lookIn, QStringLiteral("查找范围："));
    EXPECT_EQ(folder.fileName, QStringLiteral("目录："));
    EXPECT_FALSE(folder.native);
    EXPECT_EQ(folder.columns, 4);
    EXPECT_TRUE(folder.tightColumns.isEmpty()) << folder.tightColumns.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(seen_.empty());
}

// Cancel in the middle of a song whose server names its version: the log
// says the bytes are kept and that the next download continues them, and
// the next 下载歌曲 does, saying that it went on from them. A title with a NUL
// keeps its ".mp3".
TEST_F(DownloadCommands, CancelKeepsWhatArrivedAndTheNextDownloadContinuesIt) {
    testsupport::RangeServer::Setup setup;
    setup.file = {testsupport::patternBody(200000, 2), "\"held\"", ""};
    setup.holdAt = 50000;
    testsupport::RangeServer server(setup);
    const std::string title("held\0 song", 10);
    storeSongs({{title, server.url("/held.mp3")}});
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    QTimer canceller;
    canceller.setInterval(5);
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        // Once every byte the server sends before it holds has arrived.
        const dl::TDlDownloadItem* item = form_->HTTPGet1->CurrentItem();
        if (window_ && window_->isVisible() && item && item->Progress.Size.load() == 50000) window_->StopBtn->click();
    });
    canceller.start();
    chooseFromMenu(0, form_->N7);
    canceller.stop();
    const QString shown = QString::fromStdString(title);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("已取消下载：《") + shown +
                                            QStringLiteral("》，已下载的 48.8 KB 保留了下来，下次下载这首歌会接着下载"));
    EXPECT_EQ(namesIn(work_.downloads()).size(), 2u);

    server.release();
    chooseFromMenu(0, form_->N7);
    const fs::path saved = work_.downloads() / "held_ song.mp3";
    EXPECT_EQ(readFile(saved), *setup.file.body);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("下载完成：《") + shown + QStringLiteral("》已保存为 ") +
                                            downloadsPath(QStringLiteral("held_ song.mp3")) +
                                            QStringLiteral("（195.3 KB，接着之前下载的部分下载）"));
    EXPECT_EQ(namesIn(work_.downloads()), std::vector<std::string>{"held_ song.mp3"});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range.value_or(""), "bytes=50000-");
}

// The grid's rows come from a store another program may have written: an
// address naming a local file is neither copied into the download folder nor
// handed to the desktop's opener (which would run a .desktop file or a
// script); a batch downloads the others.
TEST_F(DownloadCommands, AddressesOfLocalFilesAreNeitherCopiedNorOpened) {
    const fs::path secret = work_.dir.path() / "secret.txt";
    writeFile(secret, "private");
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path launcher = work_.dir.path() / "evil.desktop";
    writeFile(launcher, "[Desktop Entry]\nExec=touch pwned\n");
    const std::vector<std::string> hostile = {"file://" + secret.string(), "FILE://" + secret.string(),
                                              " file:" + secret.string(), "file://" + launcher.string()};
    for (const std::string& url : hostile) store::SongStore(file_.path).Insert("evil", url, "key");
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    std::vector<QString> opened;
    form_->setUrlOpener([&](const QString& url) {
        opened.push_back(url);
        return true;
    });
    form_->setMessageShower([](const QString&, const QString&) {});
    for (int row = 0; row < static_cast<int>(hostile.size()); ++row) {
        SCOPED_TRACE(hostile[row]);
        const QString url = QString::fromStdString(hostile[row]);
        chooseFromMenu(row, form_->N7);
        EXPECT_TRUE(seen_.empty());
        EXPECT_EQ(form_->logLines().last(),
                  QStringLiteral("下载失败：《evil》，下载地址指向本机的文件，不下载：") + url);
        chooseFromMenu(row, form_->IE1);
        EXPECT_EQ(form_->logLines().last(),
                  QStringLiteral("不打开链接 ") + url.trimmed() + QStringLiteral("：只在浏览器中打开 http 或 https 网址"));
    }
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(namesIn(work_.downloads()).empty());
    EXPECT_FALSE(fs::exists(work_.dir.path() / "pwned"));
}

// 在IE中打开链接 asks first over more than ten rows: each link is a page of
// the browser. Answered no, nothing is opened and nothing shown.
TEST_F(DownloadCommands, OpenInBrowserAsksFirstAboveTenRows) {
    struct Case {
        int rows;
        bool asked, yes;
        int opened;
    };
    const std::vector<Case> cases = {{10, false, false, 10}, {11, true, false, 0}, {11, true, true, 11}};
    std::vector<std::pair<std::string, std::string>> songs;
    for (int i = 0; i < 11; ++i) songs.push_back({"s" + std::to_string(i), "http://songs.test/" + std::to_string(i) + ".mp3"});
    storeSongs(songs);
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        QStringList questions;
        int boxes = 0, opened = 0;
        form_->setAsker([&](const QString& caption, const QString& text) {
            questions << caption + QLatin1Char('|') + text;
            return c.yes;
        });
        form_->setMessageShower([&](const QString&, const QString&) { ++boxes; });
        form_->setUrlOpener([&](const QString&) {
            ++opened;
            return true;
        });
        form_->DBGrid1->selectionModel()->select(
            QItemSelection(form_->DBGrid1->model()->index(0, 0), form_->DBGrid1->model()->index(c.rows - 1, 2)),
            QItemSelectionModel::ClearAndSelect);
        rightClickMenu(0, form_->IE1);
        EXPECT_EQ(questions, c.asked ? QStringList{QStringLiteral("在IE中打开链接|要在浏览器中打开 11 个链接吗？")}
                                     : QStringList{});
        EXPECT_EQ(boxes, c.opened > 0 ? 1 : 0);
        EXPECT_EQ(opened, c.opened);
    }
}

// 加入下载列表 asks first above 1,000 songs; answered no, the list stays as
// it was and the log says nothing.
TEST_F(DownloadCommands, AddingMoreThanAThousandSongsToTheListAsksFirst) {
    std::vector<std::pair<std::string, std::string>> songs;
    // Addresses nobody answers on, beside the demo service: the list's
    // downloads fail at once.
    for (int i = 0; i < 1001; ++i) songs.push_back({"s" + std::to_string(i), "http://127.0.0.1:9/" + std::to_string(i) + ".mp3"});
    storeSongs(songs);
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    struct Case {
        int rows;
        bool asked, yes;
        int added;  // -1: the earlier songs may have failed meanwhile and be added again
    };
    const std::vector<Case> cases = {{1001, true, false, 0}, {1001, true, true, 1001}, {1000, false, true, -1}};
    app::DownloadList& list = form_->downloadList();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        QStringList questions;
        form_->setAsker([&](const QString& caption, const QString& text) {
            questions << caption + QLatin1Char('|') + text;
            return c.yes;
        });
        const int before = list.model().rowCount();
        const int lines = form_->logLines().size();
        form_->DBGrid1->selectionModel()->select(
            QItemSelection(form_->DBGrid1->model()->index(0, 0), form_->DBGrid1->model()->index(c.rows - 1, 2)),
            QItemSelectionModel::ClearAndSelect);
        rightClickMenu(0, form_->AddToList1);
        ASSERT_TRUE(pumpUntil([&] { return !list.adding(); }));
        EXPECT_EQ(questions, c.asked ? QStringList{QStringLiteral("加入下载列表|要把 1001 首歌曲加入下载列表吗？")}
                                     : QStringList{});
        if (c.added == 0) {
            EXPECT_EQ(list.model().rowCount(), before);
            EXPECT_EQ(form_->logLines().mid(lines).filter(QStringLiteral("下载列表")), QStringList{});
        } else if (c.added > 0) {
            EXPECT_EQ(list.model().rowCount(), before + c.added);
            EXPECT_TRUE(form_->logLines().mid(lines).contains(QStringLiteral("已把 1001 首歌曲加入下载列表。")))
                << form_->logLines().mid(lines).join('\n').toStdString();
        }
    }
}
