#include "store/view/SongTableModel.h"

#include <QMetaObject>
#include <QThread>

namespace store {

SongTableModel::SongTableModel(SongStore& store, QObject* parent)
    : QAbstractTableModel(parent), store_(store), rows_(store.Snapshot()) {
    store_.SetSnapshotListener([this](bool closing) {
        if (QThread::currentThread() == thread()) {
            reload(closing);
        } else {
            // The view is refreshed only on its own thread.
            QMetaObject::invokeMethod(this, [this, closing] { reload(closing); }, Qt::QueuedConnection);
        }
    });
}

SongTableModel::~SongTableModel() { store_.SetSnapshotListener({}); }

void SongTableModel::reload(bool closing) {
    beginResetModel();
    if (closing) {
        rows_.clear();
    } else {
        rows_ = store_.Snapshot();
    }
    endResetModel();
}

int SongTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SongTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString SongTableModel::cellText(int row, Column column) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    const SongRow& song = rows_[static_cast<size_t>(row)];
    const std::optional<std::string>* value = nullptr;
    switch (column) {
    case TitleColumn: value = &song.title; break;
    case KeysColumn: value = &song.keys; break;
    case UrlColumn: value = &song.url2; break;
    default: return {};
    }
    return *value ? QString::fromStdString(**value) : QString();
}

QVariant SongTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return cellText(index.row(), static_cast<Column>(index.column()));
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    switch (section) {
    case TitleColumn: return QStringLiteral("歌曲或专辑名称");
    case KeysColumn: return QStringLiteral("搜索关键字");
    case UrlColumn: return QStringLiteral("下载地址");
    default: return {};
    }
}

Qt::ItemFlags SongTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void SongTableModel::deleteRow(int row) {
    store_.DeleteRow(row);
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

std::int64_t SongTableModel::recordAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
    return rows_[static_cast<size_t>(row)].rowid;
}

int SongTableModel::rowOfRecord(std::int64_t record) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].rowid == record) return static_cast<int>(i);
    return -1;
}

}  // namespace store
