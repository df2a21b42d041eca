#include "store/SongStore.h"

#include <filesystem>
#include <memory>

#include <sqlite3.h>

namespace store {
namespace {

struct StatementCloser {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

std::string errorText(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "out of memory";
}

Statement prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        throw StoreError(errorText(db));
    }
    return Statement(raw);
}

std::optional<std::string> columnText(sqlite3_stmt* s, int column) {
    if (column < 0 || sqlite3_column_type(s, column) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, column)));
}

// The results query's text names columns but not the row identity that row
// deletion needs; every text this store runs starts with "select ".
std::string withRowId(const std::string& queryText) {
    static const std::string kSelect = "select ";
    if (queryText.size() >= kSelect.size() &&
        sqlite3_strnicmp(queryText.c_str(), kSelect.c_str(), static_cast<int>(kSelect.size())) == 0) {
        return "select rowid as brelvo_rowid, " + queryText.substr(kSelect.size());
    }
    return queryText;
}

}  // namespace

SongStore::SongStore(const std::string& path) {
    // Opening without SQLITE_OPEN_CREATE: the program never creates its store.
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = errorText(db_);
        if (rc == SQLITE_CANTOPEN) message = "Could not find file '" + path + "': " + message;
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(message);
    }
    // Another process may share the file: wait for its locks instead of failing.
    sqlite3_busy_timeout(db_, 5000);
    try {
        std::lock_guard lock(mutex_);
        loadSnapshotLocked();
        // WAL keeps a page's inserts fast; a file system that refuses it keeps
        // the default journal, which is slower but equally correct.
        sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

SongStore::~SongStore() {
    if (db_) sqlite3_close(db_);
}

void SongStore::loadSnapshotLocked() {
    open_ = false;
    snapshot_.clear();
    Statement stmt = prepare(db_, withRowId(queryText_));
    const int columns = sqlite3_column_count(stmt.get());
    int rowidColumn = -1, titleColumn = -1, urlColumn = -1, keysColumn = -1;
    for (int c = 0; c < columns; ++c) {
        std::string name = sqlite3_column_name(stmt.get(), c);
        if (name == "brelvo_rowid") rowidColumn = c;
        else if (sqlite3_stricmp(name.c_str(), "title") == 0) titleColumn = c;
        else if (sqlite3_stricmp(name.c_str(), "url2") == 0) urlColumn = c;
        else if (sqlite3_stricmp(name.c_str(), "keys") == 0) keysColumn = c;
    }
    std::vector<SongRow> rows;
    for (;;) {
        int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) throw StoreError(errorText(db_));
        SongRow row;
        if (rowidColumn >= 0) row.rowid = sqlite3_column_int64(stmt.get(), rowidColumn);
        row.title = columnText(stmt.get(), titleColumn);
        row.url2 = columnText(stmt.get(), urlColumn);
        row.keys = columnText(stmt.get(), keysColumn);
        rows.push_back(std::move(row));
    }
    snapshot_ = std::move(rows);
    open_ = true;
}

void SongStore::execLocked(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : errorText(db_);
        sqlite3_free(error);
        throw StoreError(message);
    }
}

void SongStore::notify(bool closing) {
    SnapshotListener listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    // Called without the store lock: the listener may read the store.
    if (listener) listener(closing);
}

int SongStore::Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(snapshot_.size());
}

void SongStore::Requery() {
    notify(true);
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        snapshot_.clear();
    }
    std::exception_ptr failure;
    {
        std::lock_guard lock(mutex_);
        try {
            loadSnapshotLocked();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    notify(false);
    if (failure) std::rethrow_exception(failure);
}

void SongStore::Insert(const std::string& title, const std::string& url, const std::string& keyword) {
    std::lock_guard lock(mutex_);
    // Bound parameters: titles and keywords come from web pages and users and
    // may hold any character, quotes included.
    Statement stmt = prepare(db_, "insert into tab1 (title,url2,keys) values (?,?,?)");
    sqlite3_bind_text(stmt.get(), 1, title.data(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.get(), 2, url.data(), static_cast<int>(url.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.get(), 3, keyword.data(), static_cast<int>(keyword.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) throw StoreError(errorText(db_));
}

void SongStore::Clear() {
    notify(true);
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        snapshot_.clear();
        try {
            execLocked("delete from tab1");
            queryText_ = kResultsQueryAfterClear;
            loadSnapshotLocked();
        } catch (const StoreError&) {
            // Clear reports nothing; the query stays closed until the next Requery.
        }
    }
    notify(false);
}

void SongStore::DeleteRow(int index) {
    std::lock_guard lock(mutex_);
    if (!open_ || index < 0 || index >= static_cast<int>(snapshot_.size()))
        throw StoreError("No current record.");
    Statement stmt = prepare(db_, "delete from tab1 where rowid = ?");
    sqlite3_bind_int64(stmt.get(), 1, snapshot_[static_cast<size_t>(index)].rowid);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) throw StoreError(errorText(db_));
    snapshot_.erase(snapshot_.begin() + index);
}

bool SongStore::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

std::string SongStore::QueryText() const {
    std::lock_guard lock(mutex_);
    return queryText_;
}

std::optional<SongRow> SongStore::Row(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(snapshot_.size())) return std::nullopt;
    return snapshot_[static_cast<size_t>(index)];
}

std::vector<SongRow> SongStore::Snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void SongStore::SetSnapshotListener(SnapshotListener listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void CreateEmptyStore(const std::string& path) {
    if (std::filesystem::exists(path)) throw StoreError("File already exists: " + path);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
    if (rc != SQLITE_OK) throw StoreError(errorText(db));
    char* error = nullptr;
    if (sqlite3_exec(db, "create table tab1 (title text, url2 text, keys text)", nullptr, nullptr, &error) !=
        SQLITE_OK) {
        std::string message = error ? error : errorText(db);
        sqlite3_free(error);
        throw StoreError(message);
    }
}

}  // namespace store
