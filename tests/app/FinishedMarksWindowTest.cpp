// 已下载 marks through the window, as a user works it: songs of the demo
// service stored as rows, one downloaded with 下载歌曲 from the menu and one
// by the downloads list; both rows take the mark and its tooltip, the
// columns stay as they are; a file deleted is marked 文件已删除 at the next
// check, and the next start shows the marks again from the store. Every
// step waits on what the window has seen.
#include <filesystem>
#include <optional>

#include <QIcon>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include "app/DownloadList.h"
#include "app/DownloadListModel.h"
#include "app/TForm1.h"
#include "store/SongStore.h"
#include "store/view/FinishedSongChecker.h"
#include "store/view/FinishedSongMarks.h"
#include "store/view/GridFinishedSongs.h"
#include "store/view/LinkVerdictText.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/DemoServiceProcess.h"
#include "tools/demo-service/DemoMedia.h"

namespace {

namespace fs = std::filesystem;
using apptest::pumpUntil;
using store::FinishedFileState;

class FinishedMarksWindow : public ::testing::Test {
protected:
    ~FinishedMarksWindow() override { closeWindow(); }
    std::string demoUrl(const std::string& path) { return "http://127.0.0.1:" + std::to_string(service_.port()) + path; }
    void openWindow() {
        apptest::app();
        form_ = std::make_unique<app::TForm1>(file_.path, std::make_unique<apptest::ScriptedFetcher>());
        form_->show();
    }
    void closeWindow() {
        if (!form_) return;
        form_->close();
        form_.reset();
    }
    store::SongTableModel* model() { return form_->DBGrid1->songModel(); }
    std::optional<FinishedFileState> markOf(int row) {
        const QVariant mark = model()->data(model()->index(row, 0), Qt::DecorationRole);
        if (!mark.isValid()) return std::nullopt;
        const qint64 key = mark.value<QIcon>().cacheKey();
        if (key == store::finishedMark(FinishedFileState::Kept).cacheKey()) return FinishedFileState::Kept;
        if (key == store::finishedMark(FinishedFileState::Gone).cacheKey()) return FinishedFileState::Gone;
        return std::nullopt;
    }
    QString tipOf(int row, int column) {
        return model()->data(model()->index(row, column), Qt::ToolTipRole).toString();
    }
    // Left click on the row, right click, then the menu entry; returns once
    // the modal download has ended.
    void chooseFromMenu(int row, QAction* entry) {
        store::TDBGrid3D* grid = form_->DBGrid1;
        const QModelIndex index = grid->model()->index(row, 0);
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, grid->visualRect(index).center());
        QTest::mouseClick(grid->viewport(), Qt::RightButton, Qt::NoModifier, grid->visualRect(index).center());
        ASSERT_TRUE(pumpUntil([&] { return form_->PopupMenu1->isVisible(); }, 30000));
        QTest::mouseClick(form_->PopupMenu1, Qt::LeftButton, Qt::NoModifier,
                          form_->PopupMenu1->actionGeometry(entry).center());
    }
    static QString sizeOf(const std::string& name) {
        return store::linkSize(static_cast<std::int64_t>(demo::silentMp3(name).size()));
    }

    apptest::StoreFile file_;
    apptest::WorkDir work_;
    testsupport::DemoServiceProcess service_{{"--port", "0"}};
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(FinishedMarksWindow, DownloadedByTheMenuAndByTheListDeletedAndShownAgainAtTheNextStart) {
    ASSERT_GT(service_.port(), 0);
    {
        store::SongStore songs(file_.path);
        songs.Insert("模态下载", demoUrl("/songs/modal-one.mp3"), "key");
        songs.Insert("列表下载", demoUrl("/songs/list-one.mp3"), "key");
        songs.Insert("没下载", demoUrl("/songs/never.mp3"), "key");
    }
    openWindow();
    ASSERT_TRUE(pumpUntil([&] { return model()->rowCount() == 3; }));
    EXPECT_FALSE(markOf(0));

    chooseFromMenu(0, form_->N7);
    ASSERT_TRUE(pumpUntil([&] { return markOf(0) == FinishedFileState::Kept; }, 30000));
    // "已下载：downmp3/模态下载.mp3（N KB）", the size as it was saved.
    const QString modalTip = tipOf(0, 2);
    EXPECT_EQ(modalTip, QStringLiteral("已下载：downmp3/模态下载.mp3（") + sizeOf("modal-one") + QStringLiteral("）"));
    EXPECT_EQ(model()->cellText(0, store::SongTableModel::TitleColumn), QStringLiteral("模态下载"));
    EXPECT_EQ(model()->cellText(0, store::SongTableModel::KeysColumn), QStringLiteral("key"));

    form_->downloadList().add({{QStringLiteral("列表下载"), QString::fromStdString(demoUrl("/songs/list-one.mp3"))}});
    ASSERT_TRUE(pumpUntil([&] { return markOf(1) == FinishedFileState::Kept; }, 60000));
    EXPECT_TRUE(tipOf(1, 0).startsWith(QStringLiteral("已下载：downmp3/列表下载.mp3（")));
    EXPECT_FALSE(markOf(2));

    // Deleted behind the program's back: seen at the next check.
    fs::remove(work_.downloads() / "模态下载.mp3");
    form_->finishedChecker().checkNow();
    ASSERT_TRUE(pumpUntil([&] { return markOf(0) == FinishedFileState::Gone; }, 30000));
    EXPECT_EQ(tipOf(0, 0), QStringLiteral("文件已删除：downmp3/模态下载.mp3"));
    EXPECT_EQ(markOf(1), FinishedFileState::Kept);

    closeWindow();
    openWindow();
    ASSERT_TRUE(pumpUntil([&] { return markOf(0) == FinishedFileState::Gone && markOf(1) == FinishedFileState::Kept; },
                          30000));
    EXPECT_FALSE(markOf(2));
}
