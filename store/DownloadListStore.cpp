#include "store/DownloadListStore.h"

#include <algorithm>

#include <sqlite3.h>

#include "store/StoreConnection.h"

namespace store {
namespace {

using Clock = std::chrono::steady_clock;

// The table's columns, in the order the statements bind and read them; a
// column an earlier version's table lacks reads as its default.
std::string selectSql(bool identityThere, bool queuePlaceThere) {
    return std::string("select id, title, url, folder, filename, state, received, total, reason, path, ") +
           (identityThere ? "identity" : "''") + ", " + (queuePlaceThere ? "queueplace" : "0") +
           " from downloadlist order by id";
}
constexpr const char* kAddIdentity = "alter table downloadlist add column identity text not null default ''";
constexpr const char* kSave =
    "insert or replace into downloadlist (id, title, url, folder, filename, state, received, total, reason, path, "
    "identity) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kSaveWithQueuePlace =
    "insert or replace into downloadlist (id, title, url, folder, filename, state, received, total, reason, path, "
    "identity, queueplace) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kRemove = "delete from downloadlist where id = ?";

std::string text(sqlite3_stmt* s, int column) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(s, column))) : std::string();
}

// A state the table holds; anything else (a later version's, or damage)
// reads as stopped, which the user can download again.
ListState stateOf(std::int64_t value) {
    if (value >= static_cast<int>(ListState::Waiting) && value <= static_cast<int>(ListState::Stopped))
        return static_cast<ListState>(value);
    return ListState::Stopped;
}

void bindText(StoreConnection& db, sqlite3_stmt* s, int index, const std::string& value) {
    const int rc = sqlite3_bind_text(s, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) db.fail(rc);
}

void bindInt(StoreConnection& db, sqlite3_stmt* s, int index, std::int64_t value) {
    const int rc = sqlite3_bind_int64(s, index, value);
    if (rc != SQLITE_OK) db.fail(rc);
}

}  // namespace

DownloadListStore::DownloadListStore(const std::string& path, std::chrono::milliseconds busyWait,
                                     std::chrono::milliseconds retryPause)
    : busyWait_(busyWait), retryPause_(retryPause) {
    try {
        open(path);
    } catch (const StoreError& e) {
        unusable_ = true;
        problem_ = e.what();
        db_.reset();
    }
    if (!unusable_) writer_ = std::thread([this] { writeLoop(); });
}

DownloadListStore::~DownloadListStore() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        listener_ = nullptr;
        resumedListener_ = nullptr;
        closeDeadline_ = Clock::now() + kCloseWait;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
}

void DownloadListStore::open(const std::string& path) {
    db_ = std::make_unique<StoreConnection>(path);
    StoreConnection::WaitScope scope(*db_, Wait::For(std::min(busyWait_, kOpenWait)));
    const auto count = [this](const char* sql) {
        Statement s = db_->prepare(sql);
        return db_->step(s.get()) ? sqlite3_column_int(s.get(), 0) : 0;
    };
    const bool found = count("select count(*) from sqlite_master where type = 'table' and name = 'downloadlist'") > 0;
    if (found) {
        identityMissing_ =
            count("select count(*) from pragma_table_info('downloadlist') where name = 'identity'") == 0;
        queuePlaceMissing_ =
            count("select count(*) from pragma_table_info('downloadlist') where name = 'queueplace'") == 0;
        load();
    }
    // A file the system lets this process read but not write opens all the
    // same; the rows it holds are shown, and nothing is written.
    if (sqlite3_db_readonly(db_->get(), "main") == 1) {
        unusable_ = true;
        problem_ = sqlite3_errstr(SQLITE_READONLY);
        db_.reset();
        return;
    }
    // Made by the first change: a store that never used the list keeps
    // tab1 alone, and the window being built never waits for the write lock.
    tableMissing_ = !found;
    if (!found) queuePlaceMissing_ = true;
}

void DownloadListStore::load() {
    Statement select = db_->prepare(selectSql(!identityMissing_, !queuePlaceMissing_).c_str());
    while (db_->step(select.get())) {
        ListEntry entry;
        entry.id = sqlite3_column_int64(select.get(), 0);
        entry.title = text(select.get(), 1);
        entry.url = text(select.get(), 2);
        entry.folder = text(select.get(), 3);
        entry.fileName = text(select.get(), 4);
        entry.state = stateOf(sqlite3_column_int64(select.get(), 5));
        entry.received = sqlite3_column_int64(select.get(), 6);
        entry.total = sqlite3_column_int64(select.get(), 7);
        entry.reason = text(select.get(), 8);
        entry.path = text(select.get(), 9);
        entry.identity = text(select.get(), 10);
        entry.queuePlace = sqlite3_column_int64(select.get(), 11);
        if (entry.id >= nextId_) nextId_ = entry.id + 1;
        loaded_.push_back(std::move(entry));
    }
}

std::int64_t DownloadListStore::NewId() {
    std::lock_guard lock(mutex_);
    return nextId_++;
}

void DownloadListStore::Save(const ListEntry& entry) {
    {
        std::lock_guard lock(mutex_);
        if (unusable_) return;
        pending_[entry.id] = entry;
    }
    changed_.notify_all();
}

void DownloadListStore::Save(const std::vector<ListEntry>& entries) {
    if (entries.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (unusable_) return;
        for (const ListEntry& entry : entries) pending_[entry.id] = entry;
    }
    changed_.notify_all();
}

void DownloadListStore::Remove(std::int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (unusable_) return;
        pending_[id] = std::nullopt;
    }
    changed_.notify_all();
}

bool DownloadListStore::InMemory() const {
    std::lock_guard lock(mutex_);
    return unusable_ || refused_;
}

bool DownloadListStore::Unusable() const {
    std::lock_guard lock(mutex_);
    return unusable_;
}

std::string DownloadListStore::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

void DownloadListStore::SetProblemListener(std::function<void(const std::string&)> listener) {
    std::unique_lock lock(mutex_);
    listener_ = std::move(listener);
    if (!untold_ || !listener_) return;
    untold_ = false;
    const auto told = listener_;
    const std::string problem = problem_;
    lock.unlock();
    told(problem);
}

void DownloadListStore::SetResumedListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    resumedListener_ = std::move(listener);
}

bool DownloadListStore::WaitUntilWritten(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] {
        return !telling_ && !writing_ && (unusable_ || refused_ || pending_.empty());
    });
}

void DownloadListStore::writeLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !pending_.empty(); });
        if (pending_.empty()) return;  // closing, nothing left
        if (writeOnce(lock)) {
            // Closing: what is left once its while has passed stays unwritten.
            if (closing_ && Clock::now() >= closeDeadline_) return;
            continue;
        }
        // Refused: tried again after a pause, or once more when closing
        // (which gives the write its last short while).
        if (closing_) {
            if (Clock::now() >= closeDeadline_) return;
            changed_.wait_for(lock, std::chrono::milliseconds(50));
            continue;
        }
        changed_.wait_for(lock, retryPause_, [this] { return closing_; });
    }
}

bool DownloadListStore::writeOnce(std::unique_lock<std::mutex>& lock) {
    std::map<std::int64_t, std::optional<ListEntry>> batch;
    if (pending_.size() <= kRowsPerWrite) {
        batch.swap(pending_);
    } else {
        // The lowest ids first, a transaction's worth.
        while (batch.size() < kRowsPerWrite) batch.insert(batch.end(), pending_.extract(pending_.begin()));
    }
    const bool create = tableMissing_, addIdentity = identityMissing_;
    // The column comes with the first row moved ahead.
    const bool queuePlaceThere =
        !queuePlaceMissing_ || std::any_of(batch.begin(), batch.end(), [](const auto& row) {
            return row.second && row.second->queuePlace != 0;
        });
    writing_ = true;
    lock.unlock();
    std::string problem;
    try {
        writeBatch(batch, create, addIdentity, queuePlaceThere);
    } catch (const StoreError& e) {
        problem = e.what();
    }
    lock.lock();
    writing_ = false;
    if (problem.empty()) {
        tableMissing_ = false;
        identityMissing_ = false;
        if (queuePlaceThere) queuePlaceMissing_ = false;
        const bool resumed = refused_;
        refused_ = false;
        problem_.clear();
        const auto listener = resumed ? resumedListener_ : nullptr;
        lock.unlock();
        if (listener) listener();
        lock.lock();
        changed_.notify_all();
        return true;
    }
    // Nothing of the batch was written (one transaction): what changed
    // meanwhile is newer, the rest goes back.
    for (auto& [id, entry] : batch) pending_.try_emplace(id, std::move(entry));
    const bool first = !refused_;
    refused_ = true;
    problem_ = problem;
    if (first) {
        const auto listener = listener_;
        untold_ = !listener;
        // A waiter hears of the failure after the listener has.
        telling_ = static_cast<bool>(listener);
        lock.unlock();
        if (listener) listener(problem);
        lock.lock();
        telling_ = false;
    }
    changed_.notify_all();
    return false;
}

// One transaction for the latest state of every row changed meanwhile: a
// song's end and the next one's start cost one commit.
void DownloadListStore::addColumn(const char* name, const char* alter) {
    Statement has = db_->prepare(
        (std::string("select count(*) from pragma_table_info('downloadlist') where name = '") + name + "'").c_str());
    const bool there = db_->step(has.get()) && sqlite3_column_int(has.get(), 0) > 0;
    has.reset();
    if (!there) db_->exec(alter);
}

void DownloadListStore::writeBatch(const std::map<std::int64_t, std::optional<ListEntry>>& batch, bool createTable,
                                   bool addIdentity, bool queuePlaceThere) {
    // Closing gives the write a last short while, then gives up.
    Wait wait = Wait::For(busyWait_, [this] {
        std::lock_guard lock(mutex_);
        return closing_ && Clock::now() >= closeDeadline_;
    });
    StoreConnection::WaitScope scope(*db_, std::move(wait));
    db_->exec("begin immediate");
    try {
        // Another program may have made the table, or the column, meanwhile.
        if (createTable) db_->exec(kCreate);
        if (addIdentity) addColumn("identity", kAddIdentity);
        // Added by this write, or there already (this program or another
        // may have added it meanwhile): every row keeps its place then.
        if (queuePlaceThere) addColumn("queueplace", kAddQueuePlace);
        Statement save = db_->prepare(queuePlaceThere ? kSaveWithQueuePlace : kSave);
        Statement remove = db_->prepare(kRemove);
        for (const auto& [id, entry] : batch) {
            sqlite3_stmt* s = entry ? save.get() : remove.get();
            sqlite3_reset(s);
            bindInt(*db_, s, 1, id);
            if (entry) {
                bindText(*db_, s, 2, entry->title);
                bindText(*db_, s, 3, entry->url);
                bindText(*db_, s, 4, entry->folder);
                bindText(*db_, s, 5, entry->fileName);
                bindInt(*db_, s, 6, static_cast<int>(entry->state));
                bindInt(*db_, s, 7, entry->received);
                bindInt(*db_, s, 8, entry->total);
                bindText(*db_, s, 9, entry->reason);
                bindText(*db_, s, 10, entry->path);
                bindText(*db_, s, 11, entry->identity);
                if (queuePlaceThere) bindInt(*db_, s, 12, entry->queuePlace);
            }
            db_->step(s);
        }
        db_->exec("commit");
    } catch (...) {
        sqlite3_exec(db_->get(), "rollback", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace store
