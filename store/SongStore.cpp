#include "store/SongStore.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include <sqlite3.h>

#include "store/SongFilterIndex.h"
#include "store/SongKeyIndex.h"
#include "store/SongOrderIndex.h"
#include "store/StoreFileCheck.h"

namespace store {
namespace {

// The results query's text names columns but not the row identity the
// snapshot keeps; every text this store runs starts with "select ".
std::string withRowId(const std::string& queryText) {
    static const std::string kSelect = "select ";
    if (queryText.size() >= kSelect.size() &&
        sqlite3_strnicmp(queryText.c_str(), kSelect.c_str(), static_cast<int>(kSelect.size())) == 0) {
        return "select rowid as brelvo_rowid, " + queryText.substr(kSelect.size());
    }
    return queryText;
}

// Takes `mutex` within `wait`: the lock returned holds it, or nothing.
std::unique_lock<StoreLock> acquire(StoreLock& mutex, const Wait& wait) {
    if (!mutex.lockWithin(wait)) return {};
    return std::unique_lock<StoreLock>(mutex, std::adopt_lock);
}

// True when `sql` scans table tab1 itself, without an index: its rows then
// come in row id order, which is where a new row's id puts it.
bool scansInRowIdOrder(StoreConnection& db, const std::string& sql) {
    Statement plan = db.prepare("EXPLAIN QUERY PLAN " + sql);
    int steps = 0;
    bool plain = false;
    while (db.step(plan.get())) {
        ++steps;
        const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3));
        // "SCAN TABLE" before SQLite 3.36.
        plain = detail && (sqlite3_stricmp(detail, "SCAN tab1") == 0 ||
                           sqlite3_stricmp(detail, "SCAN TABLE tab1") == 0);
    }
    return steps == 1 && plain;
}

std::optional<std::string> columnText(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, column)));
}

// Checkpoints move the log into the file; only a worker's commit does it, so
// that the UI thread never writes megabytes for one deleted row.
int checkpointOnWorkers(void* mayCheckpoint, sqlite3* db, const char* name, int frames) {
    constexpr int kCheckpointFrames = 1000;  // SQLite's own default
    if (frames >= kCheckpointFrames && *static_cast<bool*>(mayCheckpoint))
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

// Keeps the filter index in step with a write of tab1. A failure leaves the
// write as it is: the filter finds tab1 changed behind its back and
// indexes it again, and the index is only a way to find rows.
template <typename Keep>
void keepFilterInStep(Keep keep) {
    try {
        keep();
    } catch (const StoreError&) {
    }
}

}  // namespace

// Reads the row ids of the results query. Begun while no writer of this
// store can commit, it sees exactly the rows committed before it began; it is
// finished without holding anything the writers or the grid need.
class SongStore::FullRead {
public:
    FullRead(StoreConnection& db, const std::string& queryText, std::int64_t version)
        : db_(db), version_(version) {
        const std::string query = withRowId(queryText);
        appendable_ = scansInRowIdOrder(db, query);
        // Only the ids are wanted: when the query scans the table itself, so
        // does the bare id list (unless an index holds the ids), in the same
        // order and without decoding every row's texts.
        static const std::string kIdsOnly = "select rowid from tab1";
        statement_ = db.prepare(appendable_ && scansInRowIdOrder(db, kIdsOnly) ? kIdsOnly : query);
        more_ = db.step(statement_.get());
    }

    // Reads on. False when `wait` was cancelled or `deadline` passed first.
    bool finish(const Wait& wait, std::optional<Clock::time_point> deadline) {
        for (std::size_t n = 1; more_; ++n) {
            ids_.add(sqlite3_column_int64(statement_.get(), 0));
            if (n % 1024 == 0 && (wait.isCancelled() || (deadline && Clock::now() >= *deadline))) return false;
            more_ = db_.step(statement_.get());
        }
        return true;
    }

    RowIdList take() { return ids_.finish(); }
    bool appendable() const { return appendable_; }
    std::int64_t version() const { return version_; }

private:
    StoreConnection& db_;
    std::int64_t version_;
    bool appendable_ = false;
    Statement statement_;
    bool more_ = false;
    RowIdList::Builder ids_;
};

SongStore::SongStore(const std::string& path) : path_(path) {
    if (auto unusable = unusableStoreFile(path)) throw StoreError(*unusable);
    try {
        writeDb_ = std::make_unique<StoreConnection>(path);
        scanDb_ = std::make_unique<StoreConnection>(path);
        fieldDb_ = std::make_unique<StoreConnection>(path);
        const Wait wait = Wait::For(kBusyWait);
        std::lock_guard requery(requeryMutex_);
        std::unique_ptr<FullRead> read;
        {
            std::lock_guard write(writeMutex_);
            StoreConnection::WaitScope scope(*writeDb_, wait);
            // A file that is no song store is left as it was found.
            writeDb_->prepare(withRowId(kResultsQuery));
            configureLocked();
            read = beginFullReadLocked(wait, writeDb_->dataVersion());
        }
        finishFullReadLocked(*read, wait, std::nullopt);
    } catch (const StoreError& e) {
        throw StoreError(storeOpenFailure(path, e.what(), e.code()), e.code());
    }
    worker_ = std::thread([this] { backgroundLoop(); });
}

// Before the first read: a connection's data version moves when the file
// changes its journal mode.
void SongStore::configureLocked() {
    StoreConnection::WaitScope scope(*writeDb_, Wait::For(kBriefWait));
    // The log keeps a page's inserts fast and lets readers read while a
    // writer writes; a file system that refuses it keeps the default
    // journal, slower but equally correct. A fast secure delete clears a
    // large table without writing every page of it again.
    for (const char* setting : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA secure_delete=FAST"}) {
        try {
            writeDb_->exec(setting);
        } catch (const StoreError&) {
        }
    }
    sqlite3_wal_hook(writeDb_->get(), checkpointOnWorkers, &mayCheckpoint_);
}

SongStore::~SongStore() {
    {
        std::lock_guard lock(workMutex_);
        stopping_ = true;
    }
    workChanged_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::shared_ptr<const ResultsSnapshot> SongStore::Snapshot() const {
    std::lock_guard lock(snapshotMutex_);
    return snapshot_;
}

int SongStore::Count() const { return static_cast<int>(Snapshot()->ids.size()); }

bool SongStore::IsOpen() const { return Snapshot()->open; }

std::string SongStore::QueryText() const {
    std::lock_guard lock(snapshotMutex_);
    return queryText_;
}

std::uint64_t SongStore::FullReads() const { return fullReads_.load(); }

std::size_t SongStore::CachedRows() const {
    std::lock_guard lock(fieldMutex_);
    return cache_.size();
}

Wait SongStore::workerWait(Cancelled cancelled) const {
    return Wait::For(std::chrono::milliseconds(busyWait_.load()), std::move(cancelled));
}

void SongStore::SetSnapshotListener(SnapshotListener listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

// Called without any of the store's locks but the listener's own, which
// keeps a listener from being dropped while it runs.
void SongStore::notify() {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_();
}

// ---- Re-opening -------------------------------------------------------------

std::unique_ptr<SongStore::FullRead> SongStore::beginFullReadLocked(const Wait& wait, std::int64_t version) {
    StoreConnection::WaitScope scope(*scanDb_, wait);
    auto read = std::make_unique<FullRead>(*scanDb_, QueryText(), version);
    // The read sees every row this store inserted so far.
    pending_.clear();
    fullReadNeeded_ = true;  // until it is done
    std::lock_guard lock(snapshotMutex_);
    fullReadRunning_ = true;
    deletedDuringRead_.clear();
    return read;
}

bool SongStore::finishFullReadLocked(FullRead& read, const Wait& wait, std::optional<Clock::time_point> deadline) {
    bool finished = false;
    try {
        StoreConnection::WaitScope scope(*scanDb_, wait);
        finished = read.finish(wait, deadline);
    } catch (...) {
        std::lock_guard lock(snapshotMutex_);
        fullReadRunning_ = false;
        throw;
    }
    RowIdList ids = finished ? read.take() : RowIdList();
    {
        std::lock_guard lock(snapshotMutex_);
        fullReadRunning_ = false;
        if (!finished) return false;
        ++fullReads_;
        // A Clear waits for the background thread: the query stays closed,
        // and should the Clear fail, the next re-opening reads it in full.
        if (clearPending_) return true;
        // A row deleted after the read began may still be in it.
        for (const std::int64_t rowid : deletedDuringRead_)
            if (const auto at = ids.find(rowid)) ids = ids.without(*at);
        deletedDuringRead_.clear();
        snapshot_ = std::make_shared<const ResultsSnapshot>(ResultsSnapshot{std::move(ids), true});
    }
    seenVersion_ = read.version();
    appendable_ = read.appendable();
    fullReadNeeded_ = false;
    // Another connection may have changed any row.
    std::lock_guard lock(fieldMutex_);
    cache_.clear();
    return true;
}

SongStore::Reopened SongStore::reopenLocked(const Wait& wait, bool brief) {
    std::unique_ptr<FullRead> read;
    {
        auto write = acquire(writeMutex_, wait);
        if (!write) return Reopened::Deferred;
        StoreConnection::WaitScope scope(*writeDb_, wait);
        const std::int64_t version = writeDb_->dataVersion();
        const auto current = Snapshot();
        bool full = fullReadNeeded_ || !appendable_ || version != seenVersion_;
        if (!full && !pending_.empty()) {
            // Ids grow as rows are added; a table whose largest id is taken
            // gives random ones, which only a full re-read puts in place.
            const bool growing = std::adjacent_find(pending_.begin(), pending_.end(), std::greater_equal<>()) ==
                                 pending_.end();
            full = !growing || (!current->ids.empty() && pending_.front() <= current->ids.back());
        }
        if (!full) {
            std::lock_guard lock(snapshotMutex_);
            // A Clear waits for the background thread: the query stays closed,
            // and the rows stay to be added should the Clear fail.
            if (clearPending_) return Reopened::Done;
            std::vector<std::int64_t> added;
            added.swap(pending_);
            snapshot_ = std::make_shared<const ResultsSnapshot>(ResultsSnapshot{snapshot_->ids.appended(added), true});
            return Reopened::Done;
        }
        if (brief && current->ids.size() > kBriefReadRows) return Reopened::Deferred;
        read = beginFullReadLocked(wait, version);
    }
    // Brief: the whole re-opening, waits included, ends by the wait's deadline.
    const auto deadline = brief ? std::optional(wait.until) : std::nullopt;
    return finishFullReadLocked(*read, wait, deadline) ? Reopened::Done : Reopened::Deferred;
}

void SongStore::Requery(const Cancelled& cancelled) {
    const Wait wait = workerWait(cancelled);
    Reopened reopened = Reopened::Deferred;
    if (auto requery = acquire(requeryMutex_, wait)) reopened = reopenLocked(wait, false);
    if (reopened == Reopened::Done) {
        notify();
    } else if (!wait.isCancelled()) {
        throw StoreError("database is locked", SQLITE_BUSY);
    }
}

void SongStore::RequeryBriefly() {
    const Wait wait = Wait::For(kBriefWait);
    bool later = true;
    bool done = false;
    if (auto requery = acquire(requeryMutex_, wait)) {
        try {
            done = reopenLocked(wait, true) == Reopened::Done;
            later = !done;
        } catch (const StoreError& e) {
            // A locked file is waited for in the background; any other
            // failure leaves the last good snapshot.
            later = e.locked();
        }
        requery.unlock();
    }
    if (done) notify();
    if (later) requestBackground(false);
}

// ---- Writing ----------------------------------------------------------------

void SongStore::Insert(const std::string& title, const std::string& url, const std::string& keyword,
                       const Cancelled& cancelled) {
    const Wait wait = workerWait(cancelled);
    auto write = acquire(writeMutex_, wait);
    if (!write) throw StoreError("database is locked", SQLITE_BUSY);
    StoreConnection::WaitScope scope(*writeDb_, wait);
    if (!insert_) insert_ = writeDb_->prepare("insert into tab1 (title,url2,keys) values (?,?,?)");
    // With a filter index the row and its folded texts are one commit, so
    // that no other connection sees the one without the other.
    const bool filtered = SongFilterIndex::present(*writeDb_);
    if (filtered) writeDb_->exec("begin immediate");
    sqlite3_stmt* insert = insert_.get();
    // Bound parameters: titles and keywords come from web pages and users and
    // may hold any character, quotes included.
    sqlite3_bind_text(insert, 1, title.data(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, url.data(), static_cast<int>(url.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, keyword.data(), static_cast<int>(keyword.size()), SQLITE_TRANSIENT);
    mayCheckpoint_ = !filtered;
    const int rc = sqlite3_step(insert);
    mayCheckpoint_ = false;
    const std::string error = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(writeDb_->get());
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    if (rc != SQLITE_DONE) {
        if (filtered) sqlite3_exec(writeDb_->get(), "rollback", nullptr, nullptr, nullptr);
        throw StoreError(error, rc);
    }
    const std::int64_t rowid = sqlite3_last_insert_rowid(writeDb_->get());
    SongKeyIndex::keepInStep(*writeDb_, rowid, title);
    SongOrderIndex::keepInserted(*writeDb_, rowid, title, keyword, url);
    if (filtered) {
        keepFilterInStep([&] { SongFilterIndex::keepInserted(*writeDb_, rowid, title, keyword); });
        mayCheckpoint_ = true;
        const int committed = sqlite3_exec(writeDb_->get(), "commit", nullptr, nullptr, nullptr);
        mayCheckpoint_ = false;
        if (committed != SQLITE_OK) {
            const std::string failure = sqlite3_errmsg(writeDb_->get());
            sqlite3_exec(writeDb_->get(), "rollback", nullptr, nullptr, nullptr);
            throw StoreError(failure, committed);
        }
    }
    pending_.push_back(rowid);
}

void SongStore::DeleteRecord(std::int64_t rowid) {
    const Wait wait = Wait::For(kBriefWait);
    auto write = acquire(writeMutex_, wait);
    if (!write) throw StoreError("database is locked", SQLITE_BUSY);
    {
        StoreConnection::WaitScope scope(*writeDb_, wait);
        const bool filtered = SongFilterIndex::present(*writeDb_);
        if (filtered) writeDb_->exec("begin immediate");
        try {
            Statement statement = writeDb_->prepare("delete from tab1 where rowid = ?");
            sqlite3_bind_int64(statement.get(), 1, rowid);
            writeDb_->step(statement.get());
            if (filtered) {
                keepFilterInStep([&] { SongFilterIndex::keepDeleted(*writeDb_, rowid); });
                writeDb_->exec("commit");
            }
            // After the filter's keeping, which reads the delete's change count.
            SongOrderIndex::keepDeleted(*writeDb_, rowid);
        } catch (const StoreError&) {
            if (filtered) sqlite3_exec(writeDb_->get(), "rollback", nullptr, nullptr, nullptr);
            throw;
        }
    }
    {
        std::lock_guard lock(snapshotMutex_);
        if (const auto at = snapshot_->ids.find(rowid)) {
            snapshot_ =
                std::make_shared<const ResultsSnapshot>(ResultsSnapshot{snapshot_->ids.without(*at), snapshot_->open});
        }
        if (fullReadRunning_) deletedDuringRead_.push_back(rowid);
    }
    // The id may be given to the next row inserted.
    std::lock_guard lock(fieldMutex_);
    cache_.erase(rowid);
}

void SongStore::DeleteRow(int index) {
    const auto snapshot = Snapshot();
    if (index < 0 || static_cast<std::size_t>(index) >= snapshot->ids.size()) throw StoreError("No current record.");
    DeleteRecord(snapshot->ids[static_cast<std::size_t>(index)]);
}

SongStore::Cleared SongStore::clearLocked(const Wait& wait, bool brief) {
    auto write = acquire(writeMutex_, wait);
    if (!write) return brief ? Cleared::Deferred : Cleared::Failed;
    StoreConnection::WaitScope scope(*writeDb_, wait);
    const bool filtered = SongFilterIndex::present(*writeDb_);
    try {
        if (filtered) writeDb_->exec("begin immediate");
        writeDb_->exec("delete from tab1");
        SongOrderIndex::keepCleared(*writeDb_);
        if (filtered) {
            keepFilterInStep([&] { SongFilterIndex::keepCleared(*writeDb_); });
            writeDb_->exec("commit");
        }
    } catch (const StoreError& e) {
        if (filtered) sqlite3_exec(writeDb_->get(), "rollback", nullptr, nullptr, nullptr);
        return brief && e.locked() ? Cleared::Deferred : Cleared::Failed;
    }
    pending_.clear();
    // The table is empty now: the query opens on no rows without reading them.
    try {
        seenVersion_ = writeDb_->dataVersion();
        StoreConnection::WaitScope scanScope(*scanDb_, wait);
        appendable_ = scansInRowIdOrder(*scanDb_, withRowId(kResultsQueryAfterClear));
        fullReadNeeded_ = false;
    } catch (const StoreError&) {
        fullReadNeeded_ = true;
    }
    {
        std::lock_guard lock(snapshotMutex_);
        queryText_ = kResultsQueryAfterClear;
        clearPending_ = false;
        beforeClear_.reset();
        snapshot_ = std::make_shared<const ResultsSnapshot>();
    }
    std::lock_guard lock(fieldMutex_);
    cache_.clear();
    return Cleared::Done;
}

void SongStore::Clear() {
    std::size_t rows = 0;
    {
        std::lock_guard lock(snapshotMutex_);
        if (clearPending_) return;
        rows = snapshot_->ids.size();
    }
    if (rows <= kBriefClearRows) {
        const Wait wait = Wait::For(kBriefWait);
        if (auto requery = acquire(requeryMutex_, wait)) {
            const Cleared cleared = clearLocked(wait, true);
            requery.unlock();
            if (cleared == Cleared::Done) notify();
            if (cleared != Cleared::Deferred) return;
        }
    }
    // The query stays closed until the background thread has cleared the table.
    {
        std::lock_guard lock(snapshotMutex_);
        clearPending_ = true;
        beforeClear_ = snapshot_;
        snapshot_ = std::make_shared<const ResultsSnapshot>(ResultsSnapshot{RowIdList(), false});
    }
    notify();
    requestBackground(true);
}

// ---- Background -------------------------------------------------------------

void SongStore::requestBackground(bool clear) {
    {
        std::lock_guard lock(workMutex_);
        (clear ? clearWanted_ : requeryWanted_) = true;
    }
    workChanged_.notify_all();
}

bool SongStore::WaitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(workMutex_);
    return workChanged_.wait_for(lock, limit, [this] { return !working_ && !requeryWanted_ && !clearWanted_; });
}

void SongStore::backgroundLoop() {
    std::unique_lock lock(workMutex_);
    for (;;) {
        workChanged_.wait(lock, [this] { return stopping_ || requeryWanted_ || clearWanted_; });
        if (stopping_) return;
        const bool clear = std::exchange(clearWanted_, false);
        const bool requery = std::exchange(requeryWanted_, false) && !clear;
        working_ = true;
        lock.unlock();
        const Wait wait = workerWait([this] { return stopping_.load(); });
        try {
            if (clear) backgroundClear(wait);
            if (requery) Requery(wait.cancelled);
        } catch (...) {
            // The grid keeps the last good snapshot; nothing here may end the program.
        }
        lock.lock();
        working_ = false;
        workChanged_.notify_all();
    }
}

void SongStore::backgroundClear(const Wait& wait) {
    Cleared cleared = Cleared::Failed;
    {
        if (auto requery = acquire(requeryMutex_, wait)) cleared = clearLocked(wait, false);
    }
    if (cleared != Cleared::Done) {
        // Nothing was deleted: the query opens again on the rows it showed;
        // rows inserted meanwhile come with the next re-opening.
        std::lock_guard lock(snapshotMutex_);
        clearPending_ = false;
        snapshot_ = std::move(beforeClear_);
        beforeClear_.reset();
    }
    notify();
}

// ---- Fields -----------------------------------------------------------------

std::optional<SongRow> SongStore::Record(std::int64_t rowid) const {
    std::lock_guard lock(fieldMutex_);
    if (auto hit = cache_.find(rowid)) return hit;
    try {
        // Without the log (a file system that refuses it) a writer of another
        // process keeps readers out: once one read found the file locked, the
        // next ones do not wait, so a screenful of rows costs one wait.
        const bool lockedLately = Clock::now() < fieldsLockedUntil_;
        StoreConnection::WaitScope scope(*fieldDb_, lockedLately ? Wait{} : Wait::For(kBriefWait));
        if (!fieldRead_) fieldRead_ = fieldDb_->prepare("select title,url2,keys from tab1 where rowid = ?");
        sqlite3_stmt* read = fieldRead_.get();
        // Reset at once: a statement left open would hold its read of the file.
        struct Reset {
            sqlite3_stmt* statement;
            ~Reset() { sqlite3_reset(statement); }
        } reset{read};
        sqlite3_bind_int64(read, 1, rowid);
        if (!fieldDb_->step(read)) return std::nullopt;
        SongRow row{rowid, columnText(read, 0), columnText(read, 1), columnText(read, 2)};
        cache_.put(row);
        return row;
    } catch (const StoreError& e) {
        if (e.locked()) fieldsLockedUntil_ = Clock::now() + kBriefWait * 8;
        return std::nullopt;
    }
}

std::optional<SongRow> SongStore::Row(int index) const {
    const auto snapshot = Snapshot();
    if (index < 0 || static_cast<std::size_t>(index) >= snapshot->ids.size()) return std::nullopt;
    return Record(snapshot->ids[static_cast<std::size_t>(index)]);
}

void CreateEmptyStore(const std::string& path) {
    if (std::filesystem::exists(path)) throw StoreError("File already exists: " + path);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
    if (rc != SQLITE_OK) throw StoreError(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), rc);
    char* error = nullptr;
    rc = sqlite3_exec(db, "create table tab1 (title text, url2 text, keys text)", nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string message = error ? error : sqlite3_errmsg(db);
        sqlite3_free(error);
        throw StoreError(message, rc);
    }
}

}  // namespace store
