#pragma once
// The orders the results grid can show its rows in, kept beside tab1 so that
// an order is one ORDER BY over an index: table songorder (id = tab1's
// rowid, title and keys as sort keys, url), an index on each of the three,
// and songorder_state, how far a build got. Made by the first sort or fold;
// a store never sorted keeps tab1 as it was (no index on tab1 ever: an
// index there would turn the grid's ids-only read into an index scan).
//
// A sort key is the text folded by the song rule (store/SongKey.h) in GBK
// bytes, which puts the common hanzi in pinyin order; when GBK cannot hold
// it, a zero byte and the folded UTF-8 follow. Two titles with equal keys
// name the same song, so the title index also groups a song's links.
//
// The song store's own writes keep the table in step (keepInserted,
// keepDeleted, keepCleared); a failure there leaves a row out, and the rows
// an order misses are added when it finds them missing. Rows another
// program appends are added before an order is read.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/StoreConnection.h"

namespace store {

enum class SortKey { None, Title, Keys, Url, Verdict, Kbps, Seconds, Size };

struct SortOrder {
    SortKey key = SortKey::None;
    bool descending = false;
    bool operator==(const SortOrder&) const = default;
};

// The sort key of a title or keyword.
std::string orderKey(std::string_view text);

class SongOrderIndex {
public:
    static constexpr const char* kTable = "songorder";
    static constexpr const char* kStateTable = "songorder_state";
    // Rows added in one transaction: a writer waits for at most one slice.
    static constexpr std::int64_t kSliceRows = 20000;

    using Cancelled = std::function<bool()>;
    using Progress = std::function<void(std::int64_t done, std::int64_t total)>;

    // Opens a connection of its own to the store file at `path`. Throws StoreError.
    explicit SongOrderIndex(const std::string& path);
    ~SongOrderIndex();

    // Makes the tables when missing, finishes a build left unfinished and
    // adds the rows appended past the last one added. False when cancelled
    // first. Throws StoreError.
    bool bringUpToDate(const Wait& wait, const Progress& progress = {});

    // The ids of the rows in `order` (not None), as `visit(id, last)` tells
    // them: `last` false for the rows that go before those the order has no
    // value for (an unprobed link, a verdict without a bit rate), true for
    // those after them. Ties keep rowid order (reversed when descending).
    // `visit` returns false to stop. Throws StoreError (interrupted too).
    void ordered(SortOrder order, const std::function<bool(std::int64_t id, bool last)>& visit);

    // Every row in title-key order: `newSong` is true where the key changes.
    void songs(const std::function<void(std::int64_t id, bool newSong)>& visit);

    // What the store knows of a probed row's link, for choosing a song's best.
    struct LinkRank {
        std::int64_t id = 0;
        int rank = 0;  // 0 可用, 2 暂时不可用, 3 失效 or 不是歌曲 (1 is an unprobed link)
        std::int64_t kbps = 0;
        std::int64_t size = 0;
    };
    std::vector<LinkRank> probedLinks();

    // Adds these rows of tab1 (those that still exist); how many it added.
    // Throws StoreError (the file locked for longer than `wait`, say).
    std::size_t addRows(const std::vector<std::int64_t>& ids, const Wait& wait);

    void setInterrupt(Cancelled cancelled);

    // Changes whenever the table may have changed: another connection
    // committed, or this one wrote.
    std::pair<std::int64_t, std::uint64_t> version() { return {db_->dataVersion(), writes_}; }

    // For the song store's writes: nothing when the store has no table.
    // Failures are not told (see above).
    static bool present(StoreConnection& db);
    static void keepInserted(StoreConnection& db, std::int64_t rowid, std::string_view title, std::string_view keyword,
                             std::string_view url);
    static void keepDeleted(StoreConnection& db, std::int64_t rowid);
    static void keepCleared(StoreConnection& db);

private:
    void createTables();
    bool verdictsPresent();
    bool indexed();

    std::unique_ptr<StoreConnection> db_;
    std::uint64_t writes_ = 0;
    Cancelled interrupt_;
};

}  // namespace store
