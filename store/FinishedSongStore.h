#pragma once
// The songs the program has finished into files, kept in the store file so
// that the results grid can tell a song already downloaded: table
// finishedsongs, one row per address (the last file it was saved as), made
// by the first record; a store that never finished a download keeps its
// tables as they are, and reading creates nothing. Through a connection of
// its own; one operation at a time.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/StoreConnection.h"

namespace store {

struct FinishedSong {
    std::string url;
    std::string title;
    std::string path;  // absolute
    std::int64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t finishedAt = 0;  // seconds since 1970, UTC

    bool operator==(const FinishedSong&) const = default;
};

class FinishedSongStore {
public:
    // Paths and titles longer than this are no record the program wrote.
    static constexpr std::size_t kTextLimit = 4096;

    // Opens a connection of its own to the store file at `path`. Throws StoreError.
    explicit FinishedSongStore(const std::string& path);

    // Keeps each song in place of its address's earlier file, all in one
    // transaction (the table made first when missing). Throws StoreError.
    void record(const std::vector<FinishedSong>& songs,
                std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    // Every kept song, in no particular order. A row no record could have
    // written (a relative path, a negative size, texts past kTextLimit) is
    // left out. Throws StoreError.
    std::vector<FinishedSong> all(std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    // Whether the table is there (for tests).
    bool hasTable();
    // Any thread: the statement under way ends soon, throwing StoreError.
    void interrupt();

private:
    bool tableExistsLocked();

    std::mutex mutex_;
    std::unique_ptr<StoreConnection> db_;
};

}  // namespace store
