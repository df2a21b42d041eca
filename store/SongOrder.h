#pragma once
// Arranging the grid's rows on a thread of its own: the rows given (the
// store's snapshot, or the filter's rows) in a sort's order, and with a fold
// one row per song, the song's best link. The newest request wins, as with
// the filter: one asked for while another runs ends it and drops whatever
// waited. The order's tables (SongOrderIndex) are made or caught up first.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "store/NewestRequestWorker.h"
#include "store/SongOrderIndex.h"
#include "store/SongStore.h"

namespace store {

struct Arrangement {
    SortOrder sort;
    bool oneRowPerSong = false;
    bool operator==(const Arrangement&) const = default;
    bool any() const { return sort.key != SortKey::None || oneRowPerSong; }
};

struct OrderAnswer {
    enum class Kind {
        Building,  // the tables are being made: built of toBuild rows so far
        First,     // the first rows in order, before the rest are
        Done,      // every row
        Failed,    // the store could not answer now (locked, damaged)
    };
    std::uint64_t request = 0;
    Kind kind = Kind::Done;
    RowIdList ids;
    // With one row per song: how many of the rows given each row's song has.
    std::shared_ptr<const std::vector<std::uint32_t>> links;
    std::int64_t built = 0;
    std::int64_t toBuild = 0;
};

// A song's links put in the downloads list's order: 可用 first (higher bit
// rate, then larger), then never probed, then 暂时不可用, 失效 and 不是歌曲
// last. True when `a` goes before `b`.
bool betterLink(const SongOrderIndex::LinkRank& a, const SongOrderIndex::LinkRank& b);

// `rows` in the order `ordered` tells (SongOrderIndex::ordered), those it
// does not tell where the order has no value, in their own order: the
// rows' set never changes. `missing` gets the rows it did not tell.
RowIdList inOrder(const RowIdList& rows, const std::function<void(const std::function<bool(std::int64_t, bool)>&)>& ordered,
                  std::vector<std::int64_t>* missing = nullptr);

class SongOrder {
public:
    using Listener = std::function<void(OrderAnswer)>;
    static constexpr std::size_t kFirstRows = 256;

    SongOrder(const std::string& path, Listener listener);
    ~SongOrder();
    SongOrder(const SongOrder&) = delete;
    SongOrder& operator=(const SongOrder&) = delete;

    // Asks for `rows` arranged; returns the request's number, which its
    // answers carry. Earlier requests get no more answers.
    std::uint64_t request(Arrangement arrangement, std::shared_ptr<const ResultsSnapshot> rows);
    void cancel();
    bool waitUntilIdle(std::chrono::milliseconds limit);

    struct SongCache;

private:
    struct Request {
        std::uint64_t number = 0;
        Arrangement arrangement;
        std::shared_ptr<const ResultsSnapshot> rows;
    };
    void serve(const Request& request);
    const SongCache& songCache();
    // Adds rows the order's table lacks; whether it added any.
    bool addMissing(const std::vector<std::int64_t>& missing, const Wait& wait);

    const std::string path_;
    Listener listener_;
    std::unique_ptr<SongOrderIndex> index_;
    // The songs of the order's table, read again when it changed.
    std::unique_ptr<SongCache> songCache_;

    std::atomic<std::uint64_t> serving_{0};
    // Last: its thread ends before what it serves with goes.
    NewestRequestWorker<Request> worker_;
};

}  // namespace store
