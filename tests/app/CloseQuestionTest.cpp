// Closing the window while the downloads list's songs download asks first;
// 取消 keeps the window and the songs going, 退出 closes it; with nothing
// downloading it closes at once. (The window manager's close asks the same,
// see the window manager test; a signal never asks, see the program test.)
#include <memory>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "app/DownloadList.h"
#include "app/TForm1.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/RangeServer.h"

using apptest::pumpUntil;

namespace {

// Watches for the next message box and answers it with the button of that
// text; what it showed fills in once it came.
class QuitBoxAnswer {
public:
    explicit QuitBoxAnswer(QString button) : button_(std::move(button)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            timer_.stop();
            shown.caption = box->windowTitle();
            shown.text = box->text();
            QAbstractButton* answer = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                shown.buttons << b->text();
                if (b->text() == button_) answer = b;
            }
            if (answer) {
                answer->click();
            } else {
                box->reject();
            }
        });
        timer_.start();
    }
    apptest::ShownBox shown;

private:
    QString button_;
    QTimer timer_;
};

class CloseQuestion : public ::testing::Test {
protected:
    CloseQuestion() {
        testsupport::RangeServer::Setup setup;
        setup.file = {testsupport::songBody(64 * 1024, 5), "\"song\"", ""};
        // Every song stays under way until the test ends.
        setup.holdAt = 4096;
        server_ = std::make_unique<testsupport::RangeServer>(setup);
        form_ = std::make_unique<app::TForm1>(file_.path, std::make_unique<apptest::ScriptedFetcher>());
        form_->show();
    }
    ~CloseQuestion() override {
        form_.reset();
        server_->stop();
    }
    void addSongs(int count) {
        QList<app::DownloadList::Song> songs;
        for (int i = 0; i < count; ++i)
            songs.append({QStringLiteral("歌%1").arg(i),
                          QString::fromStdString(server_->url("/" + std::to_string(i) + ".mp3"))});
        form_->downloadList().add(songs);
    }

    apptest::StoreFile file_;
    apptest::WorkDir work_;
    std::unique_ptr<testsupport::RangeServer> server_;
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(CloseQuestion, AskedWhileSongsDownloadCancelKeepsTheWindowQuitClosesIt) {
    addSongs(3);
    // Two download, one waits: all three are the list's to fetch.
    ASSERT_TRUE(pumpUntil([&] { return server_->requestCount() >= 2; }, 30000));
    {
        QuitBoxAnswer cancel(QStringLiteral("取消"));
        form_->SpeedButton1->click();
        EXPECT_EQ(cancel.shown.caption, QStringLiteral("退出"));
        EXPECT_EQ(cancel.shown.text, QStringLiteral("有 3 首歌曲正在下载，退出后下次启动会接着下载。退出吗？"));
        EXPECT_EQ(cancel.shown.buttons.size(), 2);
        EXPECT_TRUE(cancel.shown.buttons.contains(QStringLiteral("退出")));
        EXPECT_TRUE(cancel.shown.buttons.contains(QStringLiteral("取消")));
    }
    EXPECT_TRUE(form_->isVisible());
    EXPECT_EQ(form_->downloadList().activeSongs(), 3);
    {
        QuitBoxAnswer quit(QStringLiteral("退出"));
        form_->SpeedButton1->click();
        EXPECT_FALSE(quit.shown.text.isEmpty());
    }
    EXPECT_FALSE(form_->isVisible());
}

TEST_F(CloseQuestion, NothingDownloadingClosesWithoutAQuestion) {
    QuitBoxAnswer none(QStringLiteral("取消"));
    form_->SpeedButton1->click();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(none.shown.text.isEmpty());
}

// The program's own close (a signal's, the session's end's) never asks.
TEST_F(CloseQuestion, TheProgramsOwnCloseNeverAsks) {
    addSongs(1);
    ASSERT_TRUE(pumpUntil([&] { return server_->requestCount() >= 1; }, 30000));
    QuitBoxAnswer none(QStringLiteral("取消"));
    form_->close();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(none.shown.text.isEmpty());
}
