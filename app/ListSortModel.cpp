#include "app/ListSortModel.h"

#include <utility>

namespace app {

void ListSortModel::setSourceModel(QAbstractItemModel* source) {
    QSortFilterProxyModel::sort(-1);
    QSortFilterProxyModel::setSourceModel(source);
}

void ListSortModel::sort(int column, Qt::SortOrder order) {
    const QAbstractItemModel* source = sourceModel();
    if (!source || column < 0 || column >= source->columnCount()) {
        QSortFilterProxyModel::sort(column, order);
        return;
    }
    const int rows = source->rowCount();
    textKeys_ = rows > 0 && source->data(source->index(0, column), sortRole()).typeId() == QMetaType::QString;
    if (textKeys_) {
        texts_.reserve(static_cast<std::size_t>(rows));
    } else {
        numbers_.reserve(static_cast<std::size_t>(rows));
    }
    for (int row = 0; row < rows; ++row) {
        const QVariant value = source->data(source->index(row, column), sortRole());
        if (textKeys_) {
            texts_.push_back(value.toString());
        } else {
            numbers_.push_back(value.toDouble());
        }
    }
    byKeys_ = true;
    QSortFilterProxyModel::sort(column, order);
    byKeys_ = false;
    // Kept only for this sort: the rows change after it.
    std::vector<QString>().swap(texts_);
    std::vector<double>().swap(numbers_);
}

bool ListSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const auto l = static_cast<std::size_t>(left.row()), r = static_cast<std::size_t>(right.row());
    if (byKeys_ && textKeys_ && l < texts_.size() && r < texts_.size()) {
        // As Qt's sorting model compares two texts.
        if (isSortLocaleAware()) return QString::localeAwareCompare(texts_[l], texts_[r]) < 0;
        return texts_[l].compare(texts_[r], sortCaseSensitivity()) < 0;
    }
    if (byKeys_ && !textKeys_ && l < numbers_.size() && r < numbers_.size()) return numbers_[l] < numbers_[r];
    return QSortFilterProxyModel::lessThan(left, right);
}

}  // namespace app
