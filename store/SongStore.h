#pragma once
// The song store: the SQLite file holding table tab1 (title, url2, keys) and
// the results query whose snapshot the grid shows. Every operation takes one
// lock, so the UI thread and the cutting stage never interleave.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace store {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One row of the results snapshot; values are UTF-8, a NULL column is empty.
struct SongRow {
    std::int64_t rowid = 0;
    std::optional<std::string> title;
    std::optional<std::string> url2;
    std::optional<std::string> keys;
};

// Called on the thread that changes the snapshot: before it is dropped
// (`closing` true) and after the new one is in place (`closing` false).
using SnapshotListener = std::function<void(bool closing)>;

class SongStore {
public:
    static constexpr const char* kDefaultFile = "mysong.mdb";
    static constexpr const char* kResultsQuery = "select url2,title,keys from tab1";
    static constexpr const char* kResultsQueryAfterClear = "select * from tab1";

    // Opens the connection (the file must exist) and then the results query.
    // Throws StoreError carrying the database's error text.
    explicit SongStore(const std::string& path);
    ~SongStore();
    SongStore(const SongStore&) = delete;
    SongStore& operator=(const SongStore&) = delete;

    // Rows in the current snapshot.
    int Count() const;
    // Re-runs the results query; rows inserted since the last run appear now.
    void Requery();
    // Adds one row. Throws StoreError on any failure; nothing is stored then.
    void Insert(const std::string& title, const std::string& url, const std::string& keyword);
    // Deletes every row, then switches the results query to "select * from tab1".
    // Silent on failure: whatever step failed leaves what earlier steps did.
    void Clear();
    // Deletes the snapshot row at `index` from tab1 and from the snapshot.
    // Throws StoreError on failure.
    void DeleteRow(int index);

    bool IsOpen() const;
    std::string QueryText() const;
    std::optional<SongRow> Row(int index) const;
    // A copy of the whole snapshot (empty while the query is closed).
    std::vector<SongRow> Snapshot() const;

    void SetSnapshotListener(SnapshotListener listener);

private:
    void loadSnapshotLocked();
    void execLocked(const std::string& sql);
    void notify(bool closing);

    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::string queryText_ = kResultsQuery;
    bool open_ = false;
    std::vector<SongRow> snapshot_;
    SnapshotListener listener_;
};

// Creates an empty store file with table tab1; fails if `path` exists.
void CreateEmptyStore(const std::string& path);

}  // namespace store
