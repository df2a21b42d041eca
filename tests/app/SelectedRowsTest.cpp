// The rows of a selection as its ranges give them: merged, in order, each
// once, the n-th found without listing the others.
#include <utility>
#include <vector>

#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <gtest/gtest.h>

#include "app/SelectedRows.h"

namespace {

struct Case {
    const char* what;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> rows;
};

std::vector<int> listed(const app::SelectedRows& rows) {
    std::vector<int> all;
    for (std::size_t i = 0; i < rows.size(); ++i) all.push_back(rows.at(i));
    return all;
}

}  // namespace

TEST(SelectedRows, AreTheRangesRowsInOrderEachOnce) {
    const std::vector<Case> cases = {
        {"nothing", {}, {}},
        {"one row", {{4, 4}}, {4}},
        {"one range", {{0, 3}}, {0, 1, 2, 3}},
        {"ranges out of order", {{7, 8}, {1, 2}}, {1, 2, 7, 8}},
        {"overlapping", {{1, 5}, {3, 7}}, {1, 2, 3, 4, 5, 6, 7}},
        {"one inside another", {{0, 9}, {2, 3}}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"touching", {{0, 1}, {2, 3}}, {0, 1, 2, 3}},
        {"the same twice", {{5, 6}, {5, 6}}, {5, 6}},
        {"apart by one", {{0, 0}, {2, 2}}, {0, 2}},
        {"turned round and negative left out", {{5, 3}, {-2, -1}, {9, 9}}, {9}},
    };
    for (const Case& c : cases) {
        const app::SelectedRows rows(c.ranges);
        EXPECT_EQ(listed(rows), c.rows) << c.what;
        EXPECT_EQ(rows.size(), c.rows.size()) << c.what;
        EXPECT_EQ(rows.empty(), c.rows.empty()) << c.what;
    }
}

TEST(SelectedRows, AMillionRowsAreOneRangeAndTheLastIsFoundDirectly) {
    const app::SelectedRows rows({{0, 999'999}, {1'500'000, 1'500'001}});
    EXPECT_EQ(rows.size(), 1'000'002u);
    EXPECT_EQ(rows.at(999'999), 999'999);
    EXPECT_EQ(rows.at(1'000'000), 1'500'000);
    EXPECT_EQ(rows.at(1'000'001), 1'500'001);
}

TEST(SelectedRows, ReadsASelectionModelsRanges) {
    QStandardItemModel model(10, 2);
    QItemSelectionModel selection(&model);
    selection.select(QItemSelection(model.index(6, 0), model.index(7, 1)), QItemSelectionModel::Select);
    selection.select(QItemSelection(model.index(1, 0), model.index(2, 0)), QItemSelectionModel::Select);
    // A second column of the same rows adds no row.
    selection.select(QItemSelection(model.index(1, 1), model.index(1, 1)), QItemSelectionModel::Select);
    EXPECT_EQ(listed(app::SelectedRows::of(selection)), (std::vector<int>{1, 2, 6, 7}));
}
