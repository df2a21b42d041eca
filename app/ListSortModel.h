#pragma once
// The sorting model of the downloads list's page. A sort by a column reads
// each row's sort value once, before it sorts, and compares those: the
// sorting model of Qt asks the list for both values of every comparison,
// which for a million rows is some forty million cells made (a title
// converted each time) and seconds of a frozen window. Between sorts (rows
// added, a song's progress) it compares as Qt's does, a few rows at a time.
#include <vector>

#include <QSortFilterProxyModel>
#include <QString>

namespace app {

class ListSortModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // A new source starts in its own order: the sort it had would be made
    // lazily, comparing as between sorts.
    void setSourceModel(QAbstractItemModel* source) override;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    // The sort values of the column being sorted, by source row, while
    // sort() runs: texts, or numbers.
    std::vector<QString> texts_;
    std::vector<double> numbers_;
    bool byKeys_ = false;
    bool textKeys_ = false;
};

}  // namespace app
