#include "store/view/SongTableModel.h"

#include <QColor>
#include <QDir>
#include <QMetaObject>
#include <QThread>

#include "store/SongFilterIndex.h"
#include "store/view/FinishedSongMarks.h"
#include "store/view/GridVerdicts.h"
#include "store/view/LinkVerdictMarks.h"
#include "store/view/LinkVerdictText.h"

namespace store {

SongTableModel::SongTableModel(SongStore& store, QObject* parent)
    : QAbstractTableModel(parent),
      store_(store),
      snapshot_(store.Snapshot()),
      storeSnapshot_(snapshot_),
      arrangeFrom_(snapshot_) {
    store_.SetSnapshotListener([this] {
        if (QThread::currentThread() == thread()) {
            reload();
        } else {
            // The view is refreshed only on its own thread; until then it
            // shows the snapshot it has, which stays valid.
            QMetaObject::invokeMethod(this, [this] { reload(); }, Qt::QueuedConnection);
        }
    });
}

SongTableModel::~SongTableModel() {
    store_.SetSnapshotListener({});
    // Their threads end before the model they answer goes.
    songFilter_.reset();
    songOrder_.reset();
}

void SongTableModel::show(std::shared_ptr<const ResultsSnapshot> rows,
                          std::shared_ptr<const std::vector<std::uint32_t>> links) {
    beginResetModel();
    snapshot_ = std::move(rows);
    links_ = std::move(links);
    endResetModel();
}

void SongTableModel::setOrderState(OrderState state) {
    orderState_ = state;
    emit orderChanged();
}

bool SongTableModel::usesVerdicts() const {
    const SortKey key = arrangement_.sort.key;
    return arrangement_.oneRowPerSong || key == SortKey::Verdict || key == SortKey::Kbps ||
           key == SortKey::Seconds || key == SortKey::Size;
}

void SongTableModel::reorderSoon() {
    // Made when first wanted: a model may be made before the application.
    if (!reorder_) {
        reorder_ = std::make_unique<QTimer>();
        reorder_->setSingleShot(true);
        reorder_->setInterval(1000);
        connect(reorder_.get(), &QTimer::timeout, this, [this] {
            if (!usesVerdicts()) return;
            // The same songs, better known: the grid keeps its current record.
            rearrangeAsked_ = true;
            askOrder();
        });
    }
    if (!reorder_->isActive()) reorder_->start();
}

void SongTableModel::arrange(std::shared_ptr<const ResultsSnapshot> rows) {
    arrangeFrom_ = std::move(rows);
    // Nothing to arrange: the rows as they are, and the tables beside tab1
    // are never made for them.
    if (!arrangement_.any() || arrangeFrom_->ids.empty() || !arrangeFrom_->open) {
        if (songOrder_) songOrder_->cancel();
        orderRequest_ = 0;
        rearranging_ = rearrangeAsked_;
        rearrangeAsked_ = false;
        show(arrangeFrom_);
        rearranging_ = false;
        setOrderState(arrangement_.any() ? OrderState::Shown : OrderState::Off);
        return;
    }
    askOrder();
}

void SongTableModel::askOrder() {
    if (!songOrder_) {
        songOrder_ = std::make_unique<SongOrder>(store_.Path(), [this](OrderAnswer answer) {
            {
                std::lock_guard lock(orderAnswersMutex_);
                orderAnswers_.push_back(std::move(answer));
            }
            QMetaObject::invokeMethod(this, [this] { takeOrderAnswers(); }, Qt::QueuedConnection);
        });
    }
    orderRequest_ = songOrder_->request(arrangement_, arrangeFrom_);
    if (orderState_ != OrderState::Building) setOrderState(OrderState::Arranging);
}

void SongTableModel::takeOrderAnswers() {
    std::vector<OrderAnswer> answers;
    {
        std::lock_guard lock(orderAnswersMutex_);
        answers.swap(orderAnswers_);
    }
    for (const OrderAnswer& answer : answers) orderAnswered(answer);
}

void SongTableModel::orderAnswered(const OrderAnswer& answer) {
    if (answer.request != orderRequest_ || !arrangement_.any()) return;
    switch (answer.kind) {
    case OrderAnswer::Kind::Building:
        built_ = answer.built;
        toBuild_ = answer.toBuild;
        setOrderState(OrderState::Building);
        return;
    case OrderAnswer::Kind::First:
    case OrderAnswer::Kind::Done:
        rearranging_ = rearrangeAsked_;
        if (answer.kind == OrderAnswer::Kind::Done) rearrangeAsked_ = false;
        // Told before the reset: the grid asks whether more rows are to come.
        orderState_ = answer.kind == OrderAnswer::Kind::Done ? OrderState::Shown : OrderState::Arranging;
        show(std::make_shared<const ResultsSnapshot>(ResultsSnapshot{answer.ids, true}), answer.links);
        rearranging_ = false;
        emit orderChanged();
        return;
    case OrderAnswer::Kind::Failed: setOrderState(OrderState::Failed); return;
    }
}

void SongTableModel::setSort(SortOrder order) {
    if (order.key == SortKey::None) order.descending = false;
    if (order == arrangement_.sort) return;
    arrangement_.sort = order;
    rearrangeAsked_ = true;
    arrange(arrangeFrom_);
}

void SongTableModel::setOneRowPerSong(bool on) {
    if (on == arrangement_.oneRowPerSong) return;
    arrangement_.oneRowPerSong = on;
    rearrangeAsked_ = true;
    arrange(arrangeFrom_);
}

int SongTableModel::linksOfRow(int row) const {
    if (!links_ || row < 0 || static_cast<std::size_t>(row) >= links_->size()) return 1;
    return static_cast<int>((*links_)[static_cast<std::size_t>(row)]);
}

QVariant SongTableModel::withLinks(int row, int column, int role, QVariant value) const {
    const int links = linksOfRow(row);
    if (links < 2) return value;
    if (role == Qt::DisplayRole && column == KeysColumn)
        return QStringLiteral("%1 个链接 · %2").arg(links).arg(value.toString());
    if (role == Qt::ToolTipRole) {
        const QString note = QStringLiteral("这首歌有 %1 个链接，这一行是其中最好的一个").arg(links);
        return value.toString().isEmpty() ? note : note + QLatin1Char('\n') + value.toString();
    }
    return value;
}

void SongTableModel::reload() {
    storeSnapshot_ = store_.Snapshot();
    if (filterState_ == FilterState::Off) {
        arrange(storeSnapshot_);
        return;
    }
    // The rows found stay until the new snapshot's are; none stay of a
    // cleared store.
    if (storeSnapshot_->ids.empty() || !storeSnapshot_->open) arrange(storeSnapshot_);
    askFilter();
}

int SongTableModel::totalRows() const { return static_cast<int>(storeSnapshot_->ids.size()); }

void SongTableModel::setFilterState(FilterState state) {
    filterState_ = state;
    emit filterChanged();
}

void SongTableModel::setFilter(const QString& typed) {
    filter_ = typed;
    if (filterQuery(typed.toStdString()).empty()) {
        if (songFilter_) songFilter_->cancel();
        filterRequest_ = 0;
        const bool wasOn = filterState_ != FilterState::Off;
        filterState_ = FilterState::Off;
        if (wasOn || arrangeFrom_ != storeSnapshot_) arrange(storeSnapshot_);
        emit filterChanged();
        return;
    }
    askFilter();
}

void SongTableModel::askFilter() {
    if (!songFilter_) {
        songFilter_ = std::make_unique<SongFilter>(store_.Path(), [this](FilterAnswer answer) {
            {
                std::lock_guard lock(answersMutex_);
                answers_.push_back(std::move(answer));
            }
            QMetaObject::invokeMethod(this, [this] { takeFilterAnswers(); }, Qt::QueuedConnection);
        });
    }
    filterRequest_ = songFilter_->request(filter_.toStdString(), storeSnapshot_);
    if (filterState_ != FilterState::Building) setFilterState(FilterState::Searching);
}

void SongTableModel::takeFilterAnswers() {
    std::vector<FilterAnswer> answers;
    {
        std::lock_guard lock(answersMutex_);
        answers.swap(answers_);
    }
    for (const FilterAnswer& answer : answers) filterAnswered(answer);
}

void SongTableModel::filterAnswered(const FilterAnswer& answer) {
    if (answer.request != filterRequest_ || filterState_ == FilterState::Off) return;
    switch (answer.kind) {
    case FilterAnswer::Kind::Building:
        built_ = answer.built;
        toBuild_ = answer.toBuild;
        setFilterState(FilterState::Building);
        return;
    case FilterAnswer::Kind::First:
        arrange(std::make_shared<const ResultsSnapshot>(ResultsSnapshot{answer.ids, true}));
        setFilterState(FilterState::Searching);
        return;
    case FilterAnswer::Kind::Done:
        arrange(std::make_shared<const ResultsSnapshot>(ResultsSnapshot{answer.ids, true}));
        setFilterState(FilterState::Shown);
        return;
    case FilterAnswer::Kind::Failed: setFilterState(FilterState::Failed); return;
    }
}

int SongTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(snapshot_->ids.size());
}

int SongTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

std::optional<SongRow> SongTableModel::song(int row) const {
    if (row < 0 || row >= rowCount()) return std::nullopt;
    return store_.Record(snapshot_->ids[static_cast<std::size_t>(row)]);
}

QString SongTableModel::cellText(int row, Column column) const {
    return roleData(song(row), column, Qt::DisplayRole).toString();
}

QVariant SongTableModel::roleData(const std::optional<SongRow>& fields, int column, int role) const {
    if (!fields) return {};
    if (role == Qt::DisplayRole) {
        const std::optional<std::string>* value = nullptr;
        switch (column) {
        case TitleColumn: value = &fields->title; break;
        case KeysColumn: value = &fields->keys; break;
        case UrlColumn: value = &fields->url2; break;
        default: return {};
        }
        return *value ? QString::fromStdString(**value) : QString();
    }
    if (role != Qt::DecorationRole && role != Qt::ForegroundRole && role != Qt::ToolTipRole) return {};
    if (!fields->url2) return {};
    // Only the title's mark and the tooltip tell a download: the other cells look nothing up.
    const bool tellsFinished = role == Qt::ToolTipRole || (role == Qt::DecorationRole && column == TitleColumn);
    const FinishedMark* finished = finished_ && tellsFinished ? finished_->find(*fields->url2) : nullptr;
    if (finished && role == Qt::DecorationRole) return QVariant(finishedMark(finished->state));
    // Unprobed stores pay nothing for the verdicts.
    const StoredVerdict* verdict = verdicts_ && !verdicts_->empty() ? verdicts_->find(*fields->url2) : nullptr;
    if (finished && role == Qt::ToolTipRole) {
        const QString line = finishedDetails(*finished, QDir::currentPath());
        return verdict ? line + QLatin1Char('\n') + verdictDetails(*verdict, verdicts_->now()) : line;
    }
    if (!verdict) return {};
    switch (role) {
    case Qt::DecorationRole: return column == TitleColumn ? QVariant(verdictMark(verdict->verdict)) : QVariant();
    case Qt::ForegroundRole: return greysOut(verdict->verdict) ? QVariant(greyedText()) : QVariant();
    case Qt::ToolTipRole: return verdictDetails(*verdict, verdicts_->now());
    default: return {};
    }
}

QVariant SongTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::DecorationRole:
    case Qt::ForegroundRole:
    case Qt::ToolTipRole:
        return withLinks(index.row(), index.column(), role, roleData(song(index.row()), index.column(), role));
    default: return {};
    }
}

void SongTableModel::multiData(const QModelIndex& index, QModelRoleDataSpan roleDataSpan) const {
    const std::optional<SongRow> fields = index.isValid() ? song(index.row()) : std::nullopt;
    for (QModelRoleData& wanted : roleDataSpan)
        wanted.setData(withLinks(index.row(), index.column(), wanted.role(), roleData(fields, index.column(), wanted.role())));
}

void SongTableModel::setVerdicts(const GridVerdicts* verdicts) {
    disconnect(verdictsChanged_);
    verdicts_ = verdicts;
    if (!verdicts_) return;
    // Which rows show a changed address is not worth finding: the view
    // repaints what it shows, and reads only those rows.
    verdictsChanged_ = connect(verdicts_, &GridVerdicts::changed, this, [this] {
        if (usesVerdicts()) reorderSoon();
        if (rowCount() == 0) return;
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1),
                         {Qt::DecorationRole, Qt::ForegroundRole, Qt::ToolTipRole});
    });
}

void SongTableModel::setFinishedSongs(const GridFinishedSongs* finished) {
    disconnect(finishedChanged_);
    finished_ = finished;
    if (!finished_) return;
    finishedChanged_ = connect(finished_, &GridFinishedSongs::changed, this, [this] {
        if (rowCount() == 0) return;
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::DecorationRole, Qt::ToolTipRole});
    });
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

bool SongTableModel::deleteRow(int row) {
    if (row < 0 || row >= rowCount()) return false;
    try {
        store_.DeleteRecord(recordAt(row));
    } catch (const StoreError&) {
        return false;
    }
    const std::int64_t record = recordAt(row);
    beginRemoveRows({}, row, row);
    snapshot_ = std::make_shared<const ResultsSnapshot>(
        ResultsSnapshot{snapshot_->ids.without(static_cast<std::size_t>(row)), snapshot_->open});
    if (links_) {
        auto links = std::make_shared<std::vector<std::uint32_t>>(*links_);
        links->erase(links->begin() + row);
        links_ = std::move(links);
    }
    // The store took the row out of its snapshot too.
    const bool asStored = filterState_ == FilterState::Off && !arrangement_.any();
    storeSnapshot_ = asStored ? snapshot_ : store_.Snapshot();
    if (filterState_ == FilterState::Off) {
        arrangeFrom_ = storeSnapshot_;
    } else if (arrangeFrom_ && arrangement_.any()) {
        if (const auto at = arrangeFrom_->ids.find(record))
            arrangeFrom_ = std::make_shared<const ResultsSnapshot>(
                ResultsSnapshot{arrangeFrom_->ids.without(*at), arrangeFrom_->open});
    } else {
        arrangeFrom_ = snapshot_;
    }
    endRemoveRows();
    if (filterState_ != FilterState::Off) emit filterChanged();
    // The song's next best link takes the row's place.
    if (arrangement_.oneRowPerSong && !arrangeFrom_->ids.empty()) {
        rearrangeAsked_ = true;
        askOrder();
    }
    return true;
}

std::int64_t SongTableModel::recordAt(int row) const {
    if (row < 0 || row >= rowCount()) return 0;
    return snapshot_->ids[static_cast<std::size_t>(row)];
}

int SongTableModel::rowOfRecord(std::int64_t record) const {
    const auto at = snapshot_->ids.find(record);
    return at ? static_cast<int>(*at) : -1;
}

}  // namespace store
