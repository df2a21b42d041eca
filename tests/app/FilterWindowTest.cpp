#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "app/TForm1.h"
#include "store/view/SongFilterBar.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"

namespace {

// The main window over a store of "title 0" to "title N-1", filtered through its bar.
class FilterWindowTest : public ::testing::Test {
protected:
    void open(int rows) {
        apptest::app();
        file_ = std::make_unique<apptest::StoreFile>(rows);
        form_ = std::make_unique<app::TForm1>(file_->path, std::make_unique<apptest::ScriptedFetcher>());
        form_->show();
        form_->DBGrid1->setFocus();
        apptest::pumpFor(20);
    }
    store::SongFilterBar* bar() { return form_->findChild<store::SongFilterBar*>(QStringLiteral("FilterBar")); }
    QLabel* count() { return bar()->findChild<QLabel*>(QStringLiteral("FilterCount")); }
    int rows() { return form_->DBGrid1->model()->rowCount(); }
    // Waits for the count line to say `text`.
    bool countSays(const QString& text) {
        return apptest::pumpUntil([&] { return count()->text() == text; }, 20000);
    }

    std::unique_ptr<apptest::StoreFile> file_;
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(FilterWindowTest, CtrlFTypingTheCountLineAndEsc) {
    open(30);
    ASSERT_NE(bar(), nullptr);
    EXPECT_FALSE(bar()->isVisible());
    // From the downloads list's page too: the results come to the front.
    form_->PageControl1->setCurrentIndex(1);
    QTest::keyClick(form_.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(form_->PageControl1->currentWidget(), form_->DBGrid1);
    ASSERT_TRUE(bar()->isVisible());
    EXPECT_TRUE(bar()->entry()->hasFocus());
    // Over the grid's bottom rows, inside it.
    EXPECT_TRUE(form_->DBGrid1->rect().contains(bar()->geometry()));

    // Full width, as "title 2" folds; QTest types ASCII only, an input method the rest.
    bar()->entry()->insert(QStringLiteral("ＴＩＴＬＥ　２"));
    EXPECT_TRUE(countSays(QStringLiteral("显示 11 首（共 30 首）"))) << count()->text().toStdString();
    EXPECT_EQ(rows(), 11);
    auto* model = form_->DBGrid1->songModel();
    EXPECT_EQ(model->cellText(0, store::SongTableModel::TitleColumn), QStringLiteral("title 2"));
    EXPECT_EQ(model->cellText(1, store::SongTableModel::TitleColumn), QStringLiteral("title 20"));
    QTest::keyClick(bar()->entry(), Qt::Key_5);
    EXPECT_TRUE(countSays(QStringLiteral("显示 1 首（共 30 首）")));
    EXPECT_EQ(model->cellText(0, store::SongTableModel::TitleColumn), QStringLiteral("title 25"));

    // Ctrl+Delete on a filtered row deletes that song.
    form_->DBGrid1->setDeleteConfirmer([] { return true; });
    form_->DBGrid1->setFocus();
    QTest::keyClick(form_->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(countSays(QStringLiteral("显示 0 首（共 29 首）")));

    // Esc clears the text: every row again, in the store's order, the bar still open.
    bar()->entry()->setFocus();
    QTest::keyClick(bar()->entry(), Qt::Key_Escape);
    EXPECT_TRUE(bar()->entry()->text().isEmpty());
    EXPECT_TRUE(bar()->isVisible());
    EXPECT_EQ(rows(), 29);
    EXPECT_EQ(model->cellText(0, store::SongTableModel::TitleColumn), QStringLiteral("title 0"));
    EXPECT_EQ(count()->text(), QStringLiteral("显示 29 首（共 29 首）"));
    // Esc again on the empty entry closes the bar and gives the grid the focus.
    QTest::keyClick(bar()->entry(), Qt::Key_Escape);
    EXPECT_FALSE(bar()->isVisible());
    EXPECT_TRUE(form_->DBGrid1->hasFocus());
}

TEST_F(FilterWindowTest, TwoCharactersAndNewRowsWhileFiltering) {
    open(12);
    QTest::keyClick(form_.get(), Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(bar()->entry(), QStringLiteral("11"));
    EXPECT_TRUE(countSays(QStringLiteral("显示 1 首（共 12 首）")));
    // A search's new rows are filtered as they come.
    {
        store::SongStore other(file_->path);
        other.Insert("新歌 11", "http://h/new.mp3", "key");
    }
    form_->requeryAndCount();
    EXPECT_TRUE(countSays(QStringLiteral("显示 2 首（共 13 首）"))) << count()->text().toStdString();
}
