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
    : QAbstractTableModel(parent), store_(store), snapshot_(store.Snapshot()), storeSnapshot_(snapshot_) {
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
    // Its thread ends before the model it answers goes.
    songFilter_.reset();
}

void SongTableModel::show(std::shared_ptr<const ResultsSnapshot> rows) {
    beginResetModel();
    snapshot_ = std::move(rows);
    endResetModel();
}

void SongTableModel::reload() {
    storeSnapshot_ = store_.Snapshot();
    if (filterState_ == FilterState::Off) {
        show(storeSnapshot_);
        return;
    }
    // The rows found stay until the new snapshot's are; none stay of a
    // cleared store.
    if (storeSnapshot_->ids.empty() || !storeSnapshot_->open) show(storeSnapshot_);
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
        if (wasOn || snapshot_ != storeSnapshot_) show(storeSnapshot_);
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
        show(std::make_shared<const ResultsSnapshot>(ResultsSnapshot{answer.ids, true}));
        setFilterState(FilterState::Searching);
        return;
    case FilterAnswer::Kind::Done:
        show(std::make_shared<const ResultsSnapshot>(ResultsSnapshot{answer.ids, true}));
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
    case Qt::ToolTipRole: return roleData(song(index.row()), index.column(), role);
    default: return {};
    }
}

void SongTableModel::multiData(const QModelIndex& index, QModelRoleDataSpan roleDataSpan) const {
    const std::optional<SongRow> fields = index.isValid() ? song(index.row()) : std::nullopt;
    for (QModelRoleData& wanted : roleDataSpan) wanted.setData(roleData(fields, index.column(), wanted.role()));
}

void SongTableModel::setVerdicts(const GridVerdicts* verdicts) {
    disconnect(verdictsChanged_);
    verdicts_ = verdicts;
    if (!verdicts_) return;
    // Which rows show a changed address is not worth finding: the view
    // repaints what it shows, and reads only those rows.
    verdictsChanged_ = connect(verdicts_, &GridVerdicts::changed, this, [this] {
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
    beginRemoveRows({}, row, row);
    snapshot_ = std::make_shared<const ResultsSnapshot>(
        ResultsSnapshot{snapshot_->ids.without(static_cast<std::size_t>(row)), snapshot_->open});
    // The store took the row out of its snapshot too.
    storeSnapshot_ = filterState_ == FilterState::Off ? snapshot_ : store_.Snapshot();
    endRemoveRows();
    if (filterState_ != FilterState::Off) emit filterChanged();
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
