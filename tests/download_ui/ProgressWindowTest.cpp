// The progress window on its own and driven by the component's Execute:
// layout and texts, the keys, what it shows during a run, Cancel, Close,
// AutoClose, OnFinished, and an owner that goes away during a download.
#include <atomic>
#include <future>
#include <algorithm>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QApplication>
#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "download/ui/CaptionBar.h"
#include "download/ui/CopyAnimation.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "tests/download_ui/UiTestSupport.h"

extern "C" int brelvo_hanging_lookups(void);

namespace fs = std::filesystem;
using uitest::filesIn;
using uitest::pumpUntil;
using uitest::readFile;
using uitest::RouteServer;
using uitest::ScopedWorkDir;
using uitest::writeFile;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kSong(3000, 's');
constexpr std::size_t kSlowSize = 1 << 20;
// Requests for the gallery's pictures, counted as they come in.
std::atomic<int> pictureRequests{0};

void routes(httplib::Server& server) {
    server.Get("/song.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content(kSong, "audio/mpeg"); });
    // About 3 s for the whole: long enough to watch and cancel.
    server.Get("/slow.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(kSlowSize, "audio/mpeg", [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            static const std::string slice(16384, 'w');
            if (offset > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return sink.write(slice.data(), std::min(length, slice.size()));
        });
    });
    // A page whose many images come slowly: page mode with work left to cancel.
    server.Get("/gallery.mp3", [](const httplib::Request&, httplib::Response& res) {
        std::string page;
        for (int i = 0; i < 150; ++i) page += "<img src=\"pic/" + std::to_string(i) + ".gif\">";
        res.set_content(page, "text/html");
    });
    server.Get(R"(/pic/(\d+)\.gif)", [](const httplib::Request&, httplib::Response& res) {
        ++pictureRequests;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        res.set_content("GIF89a", "image/gif");
    });
    // No length, three pieces with reports between them.
    server.Get("/unsized.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider("audio/mpeg", [](std::size_t, httplib::DataSink& sink) {
            const std::string piece(20000, 'u');
            for (int i = 0; i < 3; ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(600));
                if (!sink.write(piece.data(), piece.size())) return false;
            }
            sink.done();
            return true;
        });
    });
}

// One Execute of a component against the test's server, with the window
// caught when it is made and a timer that can act on it while it is up.
struct Session {
    RouteServer server{routes};
    ScopedWorkDir work;
    dl::TDlWebHTTPGet get;
    dl::TDlWebDownload* window = nullptr;
    std::function<void(dl::TDlWebDownload&)> customize;
    // Called every 5 ms while the window is up; the test acts from here.
    std::function<void(dl::TDlWebDownload&)> tick;
    QTimer ticker;
    std::chrono::steady_clock::time_point started;

    Session() {
        get.DownloadDir = "downmp3/";
        get.DestinationName = "song.mp3";
        get.OnCustomizeForm = [this](dl::TDlWebHTTPGet&, dl::TDlWebDownload& form) {
            window = &form;
            if (customize) customize(form);
        };
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            // Bounded: a window that never ends is a failure, not a hang.
            if (window && window->isVisible() && Clock::now() - started > std::chrono::seconds(20)) {
                ADD_FAILURE() << "the progress window did not end";
                get.Abort();
                return;
            }
            if (window && window->isVisible() && tick) tick(*window);
        });
    }
    bool execute(const std::string& url) {
        get.URL = url;
        started = Clock::now();
        ticker.start();
        const bool result = get.Execute();
        ticker.stop();
        window = nullptr;
        return result;
    }
    fs::path file() const { return work.path() / "downmp3" / "song.mp3"; }
};

}  // namespace

TEST(ProgressWindow, LayoutTextsAndWindowFrame) {
    dl::TDlWebDownload window;
    // The client area lies below the window's own title bar, inside its frame.
    EXPECT_EQ(window.ClientArea->size(), QSize(361, 168));
    const int frame = dl::TDlWebDownload::kFrameWidth;
    EXPECT_EQ(window.TitleBar->geometry(), QRect(frame, frame, 361, dl::CaptionBar::kHeight));
    EXPECT_EQ(window.ClientArea->pos(), QPoint(frame, frame + dl::CaptionBar::kHeight));
    EXPECT_EQ(window.size(), QSize(361 + 2 * frame, 168 + dl::CaptionBar::kHeight + 2 * frame));
    // Nothing to resize or maximize.
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Download"));
    // No frame asked of the window manager, so none of its buttons either.
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::FramelessWindowHint);
    EXPECT_FALSE(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint));
    EXPECT_EQ(window.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(window.font().pixelSize(), 11);

    struct Place {
        QWidget* widget;
        QRect geometry;  // a null size: only the position binds
        QString text;
    };
    const std::vector<Place> places = {
        {window.CopyAnimate, QRect(9, 8, 346, 56), {}},
        {window.Label1, QRect(10, 67, 0, 0), QStringLiteral("Download:")},
        {window.DownloadLabel, QRect(90, 67, 266, 13), {}},
        {window.ProgressBar, QRect(9, 86, 345, 11), {}},
        {window.TransferLabel, QRect(9, 103, 0, 0), QStringLiteral("Transfer rate:")},
        {window.CPSLabel, QRect(90, 103, 143, 13), {}},
        {window.Label2, QRect(9, 119, 0, 0), QStringLiteral("Total size:")},
        {window.SizeLabel, QRect(90, 119, 143, 13), {}},
        {window.CloseBtn, QRect(191, 137, 77, 24), QStringLiteral("&Close")},
        {window.StopBtn, QRect(275, 137, 80, 24), QStringLiteral("Cancel")},
    };
    for (const Place& p : places) {
        const QRect actual = p.widget->geometry();
        EXPECT_EQ(actual.topLeft(), p.geometry.topLeft()) << p.widget->objectName().toStdString();
        if (!p.geometry.size().isNull()) {
            EXPECT_EQ(actual.size(), p.geometry.size()) << p.widget->objectName().toStdString();
        }
        if (auto* label = qobject_cast<QLabel*>(p.widget)) {
            EXPECT_EQ(label->text(), p.text);
        }
        if (auto* button = qobject_cast<QPushButton*>(p.widget)) {
            EXPECT_EQ(button->text(), p.text);
        }
    }
    EXPECT_EQ(window.ProgressBar->minimum(), 0);
    EXPECT_EQ(window.ProgressBar->maximum(), 100);
    EXPECT_FALSE(window.CopyAnimate->playing());
    // The animation lies on top of everything else.
    EXPECT_EQ(window.ClientArea->children().last(), window.CopyAnimate);
    // Cancel first in the tab order, then Close.
    QWidget* next = window.StopBtn->nextInFocusChain();
    while (next != window.StopBtn && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    EXPECT_EQ(next, window.CloseBtn);
    EXPECT_TRUE(window.AutoClose);
    EXPECT_EQ(window.ResultCode, 1);
    EXPECT_EQ(window.ProgressStep, 100);
    EXPECT_EQ(window.ProgressBase, 0);
}

TEST(ProgressWindow, EscapeDoesNothingAndCancelHasTheFocus) {
    Session s;
    bool checked = false;
    s.tick = [&](dl::TDlWebDownload& w) {
        if (checked) return;
        checked = true;
        EXPECT_EQ(w.focusWidget(), w.StopBtn);
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.ResultCode, 1);
        // Space on the focused Cancel presses it.
        QTest::keyClick(w.StopBtn, Qt::Key_Space);
        EXPECT_EQ(w.ResultCode, 2);
        EXPECT_FALSE(w.StopBtn->isEnabled());
    };
    EXPECT_FALSE(s.execute(s.server.url("/slow.mp3")));
    EXPECT_TRUE(checked);
}

TEST(ProgressWindow, AFinishedDownloadClosesTheWindowAfterTheFileIsWritten) {
    Session s;
    s.get.Caption = "BrelvoMP3，正在下载歌曲...song";
    QString caption;
    bool visibleAtEnd = false, fileAtEnd = false;
    s.customize = [&](dl::TDlWebDownload& w) { caption = w.windowTitle(); };
    s.get.OnProgress = [&](dl::DownloadComponent&, dl::TDlDownloadItem& item) {
        if (item.Progress.State != dl::dsFinished) return;
        visibleAtEnd = s.window->isVisible();
        fileAtEnd = readFile(s.file()) == kSong;
    };
    EXPECT_TRUE(s.execute(s.server.url("/song.mp3")));
    EXPECT_EQ(caption, QStringLiteral("BrelvoMP3，正在下载歌曲...song"));
    EXPECT_TRUE(visibleAtEnd);
    EXPECT_TRUE(fileAtEnd);
    EXPECT_EQ(readFile(s.file()), kSong);
    EXPECT_EQ(s.get.Downloads().RunState.load(), dl::rsFinished);
}

TEST(ProgressWindow, CancelDuringTheTransferWritesNothingAndKeepsTheOlderFile) {
    Session s;
    fs::create_directories(s.file().parent_path());
    writeFile(s.file(), "older song");
    Clock::time_point cancelledAt;
    bool greyedAtOnce = false;
    s.tick = [&](dl::TDlWebDownload& w) {
        if (w.ResultCode == 2 || s.get.Downloads().BytesReceived < 100000) return;
        cancelledAt = Clock::now();
        QTest::mouseClick(w.StopBtn, Qt::LeftButton);
        greyedAtOnce = !w.StopBtn->isEnabled() && !w.CloseBtn->isEnabled();
    };
    EXPECT_FALSE(s.execute(s.server.url("/slow.mp3")));
    // The bound only tells a wait for the rest of the song from none; the
    // bytes received tell that it was not waited for.
    EXPECT_LT(Clock::now() - cancelledAt, std::chrono::seconds(10));
    EXPECT_TRUE(greyedAtOnce);
    EXPECT_EQ(readFile(s.file()), "older song");
    EXPECT_EQ(filesIn(s.file().parent_path()), std::vector<std::string>{"song.mp3"});
    EXPECT_LT(s.get.Downloads().BytesReceived.load(), static_cast<std::int64_t>(kSlowSize));
}

TEST(ProgressWindow, AFailedDownloadClosesTheWindowWithoutAFile) {
    for (const std::string path : {"/missing.mp3", "refused"}) {
        Session s;
        const std::string url = path == "refused" ? "http://127.0.0.1:1/song.mp3" : s.server.url(path);
        EXPECT_TRUE(s.execute(url)) << path;
        EXPECT_EQ(s.get.CurrentItem()->Progress.State.load(), dl::dsFailed) << path;
        EXPECT_FALSE(fs::exists(s.file().parent_path())) << path;
    }
}

TEST(ProgressWindow, WithoutAutoCloseTheEndWaitsForClose) {
    Session s;
    bool ended = false;
    s.customize = [](dl::TDlWebDownload& w) { w.AutoClose = false; };
    s.tick = [&](dl::TDlWebDownload& w) {
        if (s.get.Downloads().RunState != dl::rsFinished || !w.CloseBtn->isEnabled()) return;
        ended = true;
        EXPECT_FALSE(w.StopBtn->isEnabled());
        EXPECT_EQ(w.ProgressBar->value(), 100);
        EXPECT_FALSE(w.CopyAnimate->playing());
        EXPECT_EQ(w.SizeLabel->text(), QStringLiteral("2.93 Kb"));
        // The window system's close is refused only while the run lasts.
        QTest::mouseClick(w.CloseBtn, Qt::LeftButton);
    };
    EXPECT_TRUE(s.execute(s.server.url("/song.mp3")));
    EXPECT_TRUE(ended);
}

TEST(ProgressWindow, LabelsOfAUrlWithoutSchemeShowNoHost) {
    Session s;
    QString download, rate, size;
    s.customize = [](dl::TDlWebDownload& w) {
        w.AutoClose = false;
        // Empty until the first report.
        EXPECT_TRUE(w.DownloadLabel->text().isEmpty());
        EXPECT_TRUE(w.CPSLabel->text().isEmpty());
        EXPECT_TRUE(w.SizeLabel->text().isEmpty());
    };
    s.tick = [&](dl::TDlWebDownload& w) {
        if (!w.CloseBtn->isEnabled()) return;
        download = w.DownloadLabel->text();
        rate = w.CPSLabel->text();
        size = w.SizeLabel->text();
        w.CloseBtn->click();
    };
    EXPECT_TRUE(s.execute("songs\\song.mp3"));
    EXPECT_EQ(download, QStringLiteral("song.mp3 from "));
    EXPECT_EQ(rate, QStringLiteral("0.00 Kb/s"));
    EXPECT_EQ(size, QStringLiteral("0.00 Kb"));
}

TEST(ProgressWindow, WithoutALengthTheBarStaysAtZeroUntilTheEnd) {
    Session s;
    std::vector<int> barWhileRunning;
    std::vector<QString> sizes;
    bool sawEnd = false;
    s.customize = [](dl::TDlWebDownload& w) { w.AutoClose = false; };
    s.tick = [&](dl::TDlWebDownload& w) {
        if (w.CloseBtn->isEnabled()) {
            sawEnd = true;
            EXPECT_EQ(w.ProgressBar->value(), 100);
            w.CloseBtn->click();
            return;
        }
        // Up to the end report, which brings the item's 100 per cent.
        if (s.get.CurrentItem()->Progress.State == dl::dsRunning) barWhileRunning.push_back(w.ProgressBar->value());
        if (sizes.empty() || sizes.back() != w.SizeLabel->text()) sizes.push_back(w.SizeLabel->text());
    };
    EXPECT_TRUE(s.execute(s.server.url("/unsized.mp3")));
    EXPECT_TRUE(sawEnd);
    ASSERT_FALSE(barWhileRunning.empty());
    for (int value : barWhileRunning) EXPECT_EQ(value, 0);
    // The size label grows while the bar does not move.
    EXPECT_GE(sizes.size(), 3u);
    EXPECT_EQ(readFile(s.file()).size(), 60000u);
}

TEST(ProgressWindow, OnFinishedIsAnnouncedAfterTheRunInsteadOfClosing) {
    Session s;
    int announced = 0;
    bool runOver = false;
    s.customize = [&](dl::TDlWebDownload& w) {
        w.OnFinished = [&](dl::TDlWebDownload& sender) {
            ++announced;
            runOver = s.get.Downloads().RunState == dl::rsFinished && sender.isVisible();
            sender.CloseBtn->click();
        };
    };
    EXPECT_TRUE(s.execute(s.server.url("/song.mp3")));
    EXPECT_EQ(announced, 1);
    EXPECT_TRUE(runOver);
    EXPECT_EQ(readFile(s.file()), kSong);
}

TEST(ProgressWindow, TheWindowSystemCannotCloseItDuringTheRun) {
    Session s;
    bool tried = false, refused = false;
    s.tick = [&](dl::TDlWebDownload& w) {
        if (tried || s.get.Downloads().BytesReceived == 0) return;
        tried = true;
        // A close asked for by the window system (Alt+F4), as it arrives:
        // spontaneous, which sendEvent would undo.
        QCloseEvent close;
        QSpontaneKeyEvent::setSpontaneous(&close);
        QApplication::instance()->notify(&w, &close);
        refused = !close.isAccepted() && w.isVisible() && w.ResultCode == 1;
        w.StopBtn->click();
    };
    EXPECT_FALSE(s.execute(s.server.url("/slow.mp3")));
    EXPECT_TRUE(refused);
}

TEST(ProgressWindow, AnOwnerGoingAwayEndsTheDownloadAtOnce) {
    // Abort as the window appears (the run may not have begun) and in the
    // middle of the transfer.
    for (const std::int64_t after : {std::int64_t{-1}, std::int64_t{100000}}) {
        Session s;
        fs::create_directories(s.file().parent_path());
        writeFile(s.file(), "older song");
        Clock::time_point abortedAt;
        s.tick = [&](dl::TDlWebDownload&) {
            if (abortedAt != Clock::time_point{} || s.get.Downloads().BytesReceived < after) return;
            abortedAt = Clock::now();
            s.get.Abort();
        };
        EXPECT_FALSE(s.execute(s.server.url("/slow.mp3"))) << after;
        EXPECT_LT(Clock::now() - abortedAt, std::chrono::seconds(10)) << after;
        EXPECT_EQ(readFile(s.file()), "older song") << after;
        EXPECT_EQ(s.get.Downloads().RunState.load(), dl::rsFinished) << after;
        // The component's handlers are its own again: the next download works.
        s.tick = nullptr;
        EXPECT_TRUE(s.execute(s.server.url("/song.mp3"))) << after;
        EXPECT_EQ(readFile(s.file()), kSong) << after;
    }
}

// Cancel at the very moment the run begins: the test holds the run at each
// of the two points where it begins, presses Cancel, and lets it go on. The
// window still ends, with nothing written.
TEST(ProgressWindow, CancelAtTheStartOfTheRunStillEndsIt) {
    for (const int point : {0, 1}) {
        SCOPED_TRACE(point);
        Session s;
        std::atomic<bool> held{false};
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        s.get.Downloads().RunPointHook = [&, released](int at) {
            if (at != point) return;
            held = true;
            released.wait();
        };
        bool pressed = false;
        s.tick = [&](dl::TDlWebDownload& w) {
            if (pressed || !held) return;
            pressed = true;
            QTest::mouseClick(w.StopBtn, Qt::LeftButton);
            release.set_value();
        };
        EXPECT_FALSE(s.execute(s.server.url("/song.mp3")));
        s.get.Downloads().RunPointHook = nullptr;
        EXPECT_TRUE(pressed);
        EXPECT_FALSE(fs::exists(s.file()));
        EXPECT_EQ(s.get.Downloads().Items(0).Progress.ErrorCode, 6);
    }
}

// Cancel during a name lookup that never ends.
TEST(ProgressWindow, CancelDuringALookupThatHangsEndsTheWindow) {
    Session s;
    const int before = brelvo_hanging_lookups();
    bool pressed = false;
    bool skipped = false;
    Clock::time_point cancelledAt;
    s.tick = [&](dl::TDlWebDownload& w) {
        if (pressed) return;
        if (brelvo_hanging_lookups() == before) {
            if (Clock::now() - s.started < std::chrono::seconds(10)) return;
            skipped = true;  // this build's own getaddrinfo comes first
        }
        pressed = true;
        cancelledAt = Clock::now();
        QTest::mouseClick(w.StopBtn, Qt::LeftButton);
    };
    EXPECT_FALSE(s.execute("http://song.hang.test/song.mp3"));
    if (skipped) GTEST_SKIP() << "the hanging lookup is not in force";
    std::printf("    the window ended %lld ms after Cancel\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelledAt).count()));
    EXPECT_EQ(s.get.Downloads().Items(0).Progress.ErrorCode, 6);
}

// Cancel in page mode: nothing more is fetched or written, the saved page is
// not written again, and no hidden file stays.
TEST(ProgressWindow, CancelInPageModeFetchesAndWritesNothingMore) {
    Session s;
    s.get.DownloadParams.LoadImages = true;
    pictureRequests = 0;
    const auto pictures = [] { return pictureRequests.load(); };
    bool pressed = false;
    s.tick = [&](dl::TDlWebDownload& w) {
        if (pressed || pictures() < 3) return;
        pressed = true;
        QTest::mouseClick(w.StopBtn, Qt::LeftButton);
    };
    EXPECT_FALSE(s.execute(s.server.url("/gallery.mp3")));
    ASSERT_TRUE(pressed);
    const auto fetched = pictures();
    EXPECT_LT(fetched, 150);
    const fs::path folder = s.file().parent_path();
    const std::string page = readFile(folder / "song.mp3.htm");
    // Saved once, with its links to the web: never written again.
    EXPECT_NE(page.find(s.server.url("/pic/0.gif")), std::string::npos);
    const auto names = filesIn(folder);
    EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& n) { return n.rfind(".brelvo-", 0) == 0; }));
    pumpUntil([] { return false; }, 100);
    EXPECT_EQ(pictures(), fetched);  // nothing fetched after the window ended
}

// The window's own title bar: its caption, shortened in the middle when too
// long (the count of a batch stays in view), following every change; and a
// drag on it moves the window.
TEST(ProgressWindow, ItsTitleBarShowsTheCaptionAndMovesTheWindow) {
    dl::TDlWebDownload window;
    EXPECT_EQ(window.TitleBar->shownText(), QStringLiteral("Download"));
    const QString longCaption = QStringLiteral("BrelvoMP3（4/5），正在下载歌曲...") + QString(80, QChar(u'歌')) +
                                QStringLiteral("尾");
    window.setWindowTitle(longCaption);
    const QString shown = window.TitleBar->shownText();
    EXPECT_NE(shown, longCaption);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("BrelvoMP3（4/5）"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("尾"))) << shown.toStdString();

    window.move(100, 100);
    window.show();
    const QPoint grab = window.TitleBar->rect().center();
    const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, window.TitleBar->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(window.TitleBar, &event);
    };
    send(QEvent::MouseButtonPress, grab, Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(30, 20), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grab + QPoint(30, 20), Qt::NoButton);
    send(QEvent::MouseMove, grab + QPoint(60, 60), Qt::NoButton);  // released: stays
    EXPECT_EQ(window.pos(), QPoint(130, 120));
}

TEST(ProgressWindow, MinimizedAloneDuringTheRunItComesBack) {
    Session s;
    bool minimized = false, restored = false;
    s.tick = [&](dl::TDlWebDownload& w) {
        if (!minimized) {
            minimized = true;
            w.setWindowState(Qt::WindowMinimized);
            return;
        }
        if (!restored && !w.isMinimized()) {
            restored = true;
            w.StopBtn->click();
        }
    };
    EXPECT_FALSE(s.execute(s.server.url("/slow.mp3")));
    EXPECT_TRUE(minimized);
    EXPECT_TRUE(restored);
}

// Several downloads in one showing of the window: each run is prepared and
// told in turn, the caption follows, the bar goes on from where the last
// run left it, and a failing download in the middle stops nothing.
TEST(ProgressWindow, ABatchRunsEachDownloadInTheSameWindow) {
    Session s;
    int windows = 0;
    s.customize = [&](dl::TDlWebDownload&) { ++windows; };
    const std::vector<std::string> paths = {"/song.mp3", "/missing.mp3", "/song.mp3"};
    std::vector<QString> captions;
    std::vector<int> barAtStart;
    std::vector<std::pair<int, dl::TDlItemState>> told;
    std::vector<int> barMaximum;
    const auto prepare = [&](int i) {
        s.get.URL = s.server.url(paths[i]);
        s.get.DestinationName = "song" + std::to_string(i) + ".mp3";
        s.get.Caption = "run " + std::to_string(i);
        if (s.window) {
            captions.push_back(s.window->windowTitle());
            barAtStart.push_back(s.window->ProgressBar->value());
        }
    };
    const auto ended = [&](int i, bool cancelled) {
        EXPECT_FALSE(cancelled) << i;
        told.emplace_back(i, s.get.CurrentItem()->Progress.State.load());
        barMaximum.push_back(s.window ? s.window->ProgressBar->maximum() : -1);
    };
    s.started = Clock::now();
    s.ticker.start();
    EXPECT_TRUE(s.get.ExecuteBatch(3, prepare, ended));
    s.ticker.stop();
    EXPECT_EQ(windows, 1);
    const std::vector<std::pair<int, dl::TDlItemState>> expected = {
        {0, dl::dsFinished}, {1, dl::dsFailed}, {2, dl::dsFinished}};
    EXPECT_EQ(told, expected);
    // The caption of the run before, seen as the next is prepared; the bar
    // stands at the end of the runs before.
    EXPECT_EQ(captions, (std::vector<QString>{QStringLiteral("run 0"), QStringLiteral("run 1")}));
    EXPECT_EQ(barAtStart, (std::vector<int>{100, 200}));
    EXPECT_EQ(barMaximum, (std::vector<int>{300, 300, 300}));
    EXPECT_EQ(readFile(s.work.path() / "downmp3" / "song0.mp3"), kSong);
    EXPECT_FALSE(fs::exists(s.work.path() / "downmp3" / "song1.mp3"));
    EXPECT_EQ(readFile(s.work.path() / "downmp3" / "song2.mp3"), kSong);
}
