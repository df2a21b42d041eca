// The pop-up menu's download commands through the window, as a user works
// them: against the demo service (search, left click, right click, the menu
// entry), with the Save dialog and the message box injected, and in a
// working directory of the test's own, where downmp3/ is made.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <QComboBox>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "app/AppInfo.h"
#include "app/TForm1.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/SongStore.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/DemoServiceProcess.h"
#include "tools/demo-service/DemoMedia.h"

namespace fs = std::filesystem;
using apptest::pumpUntil;
using apptest::StoreFile;
using Clock = std::chrono::steady_clock;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Works in a fresh folder for one scope.
struct WorkDir {
    testsupport::TempDir dir;
    fs::path old = fs::current_path();
    WorkDir() { fs::current_path(dir.path()); }
    ~WorkDir() { fs::current_path(old); }
    fs::path downloads() const { return dir.path() / "downmp3"; }
};

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
        form_->HTTPGet1->OnProgress = [this](dl::TDlWebHTTPGet&, dl::TDlDownloadItem&) {
            if (window_ && window_->isVisible()) seen_.back().visibleDuringRun = true;
        };
        form_->HTTPGet1->OnProcessed = [this](dl::TDlWebHTTPGet&) {
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
        const QPoint at = grid->visualRect(index).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseClick(grid->viewport(), Qt::RightButton, Qt::NoModifier, at);
        ASSERT_TRUE(pumpUntil([&] { return form_->PopupMenu1->isVisible(); }, 2000));
        // Returns when the command has ended: the download is modal.
        QTest::mouseClick(form_->PopupMenu1, Qt::LeftButton, Qt::NoModifier,
                          form_->PopupMenu1->actionGeometry(entry).center());
        window_ = nullptr;
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

    // Again: the file is replaced.
    std::ofstream(saved, std::ios::binary | std::ios::trunc) << "something else entirely";
    chooseFromMenu(song, form_->N7);
    EXPECT_EQ(readFile(saved), bytes);

    // Download to, cancelled: nothing changes, not even the settings.
    const std::string url = form_->HTTPGet1->URL, dir = form_->HTTPGet1->DownloadDir,
                      name = form_->HTTPGet1->DestinationName, caption = form_->HTTPGet1->Caption;
    int asked = 0;
    form_->setSaveFileChooser([&] {
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
    form_->setSaveFileChooser([&] { return QString::fromStdString(chosen.string()); });
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
    EXPECT_EQ(filesIn(work_.downloads()).size(), 4u);
    form_->close();
}

TEST_F(DownloadCommands, WithNoRowSelectedTheDownloadFailsQuietly) {
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    ASSERT_TRUE(form_->selectedSong().url.isEmpty());
    form_->N7->trigger();
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].caption, QStringLiteral("BrelvoMP3，正在下载歌曲..."));
    EXPECT_TRUE(seen_[0].closedByItself);
    EXPECT_EQ(form_->HTTPGet1->URL, "");
    EXPECT_EQ(form_->HTTPGet1->DestinationName, ".mp3");
    EXPECT_EQ(form_->HTTPGet1->CurrentItem()->State.load(), dl::dsFailed);
    EXPECT_TRUE(filesIn(work_.downloads()).empty());
}

TEST_F(DownloadCommands, OpenInBrowserTellsTheUserFirst) {
    store::SongStore(file_.path).Insert("a title", "http://songs.test/a.mp3 ", "key");
    openWindow(std::make_unique<apptest::ScriptedFetcher>());
    std::vector<QString> events;
    form_->setMessageShower([&](const QString& caption, const QString& text) {
        events.push_back(caption);
        events.push_back(text);
    });
    form_->setUrlOpener([&](const QString& url) { events.push_back(url); });
    chooseFromMenu(0, form_->IE1);
    const std::vector<QString> expected = {
        QStringLiteral("下载MP3文件"),
        QStringLiteral("将在IE中打开URL，下载您选择的MP3文件更好的下载方式正在开发中....,有建议请联系") +
            QString::fromLatin1(app::kContactEmail),
        QStringLiteral("http://songs.test/a.mp3")};
    EXPECT_EQ(events, expected);
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
    EXPECT_EQ(filesIn(work_.downloads()), std::vector<std::string>{"slow.mp3"});
    const auto start = Clock::now();
    form_.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}
