#include "app/DownloadListModel.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "app/DownloadOutcome.h"

namespace app {
namespace {

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DownloadListModel::DownloadListModel(QObject* parent) : QAbstractTableModel(parent), clock_(steadyMs) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DownloadListModel::flush);
}

int DownloadListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : published_; }

int DownloadListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

Qt::ItemFlags DownloadListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant DownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    switch (section) {
    case SongColumn: return QStringLiteral("歌曲");
    case StateColumn: return QStringLiteral("状态");
    case ProgressColumn: return QStringLiteral("进度");
    case SizeColumn: return QStringLiteral("大小");
    case SpeedColumn: return QStringLiteral("速度");
    case TimeLeftColumn: return QStringLiteral("剩余时间");
    case PathColumn: return QStringLiteral("保存位置");
    default: return {};
    }
}

QVariant DownloadListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const store::ListEntry& e = entry(index.row());
    if (role == PercentRole) {
        if (index.column() != ProgressColumn) return {};
        if (e.state == store::ListState::Finished) return 100;
        if (e.total <= 0) return {};
        return static_cast<int>(std::clamp<std::int64_t>(e.received * 100 / e.total, 0, 100));
    }
    if (role == SortRole) return sortValue(e, index.column());
    if (role == Qt::TextAlignmentRole) {
        switch (index.column()) {
        case ProgressColumn:
        case SizeColumn:
        case SpeedColumn:
        case TimeLeftColumn: return int(Qt::AlignRight | Qt::AlignVCenter);
        default: return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
    case SongColumn: return shownText(e.title);
    case StateColumn: return stateCell(e);
    case ProgressColumn: return progressText(e);
    case SizeColumn: return sizeText(e);
    case SpeedColumn: return speedText(e);
    case TimeLeftColumn: return timeLeftText(e);
    case PathColumn: {
        // The file's name; the tooltip says where it is.
        if (role == Qt::ToolTipRole) return shownText(e.path);
        const std::size_t slash = e.path.rfind('/');
        return shownText(slash == std::string::npos ? e.path : e.path.substr(slash + 1));
    }
    default: return {};
    }
}

// Numbers sort as numbers; a row without one sorts before those with one.
QVariant DownloadListModel::sortValue(const store::ListEntry& e, int column) const {
    const auto rate = rates_.find(e.id);
    switch (column) {
    case SongColumn: return shownText(e.title);
    case StateColumn: return static_cast<int>(e.state);
    case ProgressColumn:
        if (e.state == store::ListState::Finished) return 100.0;
        return e.total > 0 ? static_cast<double>(e.received) * 100.0 / static_cast<double>(e.total) : -1.0;
    case SizeColumn: return static_cast<qlonglong>(e.state == store::ListState::Finished ? e.received : e.total);
    case SpeedColumn: {
        const std::optional<double> speed = rate == rates_.end() ? std::nullopt : rate->bytesPerSecond();
        return speed ? *speed : -1.0;
    }
    case TimeLeftColumn: {
        const std::optional<std::int64_t> left = rate == rates_.end() ? std::nullopt : rate->secondsLeft(e.total);
        return static_cast<qlonglong>(left ? *left : -1);
    }
    case PathColumn: return shownText(e.path);
    default: return {};
    }
}

std::optional<double> DownloadListModel::totalSpeed() const {
    std::optional<double> total;
    for (const ReceivedRate& rate : rates_)
        if (const std::optional<double> speed = rate.bytesPerSecond()) total = total.value_or(0.0) + *speed;
    return total;
}

std::vector<std::int64_t> DownloadListModel::downloadingIds() const {
    std::vector<std::int64_t> ids;
    for (auto rate = rates_.begin(); rate != rates_.end(); ++rate) ids.push_back(rate.key());
    return ids;
}

void DownloadListModel::count(store::ListState state, int by) {
    const auto i = static_cast<std::size_t>(state);
    if (i < stateCounts_.size()) stateCounts_[i] += by;
}

void DownloadListModel::endAppending() {
    if (appending_ > 0 && --appending_ > 0) return;
    const int all = static_cast<int>(rows_.size());
    if (all == published_) return;
    beginInsertRows({}, published_, all - 1);
    published_ = all;
    endInsertRows();
    keepTicking();
}

QString DownloadListModel::stateText(const store::ListEntry& entry) {
    switch (entry.state) {
    // A song on another of its links says which.
    case store::ListState::Waiting:
        return entry.reason.empty() ? QStringLiteral("等待") : QStringLiteral("等待：") + shownText(entry.reason);
    case store::ListState::Downloading:
        return entry.reason.empty() ? QStringLiteral("正在下载")
                                    : QStringLiteral("正在下载：") + shownText(entry.reason);
    case store::ListState::Finished:
        return entry.reason.empty() ? QStringLiteral("已完成")
                                    : QStringLiteral("已完成：") + shownText(entry.reason);
    case store::ListState::Failed:
        return entry.reason.empty() ? QStringLiteral("失败")
                                    : QStringLiteral("失败：") + shownText(entry.reason);
    case store::ListState::Stopped:
        return entry.reason.empty() ? QStringLiteral("已停止")
                                    : QStringLiteral("已停止：") + shownText(entry.reason);
    }
    return {};
}

QString DownloadListModel::retryText(std::int64_t seconds) {
    return QStringLiteral("等待重试（%1 秒后）").arg(seconds);
}

std::int64_t DownloadListModel::retrySecondsLeft(std::int64_t id, std::int64_t now) const {
    const auto retry = retries_.find(id);
    if (retry == retries_.end()) return -1;
    return std::max<std::int64_t>(0, (retry->at - now + 999) / 1000);
}

QString DownloadListModel::stateCell(const store::ListEntry& entry) const {
    const std::int64_t left = retrySecondsLeft(entry.id, clock_());
    return left >= 0 ? retryText(left) : stateText(entry);
}

void DownloadListModel::setRetryWait(std::int64_t id, std::chrono::milliseconds pause) {
    const int row = rowOf(id);
    if (row < 0) return;
    Row& r = rowAt(row);
    if (pause.count() > 0) {
        const std::int64_t now = clock_();
        retries_.insert(id, Retry{now + pause.count(), -1});
        retries_[id].shown = retrySecondsLeft(id, now);
        // Nothing arrives during the pause: no speed to show for it.
        rates_.remove(id);
    } else {
        retries_.remove(id);
        // The next attempt measures from its own first report on.
        if (r.entry.state == store::ListState::Downloading) rates_.insert(id, ReceivedRate{});
    }
    markDirty(r);
}

QString DownloadListModel::shownText(const std::string& text) {
    // A character takes at most 4 bytes: the bytes of kShownChars + 1 characters at most.
    constexpr std::size_t kBytes = 4 * (kShownChars + 1);
    QString head = QString::fromUtf8(text.data(), static_cast<qsizetype>(std::min(text.size(), kBytes)));
    if (head.size() <= kShownChars && text.size() <= kBytes) return head;
    head.truncate(kShownChars);
    // Never half of a surrogate pair.
    if (!head.isEmpty() && head.back().isHighSurrogate()) head.chop(1);
    return head + QStringLiteral("…");
}

QString DownloadListModel::progressText(const store::ListEntry& entry) {
    if (entry.state == store::ListState::Finished) return QStringLiteral("100%");
    if (entry.total <= 0) return {};
    const std::int64_t percent = std::clamp<std::int64_t>(entry.received * 100 / entry.total, 0, 100);
    return QStringLiteral("%1%").arg(percent);
}

QString DownloadListModel::sizeText(const store::ListEntry& entry) {
    // A song that ended without its file says what it kept, also nothing.
    const bool ended = entry.state == store::ListState::Failed || entry.state == store::ListState::Stopped;
    if (entry.state == store::ListState::Finished || (entry.total <= 0 && (entry.received > 0 || ended)))
        return readableSize(entry.received);
    if (entry.total <= 0) return {};
    return readableSize(entry.received) + QStringLiteral(" / ") + readableSize(entry.total);
}

QString DownloadListModel::durationText(std::int64_t seconds) {
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString DownloadListModel::speedText(const store::ListEntry& entry) const {
    if (entry.state != store::ListState::Downloading || retries_.contains(entry.id)) return {};
    const auto rate = rates_.find(entry.id);
    const std::optional<double> speed = rate == rates_.end() ? std::nullopt : rate->bytesPerSecond();
    if (!speed) return QString::fromUtf8(kNoFigure);
    return readableSize(static_cast<std::int64_t>(*speed)) + QStringLiteral("/s");
}

QString DownloadListModel::timeLeftText(const store::ListEntry& entry) const {
    if (entry.state != store::ListState::Downloading || retries_.contains(entry.id)) return {};
    const auto rate = rates_.find(entry.id);
    const std::optional<std::int64_t> left = rate == rates_.end() ? std::nullopt : rate->secondsLeft(entry.total);
    return left ? durationText(*left) : QString::fromUtf8(kNoFigure);
}

const store::ListEntry* DownloadListModel::find(std::int64_t id) const {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &rowAt(row).entry;
}

const DownloadListModel::RowRun* DownloadListModel::runOf(std::int64_t id) const {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &rowAt(row).run;
}

DownloadListModel::RowRun* DownloadListModel::runOf(std::int64_t id) {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &rowAt(row).run;
}

DownloadListModel::RowRun DownloadListModel::endRun(std::int64_t id) {
    RowRun* run = runOf(id);
    if (!run) return {};
    retries_.remove(id);
    return std::exchange(*run, RowRun{run->trusted});
}

void DownloadListModel::endRuns() {
    for (const std::unique_ptr<Row>& row : rows_) endRun(row->entry.id);
}

void DownloadListModel::setEntries(std::vector<store::ListEntry> entries) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(entries.size());
    rates_.clear();
    retries_.clear();
    dirtyIds_.clear();
    stateCounts_ = {};
    for (store::ListEntry& e : entries) {
        count(e.state, 1);
        rows_.push_back(std::make_unique<Row>(Row{std::move(e)}));
    }
    published_ = static_cast<int>(rows_.size());
    rowOfId_.clear();
    reindexFrom(0);
    endResetModel();
}

int DownloadListModel::append(const store::ListEntry& entry) {
    const int row = static_cast<int>(rows_.size());
    count(entry.state, 1);
    if (appending_ > 0) {
        rows_.push_back(std::make_unique<Row>(Row{entry}));
        setRowOf(entry.id, row);
        if (entry.state == store::ListState::Downloading) rates_[entry.id];
        return row;
    }
    beginInsertRows({}, row, row);
    rows_.push_back(std::make_unique<Row>(Row{entry}));
    setRowOf(entry.id, row);
    if (entry.state == store::ListState::Downloading) rates_[entry.id];
    published_ = static_cast<int>(rows_.size());
    endInsertRows();
    keepTicking();
    return row;
}

void DownloadListModel::removeIds(const std::vector<std::int64_t>& ids) {
    // Rows still being appended are told first: the views count them next.
    if (published_ != static_cast<int>(rows_.size())) {
        beginInsertRows({}, published_, static_cast<int>(rows_.size()) - 1);
        published_ = static_cast<int>(rows_.size());
        endInsertRows();
    }
    std::vector<int> gone;
    for (std::int64_t id : ids) {
        const int row = rowOf(id);
        if (row >= 0) gone.push_back(row);
        rates_.remove(id);
        retries_.remove(id);
    }
    if (gone.empty()) return;
    std::sort(gone.begin(), gone.end());
    gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
    // From the bottom, one run of neighbouring rows at a time.
    for (auto last = gone.rbegin(); last != gone.rend();) {
        auto first = last;
        while (std::next(first) != gone.rend() && *std::next(first) == *first - 1) ++first;
        beginRemoveRows({}, *first, *last);
        for (int r = *first; r <= *last; ++r) {
            rowOfId_.shard(static_cast<std::uint64_t>(rowAt(r).entry.id)).remove(rowAt(r).entry.id);
            count(rowAt(r).entry.state, -1);
        }
        rows_.erase(rows_.begin() + *first, rows_.begin() + *last + 1);
        published_ = static_cast<int>(rows_.size());
        endRemoveRows();
        last = std::next(first);
    }
    reindexFrom(gone.front());
    keepTicking();
}

void DownloadListModel::reindexFrom(int first) {
    for (int r = first; r < static_cast<int>(rows_.size()); ++r) setRowOf(rowAt(r).entry.id, r);
}

void DownloadListModel::update(const store::ListEntry& entry) {
    const int row = rowOf(entry.id);
    if (row < 0) return;
    Row& r = rowAt(row);
    const bool wasDownloading = r.entry.state == store::ListState::Downloading;
    count(r.entry.state, -1);
    count(entry.state, 1);
    r.entry = entry;
    if (entry.state != store::ListState::Downloading) {
        rates_.remove(entry.id);
        // An ended (or waiting again) song has no pause of this run left.
        retries_.remove(entry.id);
    } else if (!wasDownloading) {
        // A transfer that (re)starts measures from its own first report on.
        rates_.insert(entry.id, ReceivedRate{});
    }
    markDirty(r);
}

void DownloadListModel::setProgress(std::int64_t id, std::int64_t received, std::int64_t total) {
    ++progressReports_;
    const int row = rowOf(id);
    if (row < 0) return;
    Row& r = rowAt(row);
    r.entry.received = received;
    r.entry.total = total;
    if (r.entry.state == store::ListState::Downloading && !retries_.contains(id)) rates_[id].add(clock_(), received);
    markDirty(r);
}

void DownloadListModel::markDirty(Row& row) {
    if (!row.dirty) {
        row.dirty = true;
        dirtyIds_.push_back(row.entry.id);
    }
    keepTicking();
}

std::int64_t DownloadListModel::untilTurn(const Row& row, std::int64_t now) const {
    // Whole milliseconds: one more than the span keeps a turn from coming
    // a fraction of a millisecond early.
    return row.everRefreshed ? std::max<std::int64_t>(0, row.lastRefresh + kRefreshMs + 1 - now) : 0;
}

void DownloadListModel::keepTicking() {
    if (dirtyIds_.empty() && rates_.isEmpty() && retries_.isEmpty()) {
        timer_.stop();
        return;
    }
    const std::int64_t now = clock_();
    // A running song's speed is looked at once a turn even without reports.
    std::int64_t next = rates_.isEmpty() && retries_.isEmpty() ? kRefreshMs + 1 : kRefreshMs;
    for (std::int64_t id : dirtyIds_) {
        const int row = rowOf(id);
        if (row >= 0) next = std::min(next, untilTurn(rowAt(row), now));
    }
    if (!timer_.isActive() || timer_.remainingTime() > next) timer_.start(static_cast<int>(next));
}

void DownloadListModel::flush() {
    const std::int64_t now = clock_();
    // A song whose bytes stopped coming slows down on the screen too.
    for (auto rate = rates_.begin(); rate != rates_.end(); ++rate) {
        const int row = rowOf(rate.key());
        if (row < 0) continue;
        Row& r = rowAt(row);
        // Until its first report the row's count is not this transfer's.
        if (!rate->hasBase()) continue;
        const QString speed = speedText(r.entry), left = timeLeftText(r.entry);
        rate->add(now, r.entry.received);
        if (speed != speedText(r.entry) || left != timeLeftText(r.entry)) markDirty(r);
    }
    // A pause's countdown changes once a second.
    for (auto retry = retries_.begin(); retry != retries_.end(); ++retry) {
        const int row = rowOf(retry.key());
        if (row < 0) continue;
        const std::int64_t left = std::max<std::int64_t>(0, (retry->at - now + 999) / 1000);
        if (left == retry->shown) continue;
        retry->shown = left;
        markDirty(rowAt(row));
    }
    std::vector<std::int64_t> later;
    for (std::int64_t id : dirtyIds_) {
        const int row = rowOf(id);
        if (row < 0) continue;
        Row& r = rowAt(row);
        if (untilTurn(r, now) > 0 || row >= published_) {
            later.push_back(id);
            continue;
        }
        r.dirty = false;
        r.everRefreshed = true;
        r.lastRefresh = now;
        ++r.refreshes;
        emit dataChanged(index(row, StateColumn), index(row, ColumnCount - 1), {Qt::DisplayRole});
    }
    dirtyIds_.swap(later);
    keepTicking();
}

}  // namespace app
