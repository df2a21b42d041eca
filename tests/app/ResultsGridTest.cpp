#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "app/DownloadList.h"
#include "app/DownloadListView.h"
#include "app/TForm1.h"
#include "store/DownloadListStore.h"
#include "store/SongStore.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"

using apptest::answerNextBox;
using apptest::ScriptedFetcher;
using apptest::ShownBox;
using apptest::StoreFile;

namespace {

class ResultsGridTest : public ::testing::Test {
protected:
    void open(int rows) {
        apptest::app();
        file_ = std::make_unique<StoreFile>(rows);
        form_ = std::make_unique<app::TForm1>(file_->path, std::make_unique<ScriptedFetcher>());
        form_->show();
        grid()->setFocus();
        apptest::pumpFor(20);
    }
    store::TDBGrid3D* grid() { return form_->DBGrid1; }
    QPoint cellCenter(int row, int column = 0) {
        return grid()->visualRect(grid()->model()->index(row, column)).center();
    }
    void clickRow(int row, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(grid()->viewport(), button, Qt::NoModifier, cellCenter(row));
    }
    void wheel(int delta) {
        const QPoint pos = cellCenter(0);
        QWheelEvent event(pos, grid()->viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid()->viewport(), &event);
    }
    void ctrlDelete() { QTest::keyClick(grid(), Qt::Key_Delete, Qt::ControlModifier); }

    std::unique_ptr<StoreFile> file_;
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(ResultsGridTest, ColumnsTitlesWidthsAndNoRowIndicator) {
    open(2);
    auto* model = grid()->model();
    ASSERT_EQ(model->columnCount(), 3);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("歌曲或专辑名称"));
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("搜索关键字"));
    EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("下载地址"));
    EXPECT_EQ(grid()->columnWidth(0), 252);
    EXPECT_EQ(grid()->columnWidth(1), 83);
    EXPECT_EQ(grid()->columnWidth(2), 400);
    EXPECT_FALSE(grid()->verticalHeader()->isVisible());
    EXPECT_EQ(model->data(model->index(1, 0)).toString(), QStringLiteral("title 1"));
    EXPECT_EQ(model->data(model->index(1, 1)).toString(), QStringLiteral("key"));
    EXPECT_EQ(model->data(model->index(1, 2)).toString(), QStringLiteral("http://h/1.mp3"));
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_EQ(grid()->currentRow(), 0);
}

// What the user does to the grid, one step.
struct GridStep {
    enum Kind { Click, RightClick, RightClickBelowTheRows, Wheel, Key } kind;
    int row = 0;  // Click, RightClick; the wheel's delta for Wheel
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    Qt::Key key = Qt::Key_unknown;
};

// The selection rules: the rows a right click leaves selected, and the
// current row, which is always the selected song, whatever moved it.
TEST_F(ResultsGridTest, SelectionRules) {
    using S = GridStep;
    struct Case {
        const char* what;
        std::vector<GridStep> steps;
        QList<int> selected;
        int current;
    };
    const std::vector<Case> cases = {
        {"a right click on a fresh start selects the row under the pointer", {{S::RightClick, 2}}, {2}, 2},
        {"a right click outside the selection selects that row alone",
         {{S::Click, 0}, {S::Click, 1, Qt::ControlModifier}, {S::RightClick, 3}}, {3}, 3},
        {"a right click inside a selection of several keeps it",
         {{S::Click, 0}, {S::Click, 2, Qt::ShiftModifier}, {S::RightClick, 1}}, {0, 1, 2}, 1},
        {"a right click below the rows changes nothing",
         {{S::Click, 1}, {S::Click, 3, Qt::ControlModifier}, {S::RightClickBelowTheRows}}, {1, 3}, 3},
        {"Ctrl+click adds a row", {{S::Click, 0}, {S::Click, 3, Qt::ControlModifier}}, {0, 3}, 3},
        {"Shift+click selects the rows between", {{S::Click, 1}, {S::Click, 3, Qt::ShiftModifier}}, {1, 2, 3}, 3},
        {"Shift+arrows extend the selection",
         {{S::Click, 1}, {S::Key, 0, Qt::ShiftModifier, Qt::Key_Down}, {S::Key, 0, Qt::ShiftModifier, Qt::Key_Down}},
         {1, 2, 3},
         3},
        {"Ctrl+A selects every row, the current one stays",
         {{S::Click, 2}, {S::Key, 0, Qt::ControlModifier, Qt::Key_A}}, {0, 1, 2, 3, 4}, 2},
        {"an arrow key moves the selected song", {{S::Click, 0}, {S::Key, 0, Qt::NoModifier, Qt::Key_Down}}, {1}, 1},
        {"the wheel moves the selected song", {{S::Click, 0}, {S::Wheel, -120}, {S::Wheel, -120}}, {2}, 2},
    };
    for (const Case& c : cases) {
        open(5);
        for (const GridStep& step : c.steps) {
            switch (step.kind) {
            case S::Click:
                QTest::mouseClick(grid()->viewport(), Qt::LeftButton, step.modifiers, cellCenter(step.row));
                break;
            case S::RightClick:
            case S::RightClickBelowTheRows: {
                const QPoint at = step.kind == S::RightClick
                                      ? cellCenter(step.row)
                                      : QPoint(20, grid()->visualRect(grid()->model()->index(4, 0)).bottom() + 20);
                QTest::mouseClick(grid()->viewport(), Qt::RightButton, Qt::NoModifier, at);
                EXPECT_TRUE(form_->PopupMenu1->isVisible()) << c.what;
                form_->PopupMenu1->close();
                break;
            }
            case S::Wheel: wheel(step.row); break;
            case S::Key: QTest::keyClick(grid(), step.key, step.modifiers); break;
            }
        }
        EXPECT_EQ(grid()->selectedRows(), c.selected) << c.what;
        EXPECT_EQ(grid()->currentRow(), c.current) << c.what;
        EXPECT_EQ(form_->selectedSong().title, QStringLiteral("title %1").arg(c.current)) << c.what;
        EXPECT_EQ(form_->selectedSong().url, QStringLiteral("http://h/%1.mp3").arg(c.current)) << c.what;
        QList<QString> titles;
        for (const app::SelectedSong& song : form_->songsToDownload()) titles << song.title;
        QList<QString> expected;
        for (int row : c.selected) expected << QStringLiteral("title %1").arg(row);
        EXPECT_EQ(titles, expected) << c.what;
    }
}

// Every key that moves the current row, with or without Ctrl, selects it, so
// the row the keyboard's menu and the commands act on is the one the user
// sees selected; Shift still selects a range, Ctrl+Space still toggles. The
// downloads list's page moves the same way.
TEST_F(ResultsGridTest, EveryKeyThatMovesTheCurrentRowSelectsIt) {
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int current;           // -1: anywhere below the row before
        QList<int> selected;   // empty: the current row alone
    };
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, none = Qt::NoModifier;
    const std::vector<Press> presses = {
        {Qt::Key_Down, none, 6, {}},
        {Qt::Key_Down, ctrl, 7, {}},
        {Qt::Key_Down, ctrl, 8, {}},
        {Qt::Key_Up, ctrl, 7, {}},
        {Qt::Key_Up, none, 6, {}},
        {Qt::Key_End, ctrl, 39, {}},
        {Qt::Key_Home, ctrl, 0, {}},
        {Qt::Key_End, none, 39, {}},
        {Qt::Key_Home, none, 0, {}},
        {Qt::Key_PageDown, none, -1, {}},
        {Qt::Key_PageUp, none, 0, {}},
        {Qt::Key_PageDown, ctrl, -1, {}},
        {Qt::Key_PageUp, ctrl, 0, {}},
        {Qt::Key_Down, ctrl | Qt::ShiftModifier, 1, {0, 1}},
        {Qt::Key_Down, Qt::ShiftModifier, 2, {0, 1, 2}},
        {Qt::Key_Space, ctrl, 2, {0, 1}},
        {Qt::Key_Down, ctrl, 3, {}},
    };
    open(40);
    std::vector<store::ListEntry> songs(40);
    for (std::size_t i = 0; i < songs.size(); ++i) {
        songs[i].id = static_cast<std::int64_t>(i) + 1;
        songs[i].title = "song " + std::to_string(i);
        songs[i].state = store::ListState::Finished;
    }
    form_->downloadList().model().setEntries(songs);
    const std::vector<std::pair<const char*, store::RowGridView*>> views = {{"results grid", grid()},
                                                                            {"downloads list", form_->DownloadListView1}};
    for (const auto& [name, view] : views) {
        form_->PageControl1->setCurrentWidget(view);
        view->setFocus();
        apptest::pumpFor(20);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                          view->visualRect(view->model()->index(5, 0)).center());
        int before = view->currentRow();
        for (const Press& press : presses) {
            const std::string what =
                std::string(name) + ": " + QKeySequence(press.key | press.modifiers).toString().toStdString();
            QTest::keyClick(view, press.key, press.modifiers);
            if (press.current >= 0) {
                EXPECT_EQ(view->currentRow(), press.current) << what;
            } else {
                EXPECT_GT(view->currentRow(), before) << what;
            }
            const QList<int> selected = press.selected.isEmpty() ? QList<int>{view->currentRow()} : press.selected;
            EXPECT_EQ(view->selectedRows(), selected) << what;
            if (view == grid()) {
                EXPECT_EQ(form_->selectedSong().title, QStringLiteral("title %1").arg(view->currentRow())) << what;
            }
            // In view, so the mark and the menu are where the user looks.
            EXPECT_TRUE(view->viewport()->rect().intersects(view->visualRect(view->currentIndex()))) << what;
            before = view->currentRow();
        }
    }
}

// The menu from the keyboard acts on the rows it shows selected: a current
// row left out of the selection (Ctrl+Space) is selected alone first, as a
// right click selects the row under the pointer.
TEST_F(ResultsGridTest, TheKeyboardsMenuActsOnTheRowsItShowsSelected) {
    open(5);
    clickRow(1);
    QTest::keyClick(grid(), Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(grid(), Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(grid()->selectedRows(), (QList<int>{1, 2, 3}));
    QTest::keyClick(grid(), Qt::Key_Menu);
    ASSERT_TRUE(form_->PopupMenu1->isVisible());
    form_->PopupMenu1->close();
    EXPECT_EQ(grid()->selectedRows(), (QList<int>{1, 2, 3}));  // inside the selection: it stays

    QTest::keyClick(grid(), Qt::Key_Space, Qt::ControlModifier);  // the current row 3 out
    ASSERT_EQ(grid()->selectedRows(), (QList<int>{1, 2}));
    QTest::keyClick(grid(), Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(form_->PopupMenu1->isVisible());
    form_->PopupMenu1->close();
    EXPECT_EQ(grid()->selectedRows(), QList<int>{3});
    ASSERT_EQ(form_->songsToDownload().size(), 1);
    EXPECT_EQ(form_->songsToDownload().first().title, QStringLiteral("title 3"));
    EXPECT_EQ(form_->selectedSong().title, QStringLiteral("title 3"));
}

// The current row carries a dotted mark along its whole length, on a
// selected row and on one that is not.
TEST_F(ResultsGridTest, TheCurrentRowIsMarked) {
    open(4);
    clickRow(1);
    const auto darkDotsAlong = [&](int row) {
        const QImage picture = grid()->viewport()->grab().toImage();
        const int y = grid()->rowViewportPosition(row);
        int dark = 0;
        for (int x = 0; x < picture.width(); ++x) dark += qGray(picture.pixel(x, y)) < 60 ? 1 : 0;
        return dark;
    };
    const int width = grid()->viewport()->width();
    EXPECT_GT(darkDotsAlong(1), width / 4);
    EXPECT_LT(darkDotsAlong(2), width / 20);
    QTest::keyClick(grid(), Qt::Key_Space, Qt::ControlModifier);  // current, no longer selected
    ASSERT_TRUE(grid()->selectedRows().isEmpty());
    EXPECT_GT(darkDotsAlong(1), width / 4);
    QTest::keyClick(grid(), Qt::Key_Down);
    EXPECT_LT(darkDotsAlong(1), width / 20);
    EXPECT_GT(darkDotsAlong(2), width / 4);
}

TEST_F(ResultsGridTest, ClickOnEmptyGridLeavesSelectionUnchanged) {
    open(0);
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    EXPECT_TRUE(form_->selectedSong().url.isEmpty());
    EXPECT_TRUE(form_->selectedSong().title.isEmpty());
}

TEST_F(ResultsGridTest, WheelStepsOneRecordAndStopsAtBothEnds) {
    open(3);
    clickRow(0);
    wheel(120);  // away from the user at the first record: stays
    EXPECT_EQ(grid()->currentRow(), 0);
    wheel(-360);  // one record per message, whatever the size
    EXPECT_EQ(grid()->currentRow(), 1);
    wheel(-120);
    wheel(-120);
    EXPECT_EQ(grid()->currentRow(), 2);  // stays on the last
    wheel(0);
    EXPECT_EQ(grid()->currentRow(), 2);
    wheel(120);
    EXPECT_EQ(grid()->currentRow(), 1);
    // The selected song follows the cursor.
    EXPECT_EQ(form_->selectedSong().url, QStringLiteral("http://h/1.mp3"));
}

TEST_F(ResultsGridTest, CtrlDeleteCancelKeepsRowOkDeletesIt) {
    open(3);
    clickRow(1);
    int asked = 0;
    grid()->setDeleteConfirmer([&] { ++asked; return false; });
    ctrlDelete();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(grid()->model()->rowCount(), 3);

    grid()->setDeleteConfirmer([&] { ++asked; return true; });
    ctrlDelete();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(grid()->model()->rowCount(), 2);
    EXPECT_EQ(form_->songStore().Count(), 2);
    store::SongStore fresh(file_->path);
    ASSERT_EQ(fresh.Count(), 2);
    EXPECT_EQ(*fresh.Row(0)->title, "title 0");
    EXPECT_EQ(*fresh.Row(1)->title, "title 2");
    EXPECT_EQ(form_->logLines().size(), 3);  // nothing logged
}

TEST_F(ResultsGridTest, CtrlDeleteRemovesTheConfirmedRowEvenWhenTheGridChangedMeanwhile) {
    open(3);
    clickRow(1);
    // While the question is open a page ends (re-query) after another program
    // sharing the file removed the first row: the rows shift up by one.
    grid()->setDeleteConfirmer([&] {
        store::SongStore other(file_->path);
        other.DeleteRow(0);
        form_->requeryAndCount();
        return true;
    });
    ctrlDelete();
    store::SongStore fresh(file_->path);
    ASSERT_EQ(fresh.Count(), 1);
    EXPECT_EQ(*fresh.Row(0)->title, "title 2");
    EXPECT_EQ(grid()->model()->rowCount(), 1);

    // A confirmed row that is gone by then deletes nothing else.
    clickRow(0);
    grid()->setDeleteConfirmer([&] {
        store::SongStore other(file_->path);
        other.DeleteRow(0);
        other.Insert("late", "http://h/late.mp3", "k");
        form_->requeryAndCount();
        return true;
    });
    ctrlDelete();
    store::SongStore after(file_->path);
    ASSERT_EQ(after.Count(), 1);
    EXPECT_EQ(*after.Row(0)->title, "late");
}

TEST_F(ResultsGridTest, CtrlDeleteOnEmptyGridAsksNothing) {
    open(0);
    int asked = 0;
    grid()->setDeleteConfirmer([&] { ++asked; return true; });
    ctrlDelete();
    EXPECT_EQ(asked, 0);
}

TEST_F(ResultsGridTest, SelectionSurvivesClearAndRequeryMakesFirstRowCurrent) {
    open(3);
    clickRow(2);
    form_->setClearConfirmer([] { return true; });
    form_->SpeedButton2->click();
    EXPECT_EQ(grid()->model()->rowCount(), 0);
    EXPECT_EQ(form_->selectedSong().title, QStringLiteral("title 2"));

    form_->songStore().Insert("new a", "http://h/a.mp3", "k");
    form_->songStore().Insert("new b", "http://h/b.mp3", "k");
    EXPECT_EQ(grid()->model()->rowCount(), 0);  // snapshot until requery
    EXPECT_EQ(form_->requeryAndCount(), 2);
    EXPECT_EQ(grid()->model()->rowCount(), 2);
    EXPECT_EQ(grid()->currentRow(), 0);
}

TEST_F(ResultsGridTest, TabMovesThroughColumnsInsideTheGrid) {
    open(2);
    clickRow(0);
    ASSERT_EQ(grid()->currentIndex().column(), 0);
    QTest::keyClick(grid(), Qt::Key_Tab);
    EXPECT_EQ(grid()->currentIndex().column(), 1);
    EXPECT_TRUE(grid()->hasFocus());
    QTest::keyClick(grid(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(grid()->currentIndex().column(), 0);
}

TEST_F(ResultsGridTest, MenuKeyAndShiftF10OpenTheMenuForTheCurrentRow) {
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int row;
    };
    open(3);
    clickRow(0);
    for (const Press& press : {Press{Qt::Key_Menu, Qt::NoModifier, 2}, Press{Qt::Key_F10, Qt::ShiftModifier, 1}}) {
        // The keyboard moves the current row; the menu opens at that row and
        // its commands act on its song.
        grid()->setCurrentIndex(grid()->model()->index(press.row, 0));
        QTest::keyClick(grid(), press.key, press.modifiers);
        ASSERT_TRUE(form_->PopupMenu1->isVisible()) << press.key;
        const QRect cell(grid()->viewport()->mapToGlobal(grid()->visualRect(grid()->currentIndex()).topLeft()),
                         grid()->visualRect(grid()->currentIndex()).size());
        EXPECT_EQ(form_->PopupMenu1->pos().x(), cell.left());
        EXPECT_NEAR(form_->PopupMenu1->pos().y(), cell.bottom(), 1);
        EXPECT_EQ(form_->selectedSong().url, QStringLiteral("http://h/%1.mp3").arg(press.row));
        EXPECT_EQ(form_->selectedSong().title, QStringLiteral("title %1").arg(press.row));
        form_->PopupMenu1->close();
    }
    // F10 alone is no menu key.
    QTest::keyClick(grid(), Qt::Key_F10);
    EXPECT_FALSE(form_->PopupMenu1->isVisible());
}

TEST_F(ResultsGridTest, MenuKeyOnAnEmptyGridOpensTheMenuWithoutSelecting) {
    open(0);
    QTest::keyClick(grid(), Qt::Key_Menu);
    EXPECT_TRUE(form_->PopupMenu1->isVisible());
    form_->PopupMenu1->close();
    EXPECT_TRUE(form_->selectedSong().url.isEmpty());
}

TEST_F(ResultsGridTest, MenuShowsItsLeadingSeparator) {
    open(1);
    QMenu* menu = form_->PopupMenu1;
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(apptest::pumpUntil([&] { return menu->isVisible(); }, 30000));
    const QImage picture = menu->grab().toImage();
    const auto actions = menu->actions();
    // Each separator, the first one included, draws its line inside its own
    // room, clear of the menu's frame.
    for (int i : {0, 4, 6, 8}) {
        ASSERT_TRUE(actions[i]->isSeparator()) << i;
        const QRect room = menu->actionGeometry(actions[i]);
        ASSERT_GE(room.height(), 3) << i;
        bool line = false;
        for (int y = room.top(); y <= room.bottom(); ++y)
            line = line || picture.pixelColor(room.center().x(), y) == QColor(0x80, 0x80, 0x80);
        EXPECT_TRUE(line) << i;
    }
    EXPECT_LT(menu->actionGeometry(actions[0]).bottom(), menu->actionGeometry(actions[1]).top());
    menu->close();
}

TEST_F(ResultsGridTest, DeleteQuestionKeepsItsEnglishTexts) {
    open(2);
    ShownBox shown;
    answerNextBox(shown, QMessageBox::Cancel);
    ctrlDelete();
    EXPECT_EQ(shown.caption, QStringLiteral("Confirm"));
    EXPECT_EQ(shown.text, QStringLiteral("Delete record?"));
    shown.buttons.sort();
    EXPECT_EQ(shown.buttons, (QStringList{QStringLiteral("Cancel"), QStringLiteral("OK")}));
    EXPECT_EQ(grid()->model()->rowCount(), 2);
}

namespace {

// A store of `rows` rows "title N" / "http://h/N.mp3" / "key", written in
// one transaction.
void writeRows(const std::string& path, int rows) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into tab1 values (?, ?, 'key')", -1, &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
        const std::string title = "title " + std::to_string(i);
        const std::string url = "http://h/" + std::to_string(i) + ".mp3";
        sqlite3_bind_text(insert, 1, title.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, url.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

}  // namespace

// A large store: every row is in the grid, at one fixed height, and only the
// rows drawn are read.
TEST_F(ResultsGridTest, ALargeStoreIsShownReadingOnlyTheRowsOnScreen) {
    constexpr int kRows = 300000;
    apptest::app();
    file_ = std::make_unique<StoreFile>();
    writeRows(file_->path, kRows);
    form_ = std::make_unique<app::TForm1>(file_->path, std::make_unique<ScriptedFetcher>());
    form_->show();
    grid()->setFocus();
    grid()->viewport()->grab();

    ASSERT_EQ(grid()->model()->rowCount(), kRows);
    EXPECT_EQ(form_->logLines().last(), QStringLiteral("当前歌曲数量：\u3000%1").arg(kRows));
    EXPECT_EQ(grid()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_EQ(grid()->currentRow(), 0);
    EXPECT_EQ(form_->selectedSong().title, QStringLiteral("title 0"));

    grid()->scrollToBottom();
    grid()->viewport()->grab();
    const int last = kRows - 1;
    const QModelIndex lastCell = grid()->model()->index(last, 2);
    EXPECT_TRUE(grid()->viewport()->rect().intersects(grid()->visualRect(lastCell)));
    EXPECT_EQ(lastCell.data().toString(), QStringLiteral("http://h/%1.mp3").arg(last));
    EXPECT_LT(form_->songStore().CachedRows(), 1000u);

    // The wheel, a click and Ctrl+Delete at the end of it.
    grid()->setCurrentIndex(grid()->model()->index(last - 1, 0));
    wheel(-120);
    wheel(-120);
    EXPECT_EQ(grid()->currentRow(), last);
    clickRow(last);
    EXPECT_EQ(form_->selectedSong().url, QStringLiteral("http://h/%1.mp3").arg(last));
    grid()->setDeleteConfirmer([] { return true; });
    ctrlDelete();
    EXPECT_EQ(grid()->model()->rowCount(), kRows - 1);
    EXPECT_EQ(form_->songStore().Count(), kRows - 1);
}

// A re-opening after a search page keeps the grid as a full read of the
// store would show it, with the first row current.
TEST_F(ResultsGridTest, AReopeningAfterOwnAndOtherRowsShowsThemAllWithTheFirstCurrent) {
    open(3);
    clickRow(2);
    form_->songStore().Insert("own", "http://h/own.mp3", "key");
    writeRows(file_->path, 2);  // another program's rows, "title 0" and "title 1" again
    form_->songStore().Insert("own 2", "http://h/own2.mp3", "key");
    EXPECT_EQ(form_->requeryAndCount(), 7);
    EXPECT_EQ(grid()->currentRow(), 0);
    QStringList titles;
    for (int row = 0; row < grid()->model()->rowCount(); ++row)
        titles << grid()->model()->index(row, 0).data().toString();
    EXPECT_EQ(titles, (QStringList{"title 0", "title 1", "title 2", "own", "title 0", "title 1", "own 2"}));
}
