// The windows under a real window manager (openbox on Xvfb), as a user meets
// them: the progress window's frame hints, minimizing it, and the window
// manager's close of the main window during a download; the dialogs' and
// message boxes' frames and close boxes; the main window's place on a screen
// it does not fit. The test runs this binary again on that display for the
// parts that need it; it is skipped where Xvfb, openbox or the X tools are
// not installed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

#include "app/DownloadList.h"
#include "app/TForm1.h"
#include "app/TOKBottomDlg.h"
#include "download/ui/TDlWebDownload.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "store/SongStore.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/RangeServer.h"
#include "tests/support/FolderListing.h"
#include "tests/support/ToolRun.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using apptest::readFile;

constexpr const char* kChildVariable = "BRELVO_WM_TEST_CHILD";

std::string onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const fs::path candidate = fs::path(list.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

// A program run in the background with extra environment, ended (TERM,
// then KILL) and reaped when dropped.
class Background {
public:
    // Its output goes to /dev/null unless `keepOutput`.
    Background(std::vector<std::string> argv, const std::vector<std::string>& extraEnv, bool keepOutput = false) {
        std::vector<std::string> env(extraEnv);
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        std::vector<char*> args, envp;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (!keepOutput) {
            posix_spawn_file_actions_adddup2(&actions, devNull, STDOUT_FILENO);
            posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);
        }
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(devNull);
    }
    ~Background() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        if (waitBounded(std::chrono::seconds(5)) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    bool started() const { return pid_ > 0; }
    // The exit status, or -1 when it did not end within the limit.
    int waitBounded(std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > until) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

// A tool's output on the display the child runs on (DISPLAY is set there).
std::string x11Tool(const std::string& name, const std::vector<std::string>& args) {
    const testsupport::ToolRun run = testsupport::runTool(onPath(name), args, std::chrono::seconds(10));
    return run.finished && run.exitCode == 0 ? run.out : std::string("<failed: ") + run.err + ">";
}

std::string hexId(WId id) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(id));
    return text;
}

bool iconic(WId id) { return x11Tool("xprop", {"-id", hexId(id), "WM_STATE"}).find("Iconic") != std::string::npos; }

// Notes that a window was minimized, however briefly: the program may
// restore it before a look at its X state would see it.
class MinimizeSeen : public QObject {
public:
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowStateChange && static_cast<QWidget*>(watched)->isMinimized()) seen = true;
        return false;
    }
};

}  // namespace

TEST(UnderAWindowManager, TheWindowsAsAUserMeetsThem) {
    for (const char* tool : {"Xvfb", "openbox", "wmctrl", "xprop", "xdotool"})
        if (onPath(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    // Xvfb tells the display it took on a pipe once it is ready.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    ::fcntl(ready[0], F_SETFD, FD_CLOEXEC);
    Background xvfb({onPath("Xvfb"), "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp"},
                    {});
    ::close(ready[1]);
    ASSERT_TRUE(xvfb.started());
    std::string display;
    const auto until = Clock::now() + std::chrono::seconds(20);
    char c;
    while (Clock::now() < until) {
        pollfd p{ready[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        if (::read(ready[0], &c, 1) != 1 || c == '\n') break;
        display += c;
    }
    ::close(ready[0]);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    const std::string displayVar = "DISPLAY=:" + display;
    Background openbox({onPath("openbox")}, {displayVar});
    ASSERT_TRUE(openbox.started());
    ::setenv("DISPLAY", (":" + display).c_str(), 1);
    bool managed = false;
    for (auto wait = Clock::now() + std::chrono::seconds(20); !managed && Clock::now() < wait;) {
        managed = testsupport::runTool(onPath("wmctrl"), {"-m"}).exitCode == 0;
        if (!managed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::unsetenv("DISPLAY");
    ASSERT_TRUE(managed) << "openbox did not start";

    // Each part in a program of its own: the second one's screen is smaller
    // than the main window.
    const std::vector<std::pair<std::string, std::string>> parts = {
        {"WindowManagerChild.*", "QT_SCALE_FACTOR=1"}, {"WindowManagerScaledChild.*", "QT_SCALE_FACTOR=2"}};
    for (const auto& [filter, scale] : parts) {
        Background child({fs::read_symlink("/proc/self/exe").string(), "--gtest_filter=" + filter},
                         {displayVar, "QT_QPA_PLATFORM=xcb", scale, std::string(kChildVariable) + "=1"}, true);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.waitBounded(std::chrono::seconds(90)), 0)
            << filter << ": the part on the display failed (its output is above)";
    }
}

// Run by the test above, on its display with openbox.
TEST(WindowManagerChild, ProgressWindowFrameMinimizeAndClose) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only on the display the window manager test makes";
    // A song that falls silent after its first bytes: it is under way for as
    // long as the steps below take, however slow the machine.
    testsupport::RangeServer::Setup setup;
    setup.file = {testsupport::songBody(1536 * 1024), "", ""};
    setup.dropAt = {64 * 1024};
    setup.drop = testsupport::RangeServer::Drop::Stall;
    testsupport::RangeServer server(setup);
    apptest::StoreFile file;
    store::SongStore(file.path).Insert("slow", server.url("/songs/slow-abc.mp3"), "key");
    testsupport::TempDir work;
    const fs::path old = fs::current_path();
    fs::current_path(work.path());
    fs::create_directories("downmp3");
    std::ofstream("downmp3/slow.mp3") << "older song";

    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    form->show();
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->windowHandle() && form->windowHandle()->isExposed(); }, 20000));
    const WId mainId = form->winId();
    dl::TDlWebDownload* window = nullptr;
    MinimizeSeen minimized;
    form->HTTPGet1->OnCustomizeForm = [&](dl::TDlWebHTTPGet&, dl::TDlWebDownload& w) {
        window = &w;
        w.installEventFilter(&minimized);
    };

    enum class Step { WaitForWindow, WaitForIconic, WaitForTogether, WaitForRestored, Closed } step = Step::WaitForWindow;
    std::string transientFor, netState, allowed, motif, frameExtents;
    bool minimizedAway = false;
    int ticksWaitingForIconic = 0;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!window || !window->isVisible()) return;
        const WId dialogId = window->winId();
        switch (step) {
        case Step::WaitForWindow:
            if (!window->windowHandle()->isExposed() || form->HTTPGet1->Downloads().BytesReceived == 0) return;
            // Set by the window manager once it manages the window: a
            // minimize asked before then is not carried out.
            frameExtents = x11Tool("xprop", {"-id", hexId(dialogId), "_NET_FRAME_EXTENTS"});
            if (frameExtents.find('=') == std::string::npos) return;
            transientFor = x11Tool("xprop", {"-id", hexId(dialogId), "WM_TRANSIENT_FOR"});
            netState = x11Tool("xprop", {"-id", hexId(dialogId), "_NET_WM_STATE"});
            allowed = x11Tool("xprop", {"-id", hexId(dialogId), "_NET_WM_ALLOWED_ACTIONS"});
            motif = x11Tool("xprop", {"-id", hexId(dialogId), "_MOTIF_WM_HINTS"});
            x11Tool("xdotool", {"windowminimize", std::to_string(dialogId)});
            step = Step::WaitForIconic;
            return;
        case Step::WaitForIconic:
            if (!minimized.seen && !iconic(dialogId)) {
                // Asked again now and then, as a user would click again: a
                // busy window manager may have dropped the first request.
                if (++ticksWaitingForIconic % 50 == 0)
                    x11Tool("xdotool", {"windowminimize", std::to_string(dialogId)});
                return;
            }
            step = Step::WaitForTogether;
            return;
        case Step::WaitForTogether:
            // Never minimized alone: back by itself, or gone with its owner.
            if (iconic(dialogId) && !iconic(mainId)) {
                minimizedAway = true;
                return;
            }
            minimizedAway = false;
            x11Tool("wmctrl", {"-i", "-a", hexId(mainId)});
            step = Step::WaitForRestored;
            return;
        case Step::WaitForRestored:
            if (iconic(dialogId) || iconic(mainId)) return;
            x11Tool("wmctrl", {"-i", "-c", hexId(mainId)});
            step = Step::Closed;
            return;
        case Step::Closed: return;
        }
    });
    // Bounded: a step that never comes, or a close that does not end the
    // run, fails the test instead of hanging it.
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        ADD_FAILURE() << "stuck at step " << static_cast<int>(step);
        form->HTTPGet1->Abort();
    });
    limit.start(60000);
    driver.start();
    form->N7->trigger();
    driver.stop();
    limit.stop();

    EXPECT_EQ(step, Step::Closed);
    EXPECT_NE(transientFor.find(hexId(mainId)), std::string::npos) << transientFor;
    EXPECT_NE(netState.find("_NET_WM_STATE_MODAL"), std::string::npos) << netState;
    EXPECT_EQ(allowed.find("MAXIMIZE"), std::string::npos) << allowed;
    // No decorations asked for, and none drawn: the window manager adds no
    // frame, so none of its buttons; the window draws its own title bar.
    EXPECT_NE(frameExtents.find("= 0, 0, 0, 0"), std::string::npos) << frameExtents;
    EXPECT_FALSE(minimizedAway);
    EXPECT_FALSE(form->isVisible());
    // Compared as a whole: a song that got through is 1.5 MiB to print.
    EXPECT_TRUE(readFile("downmp3/slow.mp3") == "older song") << "the older file was replaced";
    EXPECT_EQ(testsupport::namesIn("downmp3").size(), 1u);
    form.reset();
    fs::current_path(old);
}

namespace {

// A real click on the dialog's close box, placed on the window: where the
// window is on the screen may not be known here yet.
void clickCloseBox(QWidget& dialog) {
    const QWidget* closeBox = dialog.findChild<QWidget*>(QStringLiteral("CloseBox"));
    if (!closeBox) return;
    const QPoint at = closeBox->mapTo(&dialog, closeBox->rect().center());
    x11Tool("xdotool", {"mousemove", "--window", std::to_string(dialog.winId()), std::to_string(at.x()),
                        std::to_string(at.y()), "click", "1"});
}

// What a dialog looked like under the window manager.
struct DialogSeen {
    std::string frameExtents;
    bool ownCaption = false;
    bool closeBox = false;
};

// Runs `open`, which returns once the dialog it opens has closed. Meanwhile
// reads the dialog as the window manager has it, then closes it: by a real
// click on its close box when it shows one, else with `closeOtherwise`.
DialogSeen watchDialog(const std::function<void()>& open, const std::function<void(QWidget&)>& closeOtherwise) {
    DialogSeen seen;
    bool done = false;
    int ticksSinceClick = 0;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->windowHandle() || !dialog->windowHandle()->isExposed()) return;
        // A click the window manager placed before the window was where it
        // is now is lost: one that did not close it within a second or so
        // is given again, as a user would.
        if (done && seen.closeBox && ++ticksSinceClick % 50 == 0) return clickCloseBox(*dialog);
        if (done) return;
        // Set by the window manager once it manages the window.
        const std::string extents = x11Tool("xprop", {"-id", hexId(dialog->winId()), "_NET_FRAME_EXTENTS"});
        if (extents.find('=') == std::string::npos) return;
        done = true;
        seen.frameExtents = extents;
        const QWidget* caption = dialog->findChild<QWidget*>(QStringLiteral("CaptionBar"));
        seen.ownCaption = caption && caption->isVisible();
        QWidget* closeBox = dialog->findChild<QWidget*>(QStringLiteral("CloseBox"));
        seen.closeBox = closeBox && closeBox->isVisible();
        if (!seen.closeBox) return closeOtherwise(*dialog);
        clickCloseBox(*dialog);
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the dialog did not come or did not go";
        if (QWidget* dialog = QApplication::activeModalWidget()) dialog->hide();
    });
    limit.start(30000);
    driver.start();
    open();
    driver.stop();
    limit.stop();
    return seen;
}

}  // namespace

// Run by the test above, on its display with openbox. Each dialog and message
// box carries the program's own frame and no window manager's (whose frames
// have minimize and maximize boxes there), and a close box only where it can
// be cancelled; the close box cancels.
TEST(WindowManagerChild, DialogsAndMessageBoxesCarryNoMinimizeOrMaximize) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only on the display the window manager test makes";
    apptest::StoreFile file(2);
    testsupport::TempDir work;
    std::unique_ptr<app::TOKBottomDlg> aboutOwned;
    const fs::path old = fs::current_path();
    fs::current_path(work.path());
    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    // Parented to the window, which would delete it: it goes first.
    aboutOwned = std::make_unique<app::TOKBottomDlg>(form.get());
    form->setAboutDialog(aboutOwned.get());
    int opened = 0;
    form->setUrlOpener([&](const QString&) { return ++opened > 0; });
    form->show();
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->windowHandle() && form->windowHandle()->isExposed(); }, 20000));

    struct Case {
        const char* what;
        std::function<void()> open;
        bool closeBox;
    };
    const std::vector<Case> cases = {
        {"about dialog", [&] { form->SpeedButton5->click(); }, false},
        {"Clear question", [&] { form->SpeedButton2->click(); }, true},
        {"link message", [&] { form->IE1->trigger(); }, true},
        {"Save dialog", [&] { form->N2->trigger(); }, true},
        {"delete question",
         [&] {
             form->DBGrid1->setFocus();
             QTest::keyClick(form->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
         },
         true},
    };
    for (const Case& c : cases) {
        const DialogSeen seen = watchDialog(c.open, [](QWidget& dialog) {
            if (auto* button = dialog.findChild<QToolButton*>(QStringLiteral("SpeedButton1"))) button->click();
        });
        EXPECT_NE(seen.frameExtents.find("= 0, 0, 0, 0"), std::string::npos) << c.what << ": " << seen.frameExtents;
        EXPECT_TRUE(seen.ownCaption) << c.what;
        EXPECT_EQ(seen.closeBox, c.closeBox) << c.what;
    }
    // The close boxes cancelled: nothing cleared, deleted or downloaded.
    EXPECT_EQ(form->songStore().Count(), 2);
    EXPECT_EQ(form->DBGrid1->model()->rowCount(), 2);
    EXPECT_TRUE(form->HTTPGet1->URL.empty());
    EXPECT_EQ(opened, 1);  // the message box only tells; the link opens after it
    form->setAboutDialog(nullptr);
    aboutOwned.reset();
    form.reset();
    fs::current_path(old);
}

// Run by the test above, on its display with openbox. The main window
// opens at exactly its size and may be maximized: the window manager offers
// it, and the grid and the log take the screen.
TEST(WindowManagerChild, TheMainWindowOpensAtItsSizeAndMaximizes) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only on the display the window manager test makes";
    apptest::StoreFile file(2);
    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    form->show();
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->windowHandle() && form->windowHandle()->isExposed(); }, 20000));
    EXPECT_EQ(form->size(), QSize(592, 473));
    const std::string id = hexId(form->winId());
    std::string allowed;
    apptest::pumpUntil([&] {
        allowed = x11Tool("xprop", {"-id", id, "_NET_WM_ALLOWED_ACTIONS"});
        return allowed.find("MAXIMIZE") != std::string::npos;
    }, 20000);
    EXPECT_NE(allowed.find("_NET_WM_ACTION_MAXIMIZE"), std::string::npos) << allowed;
    const int gridHeight = form->DBGrid1->height();
    x11Tool("wmctrl", {"-i", "-r", id, "-b", "add,maximized_vert,maximized_horz"});
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->isMaximized() && form->width() > 592; }, 20000))
        << form->width() << "x" << form->height();
    apptest::pumpUntil([&] { return form->DBGrid1->height() > gridHeight; }, 10000);
    const QRect available = form->screen()->availableGeometry();
    EXPECT_GE(form->frameGeometry().width(), available.width() - 2);
    EXPECT_GT(form->DBGrid1->height(), gridHeight);
    EXPECT_EQ(form->DBGrid1->width(), form->width());
    form.reset();
}

// Run by the test above with twice the scale, so that the main window does
// not fit the screen: its frame's top-left corner, title bar and all, is on
// the screen all the same.
TEST(WindowManagerScaledChild, AMainWindowLargerThanTheScreenOpensWithItsCornerOnIt) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only on the display the window manager test makes";
    apptest::StoreFile file;
    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    form->show();
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->windowHandle() && form->windowHandle()->isExposed(); }, 20000));
    const QRect available = form->screen()->availableGeometry();
    ASSERT_GT(form->height(), available.height());
    // Once the window manager has told its frame and placed it: the frame
    // may be known a moment before the place the window asked for is taken.
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->frameGeometry().top() < form->geometry().top(); }, 20000));
    apptest::pumpUntil([&] { return form->frameGeometry().topLeft() == available.topLeft(); }, 10000);
    EXPECT_EQ(form->frameGeometry().topLeft(), available.topLeft())
        << form->frameGeometry().x() << "," << form->frameGeometry().y();
}

// Run by the test above, on its display with openbox. The window manager's
// close of the main window while the downloads list's songs download asks
// first: 取消 keeps the window, 退出 closes it.
TEST(WindowManagerChild, TheWindowManagersCloseAsksWhileTheListDownloads) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only on the display the window manager test makes";
    testsupport::RangeServer::Setup setup;
    setup.file = {testsupport::songBody(64 * 1024), "\"song\"", ""};
    setup.holdAt = 4096;
    testsupport::RangeServer server(setup);
    apptest::StoreFile file;
    testsupport::TempDir work;
    const fs::path old = fs::current_path();
    fs::current_path(work.path());
    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    form->show();
    ASSERT_TRUE(apptest::pumpUntil([&] { return form->windowHandle() && form->windowHandle()->isExposed(); }, 20000));
    form->downloadList().add({{QStringLiteral("一"), QString::fromStdString(server.url("/1.mp3"))},
                              {QStringLiteral("二"), QString::fromStdString(server.url("/2.mp3"))}});
    ASSERT_TRUE(apptest::pumpUntil([&] { return server.requestCount() >= 2; }, 30000));

    QString asked;
    QString answer;
    QTimer answerer;
    answerer.setInterval(20);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || answer.isEmpty()) return;
        asked = box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == answer) {
                answer.clear();
                b->click();
                return;
            }
    });
    answerer.start();
    for (const char* reply : {"取消", "退出"}) {
        SCOPED_TRACE(reply);
        asked.clear();
        answer = QString::fromUtf8(reply);
        x11Tool("wmctrl", {"-i", "-c", hexId(form->winId())});
        ASSERT_TRUE(apptest::pumpUntil([&] { return answer.isEmpty(); }, 30000)) << "no question came";
        EXPECT_EQ(asked, QStringLiteral("有 2 首歌曲正在下载，退出后下次启动会接着下载。退出吗？"));
        // The answer is taken inside the close: by now the window stays or goes.
        if (std::string(reply) == "取消") {
            EXPECT_TRUE(form->isVisible());
            EXPECT_EQ(form->downloadList().activeSongs(), 2);
        } else {
            EXPECT_TRUE(apptest::pumpUntil([&] { return !form->isVisible(); }, 30000));
        }
    }
    answerer.stop();
    form.reset();
    server.stop();
    fs::current_path(old);
}
