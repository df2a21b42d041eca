#pragma once
// The downloads list's rows for its page: one song per row, with its state,
// progress, size, speed, time left and where it is saved. Reports of the
// downloads come far more often than anyone can read them, so a row changed
// is repainted at its next turn, at most once every kRefreshMs: the model
// keeps the latest state and a timer repaints the rows whose turn has come.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QAbstractTableModel>
#include <QHash>
#include <QTimer>

#include "app/ReceivedRate.h"
#include "app/ShardedHash.h"
#include "store/DownloadListStore.h"

namespace app {

class DownloadListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        SongColumn = 0,
        StateColumn,
        ProgressColumn,
        SizeColumn,
        SpeedColumn,
        TimeLeftColumn,
        PathColumn,
        ColumnCount
    };
    // A row is repainted at most once in more than this span (4 times a
    // second), at its first turn after it.
    static constexpr int kRefreshMs = 250;
    // The speed and time left of a running song before its window has two
    // reports far enough apart to tell them.
    static constexpr const char* kNoFigure = "—";

    // What the list knows of a row beside what the store keeps of it; not
    // shown, and not kept across runs.
    struct RowRun {
        // Read from the store as the list could have written it.
        bool trusted = true;
        // Handed to the downloader, its end not told yet.
        bool inDownloader = false;
        // Stopped by the user, its end still to come.
        bool stopping = false;
        // To be downloaded again once its end has come.
        bool restartWanted = false;
    };

    // The percent a progress bar shows (an int), none without a length.
    static constexpr int PercentRole = Qt::UserRole + 1;
    // What a column sorts by: a number where the cell shows one.
    static constexpr int SortRole = Qt::UserRole + 2;

    explicit DownloadListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Milliseconds of a steady clock; replaceable for tests.
    void setClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

    // The whole list at once (the rows the store kept).
    void setEntries(std::vector<store::ListEntry> entries);
    // Adds a row at the end; returns its row.
    int append(const store::ListEntry& entry);
    // Removes the rows of these ids; unknown ids are skipped.
    void removeIds(const std::vector<std::int64_t>& ids);

    const store::ListEntry& entry(int row) const { return rowAt(row).entry; }
    // The row showing `id`, or -1.
    int rowOf(std::int64_t id) const { return rowOfId_.shard(static_cast<std::uint64_t>(id)).value(id, -1); }
    const store::ListEntry* find(std::int64_t id) const;
    // The run of the row showing `id`, or nullptr.
    const RowRun* runOf(std::int64_t id) const;
    RowRun* runOf(std::int64_t id);
    // The download of the row showing `id` has ended: all of its run but
    // the trust is over. Returns the run as it was (a fresh one for no row).
    RowRun endRun(std::int64_t id);
    // Every row's run ends: nothing is in the downloader any more.
    void endRuns();

    // Rows appended between these two are told to the views at once, at
    // the end: a view's sorting model pays for each insert it is told.
    // Until then they are not rows of the model (rowCount leaves them out),
    // though find() and rowOf() know them.
    void beginAppending() { ++appending_; }
    void endAppending();

    // How many rows are in each state (indexed by store::ListState).
    const std::array<int, 5>& stateCounts() const { return stateCounts_; }
    // The speed of the songs downloading, added up; none while no song has one.
    std::optional<double> totalSpeed() const;
    // The ids of the songs downloading.
    std::vector<std::int64_t> downloadingIds() const;

    // The row of `entry.id` takes its fields; repainted at its next turn.
    void update(const store::ListEntry& entry);
    // A running song's bytes; repainted at its next turn.
    void setProgress(std::int64_t id, std::int64_t received, std::int64_t total);
    // The song waits `pause` from now before another attempt: its state
    // counts the seconds down, once a second; 0: the attempt begins, and
    // its speed is measured afresh.
    void setRetryWait(std::int64_t id, std::chrono::milliseconds pause);
    // Whether the row of `id` is in such a pause.
    bool inRetryWait(std::int64_t id) const { return retries_.contains(id); }

    // Repaints the rows whose turn has come; the timer calls it.
    void flush();
    // How often the row has been repainted since it was added, and how many
    // progress reports the model was given in all.
    int refreshes(int row) const { return rowAt(row).refreshes; }
    std::uint64_t progressReports() const { return progressReports_; }

    // A title or path read from the store is shown cut to this many
    // characters (the row keeps it whole): laying out a text of millions
    // of characters stalls the page each time it is drawn.
    static constexpr int kShownChars = 1000;
    // `text` (UTF-8) for the page and the log: cut to kShownChars, with "…"
    // after a cut; never converts more than it shows.
    static QString shownText(const std::string& text);

    // The texts of a row's cells.
    static QString stateText(const store::ListEntry& entry);
    static QString progressText(const store::ListEntry& entry);
    static QString sizeText(const store::ListEntry& entry);
    // "等待重试（N 秒后）".
    static QString retryText(std::int64_t seconds);
    // "0:42", "12:05", "1:02:03".
    static QString durationText(std::int64_t seconds);

private:
    struct Row {
        store::ListEntry entry;
        RowRun run{};
        bool dirty = false;
        std::int64_t lastRefresh = 0;
        bool everRefreshed = false;
        int refreshes = 0;
    };
    Row& rowAt(int row) { return *rows_[static_cast<std::size_t>(row)]; }
    const Row& rowAt(int row) const { return *rows_[static_cast<std::size_t>(row)]; }
    void setRowOf(std::int64_t id, int row) { rowOfId_.shard(static_cast<std::uint64_t>(id)).insert(id, row); }
    void markDirty(Row& row);
    void count(store::ListState state, int by);
    QVariant sortValue(const store::ListEntry& entry, int column) const;
    void reindexFrom(int first);
    // Sets the timer for the earliest turn to come, or stops it.
    void keepTicking();
    // Milliseconds from `now` until the row may be repainted.
    std::int64_t untilTurn(const Row& row, std::int64_t now) const;
    // The state cell: the countdown of a pause, or stateText.
    QString stateCell(const store::ListEntry& entry) const;
    // Whole seconds left of the row's pause, rounded up; -1: none.
    std::int64_t retrySecondsLeft(std::int64_t id, std::int64_t now) const;
    QString speedText(const store::ListEntry& entry) const;
    QString timeLeftText(const store::ListEntry& entry) const;

    std::function<std::int64_t()> clock_;
    // Each row on its own: a long add grows the vector by pointers, never
    // moving (and touching the memory of) every row at once on the UI
    // thread; the ids' map grows a shard at a time.
    std::vector<std::unique_ptr<Row>> rows_;
    ShardedHash<QHash<std::int64_t, int>> rowOfId_;
    // Only the songs that are downloading have one.
    QHash<std::int64_t, ReceivedRate> rates_;
    // The songs in a pause before another attempt: when it ends (clock_),
    // and the seconds the row shows.
    struct Retry {
        std::int64_t at = 0;
        std::int64_t shown = -1;
    };
    QHash<std::int64_t, Retry> retries_;
    std::vector<std::int64_t> dirtyIds_;
    std::uint64_t progressReports_ = 0;
    QTimer timer_;
    std::array<int, 5> stateCounts_{};
    // Rows told to the views; the rest are being appended.
    int published_ = 0;
    int appending_ = 0;
};

}  // namespace app
