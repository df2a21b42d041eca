#pragma once
// Finding a song's links: the rows of tab1 whose titles have the same song
// key (store/SongKey.h). The keys live in a table of their own, songkeys
// (id = tab1's rowid, key, indexed by key), made on first use from every row
// of tab1; a store that never asked keeps tab1 alone. Once it exists the
// song store's own inserts add their keys, and a lookup first adds the rows
// another program appended past the last one indexed. What a lookup returns
// is read back from tab1 and checked against the key, so a row deleted or
// written over since is never one of a song's links.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "store/StoreConnection.h"

namespace store {

class SongKeyIndex {
public:
    static constexpr const char* kTable = "songkeys";

    // Opens a connection of its own to the store file at `path`. Throws StoreError.
    explicit SongKeyIndex(const std::string& path);

    // The rowids of the rows whose titles name the song `title` names, in
    // rowid order; makes the index when the store has none yet. Throws
    // StoreError (the file locked for longer than `wait`, say).
    std::vector<std::int64_t> linksOf(std::string_view title,
                                      std::chrono::milliseconds wait = std::chrono::milliseconds(5000));

    struct Link {
        std::int64_t id = 0;
        std::string url;
        bool operator==(const Link&) const = default;
    };
    // The same rows with their addresses, in rowid order.
    std::vector<Link> linkUrlsOf(std::string_view title,
                                 std::chrono::milliseconds wait = std::chrono::milliseconds(5000));

    // For the song store's inserts: adds the key of the row `rowid` just
    // written through `db`, when the store has an index; nothing otherwise.
    // A failure leaves the row without its key and is not told: the row is
    // stored, and the index is only a way to find it.
    static void keepInStep(StoreConnection& db, std::int64_t rowid, std::string_view title);

private:
    void ensureLocked();
    void catchUpLocked();

    std::mutex mutex_;
    std::unique_ptr<StoreConnection> db_;
    bool ready_ = false;
    Statement lookup_;
};

}  // namespace store
