#pragma once
// The song store: the SQLite file holding table tab1 (title, url2, keys) and
// the results query whose snapshot the grid shows.
//
// The snapshot holds the row ids of the query's rows, in the order the store
// returned them; a row's fields are read when asked for, through a small
// cache. A re-opening adds the rows this store inserted since the last one at
// the end, which is where a full re-read puts them, unless another
// connection changed the file meanwhile (SQLite's data_version tells), in
// which case the query is read again in full.
//
// Threads: any thread may call any operation. Three connections keep the
// readers of fields, the writers and the full re-reads out of each other's
// way, so that the UI thread never waits for a statement of a worker: the
// operations meant for the UI thread (RequeryBriefly, Clear, DeleteRecord,
// Row) wait at most kBriefWait for a lock, and whatever would take longer
// is finished on the store's own background thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/RowCache.h"
#include "store/RowIdList.h"
#include "store/StoreConnection.h"
#include "store/StoreError.h"
#include "store/StoreLock.h"

namespace store {

// What the results query showed when it was last opened. Never changed once
// made; a re-opening makes a new one.
struct ResultsSnapshot {
    RowIdList ids;
    // False while the query is closed (a Clear is in progress).
    bool open = true;
};

// Called after the snapshot changed, on the thread that changed it.
using SnapshotListener = std::function<void()>;

class SongStore {
public:
    static constexpr const char* kDefaultFile = "mysong.mdb";
    static constexpr const char* kResultsQuery = "select url2,title,keys from tab1";
    static constexpr const char* kResultsQueryAfterClear = "select * from tab1";
    // How long a worker's statement waits for a file another process holds.
    static constexpr std::chrono::milliseconds kBusyWait{5000};
    // How long an operation of the UI thread waits for any lock.
    static constexpr std::chrono::milliseconds kBriefWait{25};
    // A full re-read or a Clear of more rows than these is left to the
    // background thread when the UI thread asks for it.
    static constexpr std::size_t kBriefReadRows = 50000;
    static constexpr std::size_t kBriefClearRows = 5000;

    using Cancelled = std::function<bool()>;

    // Opens the connection (the file must exist) and then the results query.
    // Throws StoreError with a text that names what is wrong with the file.
    explicit SongStore(const std::string& path);
    ~SongStore();
    SongStore(const SongStore&) = delete;
    SongStore& operator=(const SongStore&) = delete;

    // Rows in the current snapshot.
    int Count() const;
    // The store file's path, as it was opened.
    const std::string& Path() const { return path_; }
    bool IsOpen() const;
    std::string QueryText() const;
    std::shared_ptr<const ResultsSnapshot> Snapshot() const;

    // Re-opens the results query on this thread, however long a full re-read
    // takes. Throws StoreError when it fails; the snapshot stays the last
    // good one. When `cancelled` turns true it gives up, leaving the
    // snapshot as it was.
    void Requery(const Cancelled& cancelled = {});
    // Re-opens the results query without keeping the caller: what cannot be
    // done within about kBriefWait is finished on the background thread,
    // which tells the listener. Failures leave the last good snapshot.
    void RequeryBriefly();

    // Adds one row. Throws StoreError on any failure (the file locked for
    // longer than kBusyWait, or `cancelled` turned true); nothing is stored then.
    void Insert(const std::string& title, const std::string& url, const std::string& keyword,
                const Cancelled& cancelled = {});
    // Deletes every row, then switches the results query to "select * from
    // tab1". Never fails aloud: a failure leaves the last good snapshot. A
    // large table is cleared on the background thread, the query closed meanwhile.
    void Clear();
    // Deletes the row `rowid` from tab1 and from the snapshot. Throws
    // StoreError when it fails, the file locked longer than kBriefWait included.
    void DeleteRecord(std::int64_t rowid);
    // The same for the snapshot's row at `index`.
    void DeleteRow(int index);

    // The fields of the snapshot's row at `index`, or of the row `rowid`;
    // nothing when there is no such row or it cannot be read now.
    std::optional<SongRow> Row(int index) const;
    std::optional<SongRow> Record(std::int64_t rowid) const;

    void SetSnapshotListener(SnapshotListener listener);

    // Waits until the background thread has nothing left to do; false when
    // it still had after `limit`.
    bool WaitUntilIdle(std::chrono::milliseconds limit);
    // How often the results query was read in full (the first opening too),
    // and how many rows' fields are held in memory now.
    std::uint64_t FullReads() const;
    std::size_t CachedRows() const;
    // How long a worker's statement waits for a locked file (kBusyWait
    // unless tests shorten or lengthen it).
    void SetBusyWait(std::chrono::milliseconds wait) { busyWait_ = wait.count(); }

private:
    class FullRead;
    enum class Reopened { Done, Deferred };
    enum class Cleared { Done, Failed, Deferred };

    // The names tell which locks the caller holds: "Locked" is requeryMutex_;
    // beginFullReadLocked also wants writeMutex_.
    Reopened reopenLocked(const Wait& wait, bool brief);
    Cleared clearLocked(const Wait& wait, bool brief);
    std::unique_ptr<FullRead> beginFullReadLocked(const Wait& wait, std::int64_t version);
    // False when the wait was cancelled or `deadline` passed before the end.
    bool finishFullReadLocked(FullRead& read, const Wait& wait, std::optional<Clock::time_point> deadline);
    void configureLocked();
    void notify();
    void requestBackground(bool clear);
    void backgroundLoop();
    void backgroundClear(const Wait& wait);

    const std::string path_;

    Wait workerWait(Cancelled cancelled) const;

    std::atomic<std::int64_t> busyWait_{kBusyWait.count()};

    // Writes of every thread, and the data version; pending_ are the ids this
    // store inserted since the last re-opening.
    StoreLock writeMutex_;
    std::unique_ptr<StoreConnection> writeDb_;
    Statement insert_;
    std::vector<std::int64_t> pending_;
    bool mayCheckpoint_ = false;

    // Re-openings and Clear, one at a time; full re-reads read through scanDb_.
    StoreLock requeryMutex_;
    std::unique_ptr<StoreConnection> scanDb_;
    std::int64_t seenVersion_ = 0;
    bool appendable_ = false;
    bool fullReadNeeded_ = true;
    std::atomic<std::uint64_t> fullReads_{0};

    // The fields the grid asks for.
    mutable std::mutex fieldMutex_;
    std::unique_ptr<StoreConnection> fieldDb_;
    mutable Statement fieldRead_;
    mutable RowCache cache_{4096};
    mutable Clock::time_point fieldsLockedUntil_;

    // The snapshot; held only to read or swap it.
    mutable std::mutex snapshotMutex_;
    std::shared_ptr<const ResultsSnapshot> snapshot_ = std::make_shared<const ResultsSnapshot>();
    std::string queryText_ = kResultsQuery;
    // Rows deleted while a full re-read runs, which it may still have seen.
    bool fullReadRunning_ = false;
    std::vector<std::int64_t> deletedDuringRead_;
    // A Clear waits for the background thread: re-openings keep the query closed.
    bool clearPending_ = false;
    std::shared_ptr<const ResultsSnapshot> beforeClear_;

    std::mutex listenerMutex_;
    SnapshotListener listener_;

    std::mutex workMutex_;
    std::condition_variable workChanged_;
    bool requeryWanted_ = false;
    bool clearWanted_ = false;
    bool working_ = false;
    std::atomic<bool> stopping_{false};
    std::thread worker_;
};

// Creates an empty store file with table tab1; fails if `path` exists.
void CreateEmptyStore(const std::string& path);

}  // namespace store
