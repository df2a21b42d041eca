// 检查链接 through the window, as a user works it: a search on the demo
// service fills the grid, Ctrl+A and the menu's 检查链接 probe every row's
// link against the loopback servers (songs, a page in a song's place, a
// missing file, a non-web address), the rows take their marks, grey and
// tooltips while the three columns stay as they are, and the next start shows
// them again from the store. Closing the window during a check ends it at
// once. Every step waits on what the window or a server has seen.
#include <array>
#include <functional>
#include <optional>

#include <QComboBox>
#include <QHelpEvent>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <gtest/gtest.h>

#include "app/GridLinkChecks.h"
#include "app/TForm1.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/LinkVerdictStore.h"
#include "store/SongStore.h"
#include "store/view/GridVerdictLoader.h"
#include "store/view/GridVerdicts.h"
#include "store/view/LinkVerdictMarks.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/DemoServiceProcess.h"
#include "tests/support/HeldAnswerServer.h"

using apptest::pumpUntil;
using store::LinkVerdictKind;
using store::SongTableModel;

namespace {

const QString kSearchEnded = QStringLiteral("所有歌曲都已经搜索完毕，请及时下载！过期可能会失效。");

class LinkChecksWindow : public ::testing::Test {
protected:
    ~LinkChecksWindow() override {
        if (form_) form_->close();
        form_.reset();
    }
    void openWindow() {
        apptest::app();
        ::setenv("BRELVOMP3_SEARCH_HOST", ("127.0.0.1:" + std::to_string(service_.port())).c_str(), 1);
        form_ = std::make_unique<app::TForm1>(file_.path, std::make_unique<search::NetHttpPageFetcher>());
        ::unsetenv("BRELVOMP3_SEARCH_HOST");
        form_->show();
    }
    store::TDBGrid3D* grid() { return form_->DBGrid1; }
    SongTableModel* model() { return grid()->songModel(); }
    void search() {
        form_->ComboBox1->setEditText(QStringLiteral("月亮"));
        form_->Button1->click();
        ASSERT_TRUE(pumpUntil([&] { return form_->logLines().contains(kSearchEnded); }));
    }
    void storeRow(const std::string& title, const std::string& url) {
        form_->songStore().Insert(title, url, "手工");
        form_->songStore().RequeryBriefly();
    }
    // Ctrl+A, a right click on the first row, then 检查链接.
    void checkAll() {
        grid()->setFocus();
        QTest::keyClick(grid(), Qt::Key_A, Qt::ControlModifier);
        const QModelIndex first = model()->index(0, 0);
        QTest::mouseClick(grid()->viewport(), Qt::RightButton, Qt::NoModifier, grid()->visualRect(first).center());
        ASSERT_TRUE(pumpUntil([&] { return form_->PopupMenu1->isVisible(); }, 30000));
        ASSERT_TRUE(form_->CheckLinks1->isEnabled());
        QTest::mouseClick(form_->PopupMenu1, Qt::LeftButton, Qt::NoModifier,
                          form_->PopupMenu1->actionGeometry(form_->CheckLinks1).center());
    }
    int rowWhoseUrl(const std::function<bool(const QString&)>& wanted) {
        for (int row = 0; row < model()->rowCount(); ++row)
            if (wanted(model()->cellText(row, SongTableModel::UrlColumn))) return row;
        return -1;
    }
    QVariant role(int row, int column, int r) { return model()->data(model()->index(row, column), r); }
    std::optional<LinkVerdictKind> markOf(int row) {
        const QVariant mark = role(row, 0, Qt::DecorationRole);
        if (!mark.isValid()) return std::nullopt;
        for (auto kind : {LinkVerdictKind::Audio, LinkVerdictKind::NotAudio, LinkVerdictKind::Dead,
                          LinkVerdictKind::Unavailable})
            if (mark.value<QIcon>().cacheKey() == store::verdictMark(kind).cacheKey()) return kind;
        return std::nullopt;
    }
    // What the grid's tooltip says over a cell, as hovering asks for it.
    QString hoverText(int row, int column) {
        const QModelIndex index = model()->index(row, column);
        grid()->scrollTo(index);
        const QPoint at = grid()->visualRect(index).center();
        QHelpEvent help(QEvent::ToolTip, at, grid()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid()->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    apptest::StoreFile file_;
    apptest::WorkDir work_;
    testsupport::DemoServiceProcess service_{{"--port", "0"}};
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(LinkChecksWindow, MenuEntryAfterAddToListAndOnlyForSelectedRows) {
    ASSERT_GT(service_.port(), 0);
    openWindow();
    const QList<QAction*> entries = form_->PopupMenu1->actions();
    const auto at = entries.indexOf(form_->AddToList1);
    ASSERT_GE(at, 0);
    ASSERT_LT(at + 1, entries.size());
    EXPECT_EQ(entries[at + 1], form_->CheckLinks1);
    EXPECT_EQ(form_->CheckLinks1->text(), QStringLiteral("检查链接"));
    // An empty grid selects nothing: the entry is greyed out.
    QTest::mouseClick(grid()->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
    ASSERT_TRUE(pumpUntil([&] { return form_->PopupMenu1->isVisible(); }, 30000));
    EXPECT_FALSE(form_->CheckLinks1->isEnabled());
    form_->PopupMenu1->hide();
}

TEST_F(LinkChecksWindow, VerdictsOnTheRowsAtAGlanceOnHoverAndAfterARestart) {
    ASSERT_GT(service_.port(), 0);
    openWindow();
    search();
    const std::string base = "http://127.0.0.1:" + std::to_string(service_.port());
    storeRow("已经下架的歌", base + "/gone/away.mp3");
    storeRow("本机的文件", "file:///etc/hostname");
    ASSERT_TRUE(pumpUntil([&] { return rowWhoseUrl([](const QString& u) { return u.startsWith("file:"); }) >= 0; }));
    const int rows = model()->rowCount();
    std::vector<std::array<QString, 3>> before;
    for (int row = 0; row < rows; ++row)
        before.push_back({model()->cellText(row, SongTableModel::TitleColumn),
                          model()->cellText(row, SongTableModel::KeysColumn),
                          model()->cellText(row, SongTableModel::UrlColumn)});

    checkAll();
    ASSERT_TRUE(pumpUntil([&] { return form_->logLines().last().startsWith(QStringLiteral("检查了 ")); }));
    const QStringList lines = form_->logLines();
    EXPECT_TRUE(lines.contains(QStringLiteral("不检查 1 个链接：只检查 http 或 https 网址。")));
    const QString ended = lines.last();
    // Every song and page of the search's, the link that is gone.
    EXPECT_TRUE(ended.startsWith(QStringLiteral("检查了 %1 个链接：").arg(rows - 1))) << ended.toStdString();
    EXPECT_TRUE(ended.endsWith(QStringLiteral("个不是歌曲，1 个失效，0 个暂时不可用。"))) << ended.toStdString();

    const int song = rowWhoseUrl([](const QString& u) {
        return u.contains("/songs/") && !u.contains("listen-") && !u.contains("slow-");
    });
    const int page = rowWhoseUrl([](const QString& u) { return u.contains("listen-"); });
    const int gone = rowWhoseUrl([](const QString& u) { return u.contains("/gone/"); });
    const int local = rowWhoseUrl([](const QString& u) { return u.startsWith("file:"); });
    ASSERT_GE(song, 0);
    ASSERT_GE(page, 0);
    ASSERT_GE(gone, 0);
    EXPECT_EQ(markOf(song), LinkVerdictKind::Audio);
    EXPECT_EQ(markOf(page), LinkVerdictKind::NotAudio);
    EXPECT_EQ(markOf(gone), LinkVerdictKind::Dead);
    EXPECT_EQ(markOf(local), std::nullopt);
    EXPECT_FALSE(role(song, 1, Qt::ForegroundRole).isValid());
    EXPECT_EQ(role(gone, 1, Qt::ForegroundRole).value<QColor>(), store::greyedText());
    EXPECT_EQ(role(page, 2, Qt::ForegroundRole).value<QColor>(), store::greyedText());
    EXPECT_TRUE(hoverText(song, 0).startsWith(QStringLiteral("可用：128 kbps，"))) << hoverText(song, 0).toStdString();
    EXPECT_TRUE(hoverText(song, 0).endsWith(QStringLiteral("（刚刚检查）")));
    EXPECT_EQ(hoverText(gone, 2), QStringLiteral("失效：HTTP 404（刚刚检查）"));
    // The demo's page answers a range with a Content-Range past its end,
    // which tells nothing of the bytes: not a song, whatever they are.
    EXPECT_TRUE(hoverText(page, 1).startsWith(QStringLiteral("不是歌曲"))) << hoverText(page, 1).toStdString();
    // The three columns, their titles, order and texts, as before.
    ASSERT_EQ(model()->columnCount(), 3);
    EXPECT_EQ(model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("歌曲或专辑名称"));
    EXPECT_EQ(model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("搜索关键字"));
    EXPECT_EQ(model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("下载地址"));
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(role(row, column, Qt::DisplayRole).toString(), before[row][column]) << row << "," << column;

    // The next start shows them from the store, before any check.
    const QString goneUrl = model()->cellText(gone, SongTableModel::UrlColumn);
    form_->close();
    form_.reset();
    openWindow();
    ASSERT_TRUE(pumpUntil([&] { return form_->verdictLoader().idle() && markOf(gone) == LinkVerdictKind::Dead; }));
    EXPECT_EQ(model()->cellText(gone, SongTableModel::UrlColumn), goneUrl);
    EXPECT_EQ(markOf(song), LinkVerdictKind::Audio);
    EXPECT_EQ(markOf(local), std::nullopt);
}

TEST_F(LinkChecksWindow, ClosingTheWindowEndsACheckUnderWay) {
    ASSERT_GT(service_.port(), 0);
    testsupport::HeldAnswerServer held("never sent");
    openWindow();
    storeRow("不回答的歌", held.url("/silent.mp3"));
    ASSERT_TRUE(pumpUntil([&] { return model()->rowCount() == 1; }));
    checkAll();
    ASSERT_TRUE(held.waitForRequest(std::chrono::seconds(30)));
    EXPECT_FALSE(form_->linkChecks().idle());
    form_->close();
    form_.reset();
    // Had the close not stopped the probe, the window would have waited for
    // the probe's own time limit and kept "失效：超时".
    EXPECT_TRUE(store::LinkVerdictStore(file_.path).find({held.url("/silent.mp3")}).empty());
}
