#pragma once
// The downloads list's rows by what adding a song asks of them: is this song
// (its address, and its title's file name) waiting, downloading or finished
// already; does a song waiting or downloading write a file of this name; and
// which number after the title (" (2)", " (3)" ...) is worth trying first.
// Kept in step with the rows on every change, so that adding a song costs the
// same however long the list is. It holds row ids under hashes of their keys
// only: each answer looks the rows up and compares them in full.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/ShardedHash.h"
#include "store/DownloadListStore.h"

namespace app {

class ListRowIndex {
public:
    // The row of an id as the list holds it now, or nullptr.
    using EntryOf = std::function<const store::ListEntry*(std::int64_t id)>;

    // Rows downloading into `folder` (absolute, ending in "/") are indexed.
    ListRowIndex(std::string folder, EntryOf entryOf);

    // A row as it stands joins the index / leaves it (given as it was
    // when it joined). Only rows of the folder that are waiting,
    // downloading or finished are kept; the caller leaves out rows it does
    // not trust.
    void insert(const store::ListEntry& entry);
    void erase(const store::ListEntry& entry);
    // A row changed from `before` to `after`: only a change of what the
    // index keeps moves it (a song that starts downloading stays as it is).
    void update(const store::ListEntry& before, const store::ListEntry& after);
    void clear();

    // The rows waiting, downloading or finished from `url` whose title
    // gives the file name `titleName` (the title and ".mp3", made safe).
    std::vector<std::int64_t> songRows(const std::string& url, const std::string& titleName) const;
    // The row waiting or downloading from `url` into the file `safeName`, or 0.
    std::int64_t fetching(const std::string& url, const std::string& safeName) const;
    // Whether a row waiting or downloading writes the file `safeName`.
    bool nameTaken(const std::string& safeName) const;
    // The destination name for another song of `title`: the first of
    // "<title>.mp3", "<title> (2).mp3" ... that no row waiting or downloading
    // writes, starting from the number the last call for this title gave
    // (lowered again when a row of it ends or goes).
    std::string freeFileName(const std::string& title);

    // Rows held, for tests.
    std::size_t songCount() const { return songs_.size(); }
    std::size_t fileCount() const { return files_.size(); }

private:
    // Sharded: a long add grows the index a small shard at a time, never
    // all of it at once on the UI thread.
    using Ids = ShardedHash<std::unordered_multimap<std::uint64_t, std::int64_t>>;
    static bool isActive(const store::ListEntry& entry);
    static bool isKept(const store::ListEntry& entry);
    static std::uint64_t songKey(const std::string& url, const std::string& titleName);
    static std::uint64_t fileKey(const std::string& safeName);
    static std::uint64_t titleKey(const std::string& title);
    static void eraseId(Ids& ids, std::uint64_t key, std::int64_t id);
    bool inFolder(const store::ListEntry& entry) const { return entry.folder == folder_; }

    const std::string folder_;
    EntryOf entryOf_;
    // Waiting, downloading or finished rows by song; waiting or
    // downloading rows by the file they write.
    Ids songs_;
    Ids files_;
    // By title: the number to try first; 1 when absent.
    std::unordered_map<std::uint64_t, int> firstTry_;
};

}  // namespace app
