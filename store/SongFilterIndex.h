#pragma once
// Finding the rows of tab1 whose title or keyword holds a text, folded as the
// song rule folds titles (store/SongKey.h: width, ASCII case, blanks and
// separators). The folded texts live in tables of their own beside tab1,
// made on first use: songfilter (id = tab1's rowid, folded = the folded
// title, a line break, the folded keyword), the FTS5 trigram index over it,
// songfilter_fts, for texts of 3 characters or more, and songfilter_state,
// one row saying how far the index is built and what tab1 held when it was
// last in step (rows, largest rowid). Shorter texts scan the folded column.
//
// The song store's own writes keep the index in step in their transaction
// (keepInserted, keepDeleted, keepCleared). Another program's writes are
// found by the state row: rows appended past the largest rowid are added,
// any other difference in the count of rows rebuilds the index. A text
// changed in place by another program, with the count unchanged, is not
// seen until the index is rebuilt.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/StoreConnection.h"

namespace store {

// What the filter compares: the folded title and keyword, apart.
std::string filterText(std::string_view title, std::string_view keyword);
// The folded form of what the user typed.
std::string filterQuery(std::string_view typed);
// How many characters (code points) a UTF-8 text holds.
std::size_t characterCount(std::string_view text);

class SongFilterIndex {
public:
    static constexpr const char* kRowsTable = "songfilter";
    static constexpr const char* kTextTable = "songfilter_fts";
    static constexpr const char* kStateTable = "songfilter_state";
    // The trigram index answers texts of at least this many characters.
    static constexpr std::size_t kIndexedChars = 3;
    // Rows indexed in one transaction: a writer waits for at most one slice.
    static constexpr std::int64_t kSliceRows = 20000;

    // Stops a statement or a build between slices when it turns true.
    using Cancelled = std::function<bool()>;
    // Told before a slice of a build: rows indexed so far, rows to index.
    using Progress = std::function<void(std::int64_t done, std::int64_t total)>;

    // Opens a connection of its own to the store file at `path`. Throws StoreError.
    explicit SongFilterIndex(const std::string& path);
    ~SongFilterIndex();

    // Makes the index when the store has none, finishes a build left
    // unfinished and adds the rows appended past the last one indexed.
    // Throws StoreError; false when cancelled first.
    bool bringUpToDate(const Wait& wait, const Progress& progress = {});
    // Compares the count of tab1's rows with the state row's, when another
    // connection has committed since the last comparison; rebuilds the index
    // on a difference. True when the index is in step (or a rebuild was
    // begun and finished); false when cancelled first. Throws StoreError.
    bool verify(const Wait& wait, const Progress& progress = {});

    // The ids of the rows whose folded text holds the folded `query`, in
    // rowid order. `found` is told of each id as it comes; it returns false
    // to stop. Throws StoreError; an interrupted search throws too.
    void matches(std::string_view query, const std::function<bool(std::int64_t)>& found);

    // Ends a running statement of this index's connection as soon as
    // `cancelled` turns true (checked every few thousand steps).
    void setInterrupt(Cancelled cancelled);

    // For the song store's writes, inside their transaction: keep the index
    // in step with the row just inserted, the row deleted, the table
    // cleared. Nothing when the store has no index. Throws StoreError.
    static bool present(StoreConnection& db);
    static void keepInserted(StoreConnection& db, std::int64_t rowid, std::string_view title, std::string_view keyword);
    static void keepDeleted(StoreConnection& db, std::int64_t rowid);
    static void keepCleared(StoreConnection& db);

private:
    struct State;
    State readState();
    void createTables();
    bool buildSlices(const Wait& wait, const Progress& progress);
    void restart();

    std::unique_ptr<StoreConnection> db_;
    std::int64_t checkedVersion_ = -1;
    Cancelled interrupt_;
};

}  // namespace store
