#pragma once
// What the downloads list asks of the download engine: songs fetched in the
// background, a few at a time, each told when it starts, as its bytes
// arrive, and when it ends, on the UI thread. ListQueueDownloader is the
// program's, over the engine's download queue; tests may give their own.
#include <cstdint>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/DownloadOutcome.h"

namespace app {

class ListDownloader {
public:
    struct Song {
        std::int64_t id = 0;      // the list's row id; every report names it
        std::string url;
        std::string folder;       // absolute, ending in "/"
        std::string fileName;     // the destination name, made safe by the download
        // Only MPEG audio is saved; anything else fails as not audio.
        bool audioOnly = true;
    };
    struct Reports {
        std::function<void(std::int64_t id)> started;
        std::function<void(std::int64_t id, std::int64_t received, std::int64_t total)> progress;
        // A pause before another attempt begins, `pause` long from now
        // (the song may have given its place away); 0: it ends, the next
        // attempt begins.
        std::function<void(std::int64_t id, std::chrono::milliseconds pause)> retryWait;
        // Once for every song added, also for one stopped before it
        // started (then Cancelled). `received` and `total` are the bytes
        // held and the song's length (0: not known) when it ended.
        std::function<void(std::int64_t id, const DownloadOutcome& outcome, std::int64_t received,
                           std::int64_t total)>
            ended;
    };

    virtual ~ListDownloader() = default;
    // Set before the first song is added.
    virtual void setReports(Reports reports) = 0;
    // The song waits for its turn, then downloads.
    virtual void add(const Song& song) = 0;
    // Ends the song, waiting or running; its end is still reported.
    virtual void stop(std::int64_t id) = 0;
    // The waiting songs among `ids` start first, in this order.
    virtual void moveToFront(const std::vector<std::int64_t>& ids) = 0;
    // Songs downloading at once from now on (1 to 5).
    virtual void setPlaces(int places) = 0;
    // Bytes per second the list's downloads may take together; 0: no
    // limit. Reaches the running ones too.
    virtual void setSpeedLimit(std::int64_t bytesPerSecond) = 0;
    // Ends every song and reports nothing more (the program is closing).
    virtual void stopAll() = 0;
};

}  // namespace app
