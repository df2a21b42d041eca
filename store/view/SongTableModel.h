#pragma once
// Item model over the store's results snapshot: three fixed columns,
// whatever columns the results query returns.
#include <cstdint>
#include <vector>

#include <QAbstractTableModel>

#include "store/SongStore.h"

namespace store {

class SongTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TitleColumn = 0, KeysColumn = 1, UrlColumn = 2, ColumnCount = 3 };

    explicit SongTableModel(SongStore& store, QObject* parent = nullptr);
    ~SongTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Text of one cell; an absent value gives the empty text.
    QString cellText(int row, Column column) const;
    // Deletes the row from tab1 and from the grid. Throws StoreError.
    void deleteRow(int row);
    // The stored record a row shows (0 when there is no such row), and the
    // row that shows a record now (-1 when none does).
    std::int64_t recordAt(int row) const;
    int rowOfRecord(std::int64_t record) const;

private:
    void reload(bool closing);

    SongStore& store_;
    std::vector<SongRow> rows_;
};

}  // namespace store
