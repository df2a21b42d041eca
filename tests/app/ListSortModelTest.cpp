// The list page's sorting model: a sort gives the order Qt's sorting model
// gives over the same rows (texts, numbers, ties in the list's order, both
// ways), rows that change or come after the sort take their sorted place,
// and a new source starts in its own order.
#include <cstdint>
#include <string>
#include <vector>

#include <QSortFilterProxyModel>
#include <gtest/gtest.h>

#include "app/DownloadListModel.h"
#include "app/ListSortModel.h"

using app::DownloadListModel;
using app::ListSortModel;
using store::ListEntry;
using store::ListState;

namespace {

ListEntry row(std::int64_t id, const std::string& title, ListState state, std::int64_t received, std::int64_t total) {
    ListEntry e;
    e.id = id;
    e.title = title;
    e.state = state;
    e.received = received;
    e.total = total;
    e.path = "/d/" + title + ".mp3";
    return e;
}

std::vector<ListEntry> rows() {
    // Equal titles and sizes: ties keep the list's order.
    return {row(1, "b", ListState::Finished, 300, 300), row(2, "a", ListState::Waiting, 0, 0),
            row(3, "B", ListState::Failed, 10, 500),    row(4, "a", ListState::Finished, 300, 300),
            row(5, "月亮", ListState::Stopped, 0, 0),   row(6, "10", ListState::Waiting, 0, 2000),
            row(7, "9", ListState::Finished, 20, 20)};
}

std::vector<int> shown(const QSortFilterProxyModel& sorting) {
    std::vector<int> order;
    for (int r = 0; r < sorting.rowCount(); ++r) order.push_back(sorting.mapToSource(sorting.index(r, 0)).row());
    return order;
}

void prepare(QSortFilterProxyModel& sorting, DownloadListModel& model) {
    sorting.setSortRole(DownloadListModel::SortRole);
    sorting.setDynamicSortFilter(true);
    sorting.setSourceModel(&model);
}

}  // namespace

TEST(ListSortModel, SortsAsQtsSortingModelDoes) {
    DownloadListModel model;
    model.setEntries(rows());
    ListSortModel ours;
    QSortFilterProxyModel theirs;
    prepare(ours, model);
    prepare(theirs, model);
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) {
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            SCOPED_TRACE(testing::Message() << "column " << column << (order == Qt::AscendingOrder ? " up" : " down"));
            ours.sort(column, order);
            theirs.sort(column, order);
            EXPECT_EQ(shown(ours), shown(theirs));
        }
    }
    // Back to the list's order.
    ours.sort(-1);
    EXPECT_EQ(shown(ours), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(ListSortModel, RowsChangedOrAddedAfterTheSortTakeTheirPlace) {
    DownloadListModel model;
    model.setEntries(rows());
    ListSortModel ours;
    QSortFilterProxyModel theirs;
    prepare(ours, model);
    prepare(theirs, model);
    ours.sort(DownloadListModel::SizeColumn, Qt::DescendingOrder);
    theirs.sort(DownloadListModel::SizeColumn, Qt::DescendingOrder);
    // The smallest song becomes the largest; a larger one comes.
    ListEntry grown = model.entry(6);
    grown.received = grown.total = 99999;
    model.update(grown);
    model.flush();
    model.append(row(8, "c", ListState::Finished, 5000, 5000));
    EXPECT_EQ(shown(ours), shown(theirs));
    EXPECT_EQ(shown(ours).front(), 6);
    EXPECT_EQ(shown(ours)[1], 7);
}

TEST(ListSortModel, ANewSourceStartsInItsOwnOrder) {
    DownloadListModel first, second;
    first.setEntries(rows());
    second.setEntries(rows());
    ListSortModel ours;
    prepare(ours, first);
    ours.sort(DownloadListModel::SongColumn);
    ASSERT_NE(shown(ours), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    ours.setSourceModel(&second);
    EXPECT_EQ(ours.sortColumn(), -1);
    EXPECT_EQ(shown(ours), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}
