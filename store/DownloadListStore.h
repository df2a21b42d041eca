#pragma once
// The downloads list as the store file keeps it: table downloadlist in the
// same file as tab1, created when missing, through a connection of its own.
// tab1 is never touched, so a file without the table (written by an earlier
// version) opens as before and gets it.
//
// The list is read once, when the store is opened; from then on the owner
// holds it in memory and tells the store of each change. Changes are written
// on the store's own thread, the latest state of each row in one transaction,
// so that the UI thread never waits for the file. A file the list cannot be
// kept in (read-only, locked by another program for longer than the busy
// wait, damaged) never stops the program: the store then keeps nothing more
// for the rest of the run, and says why once.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace store {

class StoreConnection;

// What became of a song of the list. The numbers are what the table holds.
enum class ListState : int {
    Waiting = 0,
    Downloading = 1,
    Finished = 2,
    Failed = 3,
    Stopped = 4,
};

struct ListEntry {
    std::int64_t id = 0;
    std::string title;
    std::string url;
    // Absolute, ending in "/".
    std::string folder;
    // The destination name the download was given (the song's title and
    // ".mp3", the download making it safe).
    std::string fileName;
    ListState state = ListState::Waiting;
    std::int64_t received = 0;
    std::int64_t total = 0;  // 0: not known
    std::string reason;      // why it failed, in the user's words; for a finished
                             // one what it is when it is not a song
    std::string path;        // the file it was saved as, once finished

    bool operator==(const ListEntry&) const = default;
};

class DownloadListStore {
public:
    static constexpr const char* kTable = "downloadlist";
    // How long reading the list when the store opens waits for a file
    // another connection holds locked (the window is being built meanwhile).
    static constexpr std::chrono::milliseconds kOpenWait{200};
    // How long each write on the store's thread (making the table included)
    // waits for it.
    static constexpr std::chrono::milliseconds kBusyWait{5000};
    // How long closing still tries to write what is pending.
    static constexpr std::chrono::milliseconds kCloseWait{500};

    // Opens the file at `path` (which must exist) and reads the list; a
    // missing table is made on the store's thread. Never throws: when the
    // file cannot keep the list, the list starts empty (or as read) and
    // lives in memory; Problem() says why.
    explicit DownloadListStore(const std::string& path, std::chrono::milliseconds busyWait = kBusyWait);
    // Writes what is pending (the table too, when it is still to be made),
    // giving up after kCloseWait; the problem listener is not called any more.
    ~DownloadListStore();
    DownloadListStore(const DownloadListStore&) = delete;
    DownloadListStore& operator=(const DownloadListStore&) = delete;

    // The rows read when the store was opened, by id; taken once (the owner
    // holds the list from then on).
    std::vector<ListEntry> TakeLoaded() { return std::move(loaded_); }
    // An id no row of the table has; each call gives a new one.
    std::int64_t NewId();

    // Keeps `entry` (a new row, or the new state of one) / removes the row.
    // Written later, on the store's thread; nothing when in memory.
    void Save(const ListEntry& entry);
    void Remove(std::int64_t id);

    // True once the list is no longer kept in the file.
    bool InMemory() const;
    // Why, in the database's words; empty while the file keeps the list.
    std::string Problem() const;
    // Called once, on the store's thread, when a write (or making the
    // table) fails and the list goes on in memory; not for a failure while
    // opening (see Problem()). A write that failed before the listener was
    // set is told to it at once, on the calling thread.
    void SetProblemListener(std::function<void(const std::string& problem)> listener);

    // Waits until everything saved so far is written (or given up and the
    // listener told); false when that took longer than `limit`.
    bool WaitUntilWritten(std::chrono::milliseconds limit);

private:
    void open(const std::string& path);
    void load();
    void writeLoop();
    void writeBatch(const std::map<std::int64_t, std::optional<ListEntry>>& batch, bool createTable);

    const std::chrono::milliseconds busyWait_;
    std::unique_ptr<StoreConnection> db_;
    std::vector<ListEntry> loaded_;
    std::int64_t nextId_ = 1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Row id -> its latest state, or nothing for a removed row.
    std::map<std::int64_t, std::optional<ListEntry>> pending_;
    bool writing_ = false;
    // The file has no table yet: the store's thread makes it first.
    bool createWanted_ = false;
    bool closing_ = false;
    std::chrono::steady_clock::time_point closeDeadline_;
    bool inMemory_ = false;
    std::string problem_;
    std::function<void(const std::string&)> listener_;
    bool untold_ = false;   // a write failed while no listener was set
    bool telling_ = false;  // the listener is being told of a failure
    std::thread writer_;
};

}  // namespace store
