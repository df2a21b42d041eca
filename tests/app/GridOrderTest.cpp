#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include "app/TForm1.h"
#include "store/SongStore.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"

namespace {

using store::SongTableModel;
using store::SortKey;
using Titles = std::vector<std::string>;

// The main window over a store of its own, sorted and folded as a user would.
class GridOrderTest : public ::testing::Test {
protected:
    void open(std::unique_ptr<apptest::StoreFile> file) {
        apptest::app();
        file_ = std::move(file);
        form_ = std::make_unique<app::TForm1>(file_->path, std::make_unique<apptest::ScriptedFetcher>());
        form_->show();
        form_->DBGrid1->setFocus();
        apptest::pumpFor(20);
    }
    SongTableModel* model() { return form_->DBGrid1->songModel(); }
    QHeaderView* titles() { return form_->DBGrid1->horizontalHeader(); }
    void clickTitle(int section) {
        QTest::mouseClick(titles()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(titles()->sectionViewportPosition(section) + 20, titles()->height() / 2));
    }
    bool arranged() {
        return apptest::pumpUntil([&] { return model()->orderState() == SongTableModel::OrderState::Shown; }, 20000);
    }
    Titles shown() {
        Titles titles;
        for (int row = 0; row < model()->rowCount(); ++row)
            titles.push_back(model()->cellText(row, SongTableModel::TitleColumn).toStdString());
        return titles;
    }

    std::unique_ptr<apptest::StoreFile> file_;
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(GridOrderTest, TitleClicksSortReverseAndGoBackKeepingTheSelectedSong) {
    open(std::make_unique<apptest::StoreFile>(12));
    const Titles stored = shown();
    EXPECT_FALSE(titles()->isSortIndicatorShown());
    const std::int64_t current = model()->recordAt(form_->DBGrid1->currentRow());
    clickTitle(SongTableModel::TitleColumn);
    ASSERT_TRUE(arranged());
    EXPECT_EQ(shown(), Titles({"title 0", "title 1", "title 10", "title 11", "title 2", "title 3", "title 4", "title 5",
                               "title 6", "title 7", "title 8", "title 9"}));
    EXPECT_TRUE(titles()->isSortIndicatorShown());
    EXPECT_EQ(titles()->sortIndicatorSection(), SongTableModel::TitleColumn);
    EXPECT_EQ(titles()->sortIndicatorOrder(), Qt::AscendingOrder);

    clickTitle(SongTableModel::TitleColumn);
    ASSERT_TRUE(apptest::pumpUntil([&] { return model()->sortOrder().descending; }, 1000));
    ASSERT_TRUE(arranged());
    EXPECT_EQ(shown().front(), "title 9");
    EXPECT_EQ(shown().back(), "title 0");
    EXPECT_EQ(titles()->sortIndicatorOrder(), Qt::DescendingOrder);
    // A click on a title changes the order, not the song the commands act on.
    EXPECT_EQ(model()->recordAt(form_->DBGrid1->currentRow()), current);
    EXPECT_EQ(form_->DBGrid1->currentRow(), 11);

    clickTitle(SongTableModel::TitleColumn);
    EXPECT_EQ(model()->orderState(), SongTableModel::OrderState::Off);
    EXPECT_EQ(shown(), stored);
    EXPECT_FALSE(titles()->isSortIndicatorShown());

    // Another column starts ascending again.
    clickTitle(SongTableModel::UrlColumn);
    ASSERT_TRUE(arranged());
    EXPECT_EQ(model()->sortOrder().key, SortKey::Url);
    EXPECT_FALSE(model()->sortOrder().descending);
}

TEST_F(GridOrderTest, ASortShowsTheFiltersRowsInItsOrder) {
    open(std::make_unique<apptest::StoreFile>(12));
    model()->setFilter(QStringLiteral("title 1"));
    ASSERT_TRUE(apptest::pumpUntil(
        [&] { return model()->filterState() == SongTableModel::FilterState::Shown; }, 20000));
    form_->DBGrid1->sortBy({SortKey::Title, true});
    ASSERT_TRUE(arranged());
    EXPECT_EQ(shown(), Titles({"title 11", "title 10", "title 1"}));
    // Without the filter, every row in the sort's order.
    model()->setFilter(QString());
    ASSERT_TRUE(arranged());
    ASSERT_EQ(model()->rowCount(), 12);
    EXPECT_EQ(shown().front(), "title 9");
}

TEST_F(GridOrderTest, TheTitlesMenuSortsByAVerdictAndReverses) {
    open(std::make_unique<apptest::StoreFile>(3));
    QMenu menu;
    form_->DBGrid1->fillSortMenu(menu);
    QAction* kbps = nullptr;
    QAction* reversed = nullptr;
    for (QAction* action : menu.actions()) {
        if (action->text() == QStringLiteral("按码率")) kbps = action;
        if (action->text() == QStringLiteral("倒序")) reversed = action;
    }
    ASSERT_NE(kbps, nullptr);
    ASSERT_NE(reversed, nullptr);
    EXPECT_FALSE(reversed->isEnabled());
    kbps->trigger();
    ASSERT_TRUE(arranged());
    EXPECT_EQ(model()->sortOrder().key, SortKey::Kbps);
    // No column holds the bit rate: no column claims the sort.
    EXPECT_FALSE(titles()->isSortIndicatorShown());
    // Nothing probed: every row keeps its place.
    EXPECT_EQ(shown(), Titles({"title 0", "title 1", "title 2"}));
    QMenu again;
    form_->DBGrid1->fillSortMenu(again);
    for (QAction* action : again.actions())
        if (action->text() == QStringLiteral("倒序")) action->trigger();
    EXPECT_TRUE(model()->sortOrder().descending);
}

TEST_F(GridOrderTest, MergingShowsOneRowPerSongWithItsCountOfLinks) {
    auto file = std::make_unique<apptest::StoreFile>();
    {
        store::SongStore songs(file->path);
        songs.Insert("晴天", "http://h/1.mp3", "周杰伦");
        songs.Insert("稻香", "http://h/2.mp3", "周杰伦");
        songs.Insert("晴 天", "http://h/3.mp3", "周杰伦");
        songs.Insert("晴天（Live）", "http://h/4.mp3", "周杰伦");
        songs.Insert("晴天", "http://h/5.mp3", "周杰伦");
    }
    open(std::move(file));
    ASSERT_EQ(model()->rowCount(), 5);
    form_->MergeSongs1->setChecked(true);
    ASSERT_TRUE(arranged());
    EXPECT_EQ(shown(), Titles({"晴天", "稻香", "晴天（Live）"}));
    EXPECT_EQ(model()->linksOfRow(0), 3);
    const auto keyword = [&](int row) {
        return model()->data(model()->index(row, SongTableModel::KeysColumn), Qt::DisplayRole).toString();
    };
    EXPECT_EQ(keyword(0), QStringLiteral("3 个链接 · 周杰伦"));
    EXPECT_EQ(keyword(1), QStringLiteral("周杰伦"));
    // What the commands read is the link's own keyword.
    EXPECT_EQ(model()->cellText(0, SongTableModel::KeysColumn), QStringLiteral("周杰伦"));
    EXPECT_TRUE(model()->data(model()->index(0, SongTableModel::UrlColumn), Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("3 个链接")));
    // Nothing probed: the song's first link is its best, and the row's record.
    EXPECT_EQ(model()->song(0)->url2, "http://h/1.mp3");
    // Merged and sorted: each song once, in the sort's order.
    form_->DBGrid1->sortBy({SortKey::Title, false});
    ASSERT_TRUE(arranged());
    EXPECT_EQ(shown(), Titles({"稻香", "晴天", "晴天（Live）"}));
    // Off again: every link, in the sort's order, then the store's.
    form_->MergeSongs1->setChecked(false);
    ASSERT_TRUE(arranged());
    EXPECT_EQ(model()->rowCount(), 5);
    form_->DBGrid1->sortBy({});
    EXPECT_EQ(shown(), Titles({"晴天", "稻香", "晴 天", "晴天（Live）", "晴天"}));
    EXPECT_EQ(keyword(0), QStringLiteral("周杰伦"));
}

TEST_F(GridOrderTest, DeletingAMergedRowShowsTheSongsNextLink) {
    auto file = std::make_unique<apptest::StoreFile>();
    {
        store::SongStore songs(file->path);
        songs.Insert("晴天", "http://h/1.mp3", "a");
        songs.Insert("晴天", "http://h/2.mp3", "a");
    }
    open(std::move(file));
    form_->MergeSongs1->setChecked(true);
    ASSERT_TRUE(arranged());
    ASSERT_EQ(model()->rowCount(), 1);
    ASSERT_TRUE(model()->deleteRow(0));
    ASSERT_TRUE(apptest::pumpUntil([&] { return model()->rowCount() == 1 && model()->orderState() == SongTableModel::OrderState::Shown; }, 20000));
    EXPECT_EQ(model()->song(0)->url2, "http://h/2.mp3");
    EXPECT_EQ(model()->linksOfRow(0), 1);
}
