#pragma once
// The downloads list as the store file keeps it: table downloadlist in the
// same file as tab1, through a connection of its own, made by the list's
// first change, so a store that never used the list keeps tab1 alone. tab1
// is never touched, so a file without the table opens as before.
//
// The list is read once, when the store is opened; from then on the owner
// holds it in memory and tells the store of each change. Changes are written
// on the store's own thread, the latest state of each row in one transaction,
// so that the UI thread never waits for the file. A write the file refuses
// (locked by another program for longer than the busy wait, a full disk)
// never stops the program and loses nothing: the changes stay pending and
// are tried again every kRetryPause until the file takes them; the store says
// once when saving stops and once when it works again. A file that cannot be
// read when it is opened (damaged, a foreign table) or is read-only keeps
// nothing for the rest of the run: its rows are not known, so writing could
// overwrite them.
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
    // The finished file as the program saw it when it had written it
    // ("device:inode:size"); empty until then. A file of that path that is
    // not this one is not the program's.
    std::string identity;
    // Where a waiting song stands in the queue: 0 in the order the songs
    // were added (by id); below 0 moved ahead of them by 优先下载, the
    // lowest first. Kept in a column the first move adds to the table.
    std::int64_t queuePlace = 0;

    bool operator==(const ListEntry&) const = default;
};

class DownloadListStore {
public:
    static constexpr const char* kTable = "downloadlist";
    // The table as the list's first change makes it (unless another
    // program has made it meanwhile).
    static constexpr const char* kCreate =
        "create table if not exists downloadlist (id integer primary key, title text not null, url text not null, "
        "folder text not null, filename text not null, state integer not null, received integer not null, "
        "total integer not null, reason text not null, path text not null, identity text not null default '')";
    // Added by the first write of a row moved ahead, so that a list that
    // never moved a song keeps the table as an earlier version made it. An
    // earlier version reads the table as before, and a row it writes again
    // takes its place by id.
    static constexpr const char* kAddQueuePlace =
        "alter table downloadlist add column queueplace integer not null default 0";
    // How long reading the list when the store opens waits for a file
    // another connection holds locked (the window is being built meanwhile).
    static constexpr std::chrono::milliseconds kOpenWait{200};
    // How long each write on the store's thread (making the table included)
    // waits for it.
    static constexpr std::chrono::milliseconds kBusyWait{5000};
    // How long closing still tries to write what is pending.
    static constexpr std::chrono::milliseconds kCloseWait{1000};
    // The pause before a refused write is tried again.
    static constexpr std::chrono::milliseconds kRetryPause{1000};
    // At most this many rows go in one transaction: a list that takes many
    // songs at once is written in several, and closing never waits for
    // more than one of them past kCloseWait.
    static constexpr std::size_t kRowsPerWrite = 20000;

    // Opens the file at `path` (which must exist) and reads the list. Never
    // throws: when the file cannot be read or written, the list starts
    // empty (or as read) and lives in memory; Problem() says why.
    explicit DownloadListStore(const std::string& path, std::chrono::milliseconds busyWait = kBusyWait,
                               std::chrono::milliseconds retryPause = kRetryPause);
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
    // Written later, on the store's thread (the first one makes the table);
    // nothing when the file could not be read.
    void Save(const ListEntry& entry);
    // The same for many rows at once.
    void Save(const std::vector<ListEntry>& entries);
    void Remove(std::int64_t id);

    // True while the list is not kept in the file: for the rest of the run
    // after a failure at opening, until a write succeeds after a refused one.
    bool InMemory() const;
    // True when the file could not be read or is read-only: nothing is
    // written for the rest of the run.
    bool Unusable() const;
    // Why, in the database's words; empty while the file keeps the list.
    std::string Problem() const;
    // Called on the store's thread when a write (or making the table) fails
    // after the last one worked, and the changes wait in memory; not for a
    // failure while opening (see Problem()). A write that failed before the
    // listener was set is told to it at once, on the calling thread.
    void SetProblemListener(std::function<void(const std::string& problem)> listener);
    // Called on the store's thread when a write works after a refused one.
    void SetResumedListener(std::function<void()> listener);

    // Waits until everything saved so far is written (or refused and the
    // problem listener told); false when that took longer than `limit`.
    bool WaitUntilWritten(std::chrono::milliseconds limit);

private:
    void open(const std::string& path);
    void load();
    void writeLoop();
    // Writes one batch; false (and the listener told) when the file refused it.
    bool writeOnce(std::unique_lock<std::mutex>& lock);
    void writeBatch(const std::map<std::int64_t, std::optional<ListEntry>>& batch, bool createTable,
                    bool addIdentity, bool queuePlaceThere);
    // Adds the column `name` with `alter` unless the table has it (another
    // program may have added it meanwhile).
    void addColumn(const char* name, const char* alter);

    const std::chrono::milliseconds busyWait_;
    const std::chrono::milliseconds retryPause_;
    std::unique_ptr<StoreConnection> db_;
    std::vector<ListEntry> loaded_;
    std::int64_t nextId_ = 1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Row id -> its latest state, or nothing for a removed row.
    std::map<std::int64_t, std::optional<ListEntry>> pending_;
    bool writing_ = false;
    // The file has no table yet: the first write makes it.
    bool tableMissing_ = false;
    // The table is an earlier version's, without the identity column.
    bool identityMissing_ = false;
    // The table has no queueplace column yet (see kAddQueuePlace).
    bool queuePlaceMissing_ = false;
    // The last write was refused; its changes are pending again.
    bool refused_ = false;
    bool closing_ = false;
    std::chrono::steady_clock::time_point closeDeadline_;
    // The file could not be read (or is read-only): nothing is written.
    bool unusable_ = false;
    std::string problem_;
    std::function<void(const std::string&)> listener_;
    std::function<void()> resumedListener_;
    bool untold_ = false;   // a write failed while no listener was set
    bool telling_ = false;  // the listener is being told of a failure
    std::thread writer_;
};

}  // namespace store
