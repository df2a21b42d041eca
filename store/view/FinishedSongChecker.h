#pragma once
// Keeps the records of finished songs and checks their files, on a thread
// of its own with a store connection of its own, so the window never waits
// for the file or the disk: a song recorded is written (the table made
// then), then every record is read and its file looked at (one lstat each,
// FinishedFileState), and what differs from the marks handed last is
// handed to GridFinishedSongs. It checks again after each record,
// when asked, and every `every` while it runs, so a file deleted meanwhile
// is seen. A record the file refuses stays in memory, shown all the same,
// and is written with the next round.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "store/FinishedSongStore.h"
#include "store/view/GridFinishedSongs.h"

namespace store {

class FinishedSongChecker {
public:
    static constexpr std::chrono::milliseconds kEvery{10000};

    // Starts with a check of the kept records. Made on the UI thread, which
    // `marks` belongs to.
    FinishedSongChecker(std::string storePath, GridFinishedSongs& marks, std::chrono::milliseconds every = kEvery);
    // Stops a round under way and waits for the thread; what is not yet
    // written gets one more try of at most a second first.
    ~FinishedSongChecker();
    FinishedSongChecker(const FinishedSongChecker&) = delete;
    FinishedSongChecker& operator=(const FinishedSongChecker&) = delete;

    // Any thread: writes the song's record, then checks again.
    void record(FinishedSong song);
    // Checks the files again soon.
    void checkNow();
    // Ends the round under way soon, and every later one (the window closes).
    void stop();
    // True while nothing is asked for or under way (for tests).
    bool idle() const;

private:
    void run();
    // One round: writes what waits, reads the records, checks the files.
    void round(std::unique_ptr<FinishedSongStore>& store, std::vector<FinishedSong>& unwritten,
               std::vector<FinishedSong>& lastRead, FinishedMarks& handed);
    void hand(std::vector<FinishedChange> changes);
    // UI thread: applies the next slice of the changes handed over.
    void takeSome();

    const std::string path_;
    const std::chrono::milliseconds every_;
    GridFinishedSongs& marks_;
    // Receives the marks on the UI thread; gone with this object, and the
    // hand-overs still queued to it with it.
    QObject receiver_;
    // The changes for the UI thread, handed over under this lock (which the
    // thread checkers see, unlike Qt's event queue).
    std::mutex handMutex_;
    std::vector<FinishedChange> handing_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<FinishedSong> toRecord_;
    bool wanted_ = true;
    bool busy_ = false;
    bool stopping_ = false;
    FinishedSongStore* store_ = nullptr;  // while the thread has it open, for stop()
    std::thread thread_;                  // last: runs on the members above
};

}  // namespace store
