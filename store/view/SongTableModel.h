#pragma once
// Item model over the store's results snapshot: three fixed columns,
// whatever columns the results query returns. It keeps the snapshot it shows
// until it is told of a new one, and reads a row's fields only when the view
// asks for them, which it does for the rows on screen. A row whose link was
// probed carries its verdict's mark before the title, grey text when the
// link is of no use, and the verdict's details as every cell's tooltip; the
// columns stay as they are.
//
// A filter shows only the rows whose title or keyword holds a text
// (SongFilter, on a thread of its own); without one the rows are the
// snapshot's, as they were. Either way only the rows on screen are read.
//
// The rows shown (the snapshot's or the filter's) may be sorted by a column
// or a link's verdict, and folded to one row per song, its best link
// (SongOrder, on a thread of its own). Neither asked for, the rows are
// exactly the store's, in its order.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QTimer>

#include "store/SongFilter.h"
#include "store/SongOrder.h"
#include "store/SongStore.h"

namespace store {

class GridFinishedSongs;
class GridVerdicts;

class SongTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TitleColumn = 0, KeysColumn = 1, UrlColumn = 2, ColumnCount = 3 };

    explicit SongTableModel(SongStore& store, QObject* parent = nullptr);
    ~SongTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Every role the cell is drawn with from one reading of its row.
    void multiData(const QModelIndex& index, QModelRoleDataSpan roleDataSpan) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Text of one cell; an absent value gives the empty text.
    QString cellText(int row, Column column) const;
    // The fields of a row; nothing when there is no such row or it cannot
    // be read now.
    std::optional<SongRow> song(int row) const;
    // Deletes the row from tab1 and from the grid; false when that failed,
    // and the row stays.
    bool deleteRow(int row);
    // The stored record a row shows (0 when there is no such row), and the
    // row that shows a record now (-1 when none does).
    std::int64_t recordAt(int row) const;
    int rowOfRecord(std::int64_t record) const;
    // The records of the rows shown now, row by row; kept as they are when
    // the grid shows others later.
    std::shared_ptr<const ResultsSnapshot> shownRows() const { return snapshot_; }

    // The verdicts the rows show (none without); kept by the caller, which
    // outlives this model or sets another first.
    void setVerdicts(const GridVerdicts* verdicts);
    // The songs already downloaded (none without): their mark goes before
    // the title in place of a verdict's, their line into the tooltip. Kept
    // as the verdicts are.
    void setFinishedSongs(const GridFinishedSongs* finished);

    // What the filter is doing: off, making its index, looking for the
    // rows (those found first are shown meanwhile), done, or failed (the
    // rows shown last stay).
    enum class FilterState { Off, Building, Searching, Shown, Failed };
    // Shows only the rows whose title or keyword holds `typed` (folded as
    // titles are); a text that folds to nothing shows every row.
    void setFilter(const QString& typed);
    QString filter() const { return filter_; }
    FilterState filterState() const { return filterState_; }
    // Rows of the store's snapshot, whatever the filter shows.
    int totalRows() const;
    // While the index is made: rows indexed so far of those to index.
    std::int64_t indexBuilt() const { return built_; }
    std::int64_t indexToBuild() const { return toBuild_; }

    // The order the rows are shown in; None is the store's order.
    void setSort(SortOrder order);
    SortOrder sortOrder() const { return arrangement_.sort; }
    // One row per song: the rows whose titles name the same song shown as
    // one, the song's best link (its record is that link's record).
    void setOneRowPerSong(bool on);
    bool oneRowPerSong() const { return arrangement_.oneRowPerSong; }
    // How many of the rows shown before folding a row stands for (1 unfolded).
    int linksOfRow(int row) const;
    // What the ordering is doing: off, making its tables, arranging (the
    // rows shown before stay meanwhile), done, or failed.
    enum class OrderState { Off, Building, Arranging, Shown, Failed };
    OrderState orderState() const { return orderState_; }
    // True while the model resets for a new sort or fold: the rows are the
    // same songs, so the grid keeps its current record.
    bool resetRearranges() const { return rearranging_; }

signals:
    // The filter's state or the rows it shows changed.
    void filterChanged();
    // The order's state or the rows it shows changed.
    void orderChanged();

private:
    void reload();
    void askFilter();
    // Takes the answers the filter's thread left (see answers_).
    void takeFilterAnswers();
    void filterAnswered(const FilterAnswer& answer);
    void show(std::shared_ptr<const ResultsSnapshot> rows,
              std::shared_ptr<const std::vector<std::uint32_t>> links = {});
    // Shows `rows` as the sort and fold want them.
    void arrange(std::shared_ptr<const ResultsSnapshot> rows);
    void askOrder();
    void takeOrderAnswers();
    void orderAnswered(const OrderAnswer& answer);
    void setOrderState(OrderState state);
    bool usesVerdicts() const;
    void reorderSoon();
    // The row's count of links in its keyword cell and tooltip, once folded.
    QVariant withLinks(int row, int column, int role, QVariant value) const;
    void setFilterState(FilterState state);
    QVariant roleData(const std::optional<SongRow>& fields, int column, int role) const;

    SongStore& store_;
    // The rows shown: the store's snapshot, or those of it the filter found.
    std::shared_ptr<const ResultsSnapshot> snapshot_;
    std::shared_ptr<const ResultsSnapshot> storeSnapshot_;
    QString filter_;
    FilterState filterState_ = FilterState::Off;
    std::uint64_t filterRequest_ = 0;
    std::int64_t built_ = 0;
    std::int64_t toBuild_ = 0;
    // Made on the first filter: a store never filtered keeps tab1 alone.
    std::unique_ptr<SongFilter> songFilter_;
    // The filter's answers, left by its thread under the lock and taken on
    // the model's: the posted call carries no data of its own.
    std::mutex answersMutex_;
    std::vector<FilterAnswer> answers_;
    // The rows to arrange (the store's or the filter's), how, and how many
    // links each folded row stands for.
    std::shared_ptr<const ResultsSnapshot> arrangeFrom_;
    Arrangement arrangement_;
    std::shared_ptr<const std::vector<std::uint32_t>> links_;
    OrderState orderState_ = OrderState::Off;
    std::uint64_t orderRequest_ = 0;
    bool rearranging_ = false;
    bool rearrangeAsked_ = false;
    // Made on the first sort or fold: a store never sorted keeps tab1 as it was.
    std::unique_ptr<SongOrder> songOrder_;
    std::mutex orderAnswersMutex_;
    std::vector<OrderAnswer> orderAnswers_;
    // Verdicts that came re-arrange a sort by them or a fold, at most once a second.
    std::unique_ptr<QTimer> reorder_;
    const GridVerdicts* verdicts_ = nullptr;
    QMetaObject::Connection verdictsChanged_;
    const GridFinishedSongs* finished_ = nullptr;
    QMetaObject::Connection finishedChanged_;
};

}  // namespace store
