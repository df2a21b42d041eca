#pragma once
// Reads the kept verdicts of the grid's rows into GridVerdicts, on a thread
// of its own with a store connection of its own, so the window never waits
// for the file: every row's at the start, then those of the rows added since
// each time the grid's snapshot grows. Readings asked for while one runs are
// one more reading after it.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "store/LinkVerdictStore.h"

namespace store {

class GridVerdicts;
class LinkVerdictStore;

class GridVerdictLoader {
public:
    // Starts reading every row's verdicts at once. Made on the UI thread,
    // which `verdicts` belongs to.
    GridVerdictLoader(std::string storePath, GridVerdicts& verdicts);
    // Stops a reading under way and waits for the thread.
    ~GridVerdictLoader();
    GridVerdictLoader(const GridVerdictLoader&) = delete;
    GridVerdictLoader& operator=(const GridVerdictLoader&) = delete;

    // Reads the verdicts of the rows added since the last reading.
    void lookForNewRows();
    // Ends the reading under way soon, and every later one (the window closes).
    void stop();
    // True while nothing is asked for or read (for tests).
    bool idle() const;

private:
    void run();

    const std::string path_;
    GridVerdicts& verdicts_;
    // Receives the readings on the UI thread; gone with this object, and
    // the readings still queued to it with it.
    QObject receiver_;
    // Verdicts read, for the UI thread, handed over under this lock (which
    // the thread checkers see, unlike Qt's event queue).
    std::mutex readMutex_;
    std::vector<StoredVerdict> read_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = true;
    bool reading_ = false;
    bool stopping_ = false;
    LinkVerdictStore* store_ = nullptr;  // while the thread has it open, for stop()
    std::thread thread_;  // last: runs on the members above
};

}  // namespace store
