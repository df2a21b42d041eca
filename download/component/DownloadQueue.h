#pragma once
// Songs downloaded in the background, a few at a time, without a window.
// Each song has its own address, folder and file name and is written as the
// download component writes one (SongDownload.h: limits, names, page mode,
// the part file, continuing where it stopped, trying again). The queue runs
// one collection of its own with `Parallel` download threads, which waits
// for more songs while it has none; its reports reach the owner's thread
// through the collection's notifier, as the component's do.
//
//   dl::DownloadQueue queue;                  // on the owner's (UI) thread
//   queue.Parallel = 2;                       // before the first Add
//   queue.OnEnded = [](dl::DownloadQueue::Id id, const dl::TransferOutcome& r) { ... };
//   queue.Add(rowId, {url, "downmp3/", title + ".mp3", title});  // the caller's id
//   const auto id = queue.Add({url, "downmp3/", title + ".mp3", title});  // or the next free one
//   ...
//   queue.Stop(id);                           // that song alone; its part file is kept
//   queue.StopAll();                          // closing: every song stopped, waited for
//
// Songs start in the order they were added (MoveToFront changes it), as
// soon as a slot is free; one
// added while others run starts at once when fewer than Parallel run. The
// callbacks run on the owner's thread, one at a time, never inside Add or
// Stop (StopAll tells the songs it stops from inside, see there); the owner
// may call Add, Stop and StopAll from them. A song that fails for a moment is
// tried again within it (TDlDownloads::Attempts), and its result says how
// often. Needs the process's UI-thread hand-off (platform/Handoff.h) and its
// event loop on the owner's thread, as the component does.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "download/component/SongDownload.h"
#include "download/component/TDlDownloadParams.h"
#include "download/engine/TDlDownloads.h"
#include "download/inet/InetRateLimit.h"

namespace platform {
class Handoff;
}

namespace dl {

struct QueuedSong {
    std::string url;
    // The folder, made when missing; a separator is added when it lacks one.
    std::string folder;
    // The file name in it (made safe as a title's is); empty: the name made
    // from the URL.
    std::string name;
    // Carried along for the owner's texts; the queue does not read it.
    std::string title;
    // Only MPEG audio is saved (SongSettings::audioOnly).
    bool audioOnly = false;
};

class DownloadQueue {
public:
    // The caller's name for a song (a row id, say); every report names it.
    using Id = std::int64_t;

    // Songs downloading at once (1 to TDlDownloads::kMaxThreads). The run
    // starts with threads for at least kLivePlaces, so SetParallel may
    // raise it that far while songs run.
    int Parallel = 2;
    static constexpr int kLivePlaces = 5;
    // A pause before another attempt longer than this gives the song's
    // place to the next waiting song; the song takes the next free place
    // when the pause is over (see Downloads().Attempts.handBackAbove).
    static constexpr std::chrono::seconds kGiveWayAbove{3};
    // Limits and continuing, for each song as it is added.
    TDlDownloadParams DownloadParams;
    bool ContinueDownloads = true;

    // The song's transfer has begun (once, not again when it is tried again).
    std::function<void(Id)> OnStarted;
    // Bytes of the song held so far and its whole length (0: not announced),
    // at most as often as the engine's droppable reports (every 500 ms).
    std::function<void(Id, std::uint64_t received, std::uint64_t total)> OnProgress;
    // The song waits before another attempt (a server asked it to, or its
    // line broke): for `pause`, from now; 0 when its next attempt begins.
    std::function<void(Id, std::chrono::milliseconds pause)> OnRetryWait;
    // The song has ended, and everything its page brought with it; its
    // received and total are those its last progress report gave (0 when
    // none came). The last word on the song: its id is unknown to the queue
    // from here on.
    std::function<void(Id, const TransferOutcome&)> OnEnded;

    // Create and destroy on the owner's thread. Destroying it stops every
    // song (their part files kept as by Stop) without calling back.
    DownloadQueue();
    ~DownloadQueue();
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    // Queues a song under the caller's `id` (one not in the queue already;
    // false, and nothing queued, otherwise) and returns at once; it starts
    // as soon as a slot is free.
    bool Add(Id id, const QueuedSong& song);
    // The same under the next id no song of this queue has had.
    Id Add(const QueuedSong& song);
    // Stops one song, waiting or running: it ends with state Stopped, its
    // bytes kept for the next download of it to continue when they can be
    // (as Cancel keeps them). Nothing for an id that has ended.
    void Stop(Id id);
    // The waiting songs among `ids` start before every other waiting song,
    // in the order given; the others are skipped.
    void MoveToFront(const std::vector<Id>& ids);
    // Songs downloading at once from now on: more start waiting songs at
    // once; fewer let the running ones end and start none until under it.
    void SetParallel(int places);
    // Stops every song and waits until each has ended and told it (OnEnded,
    // Stopped, from inside this call). From inside a callback it does not
    // wait: the songs end (and tell it) a moment later.
    void StopAll();

    // Songs added and not yet ended, waiting or running.
    int Count() const { return static_cast<int>(songs_.size()); }
    // Songs running now (their transfer handed to the engine); a song in a
    // pause that gave its place away is not.
    int Running() const { return static_cast<int>(active_.size()); }
    bool Contains(Id id) const { return songs_.count(id) > 0; }

    // The connection settings of every song from now on; the queue's speed
    // limit stays with them (set them here, not on Downloads()).
    void SetInternetOptions(TDlInternetOptions options);
    // Bytes a second the queue's songs may take together, the running ones
    // included, from now on (their share of it each as they read); 0: none.
    void SetSpeedLimit(std::int64_t bytesPerSecond);
    std::int64_t SpeedLimit() const { return rateLimit_->bytesPerSecond(); }

    // The engine beneath, for its settings (internet options, the pauses
    // before trying again); not for its items.
    TDlDownloads& Downloads() { return downloads_; }

private:
    struct Entry {
        QueuedSong song;
        SongSettings settings;
        std::unique_ptr<SongDownload> download;  // while it runs
        // As the last progress report gave them.
        std::uint64_t received = 0;
        std::uint64_t total = 0;
        std::uint64_t announced = 0;  // the length the answer's head announced
        std::size_t ended = 0;  // its items whose transfer has ended
        bool started = false;
        bool stopping = false;
        // In a pause before another attempt, told to the owner.
        bool retrying = false;
        // Its place given away for a pause (see kGiveWayAbove): a timer with
        // this token puts it first in line again.
        bool parked = false;
        std::uint64_t parkToken = 0;
        // What its attempts came to, for the item that takes it up.
        std::optional<AttemptsSoFar> carried;
        std::uint64_t keptBytes = 0;  // kept while it is parked
    };

    void StartWaiting();
    void Begin(Id id, Entry& entry);
    void ItemProgress(TDlDownloadItem& item);
    void ItemEnded(TDlDownloadItem& item, const TransferOutcome& outcome);
    // The song's place goes to the next one for the pause it is owed.
    void Park(Id id, Entry& entry, const TransferOutcome& outcome);
    void Unpark(Id id, std::uint64_t token);
    // The places songs may run in now.
    int Places() const;
    void RunEnded();
    // The song has ended: its items leave the collection, and the owner is told.
    void End(Id id, bool stopped);
    // The run is there to take songs; false when it is being stopped, or
    // must be started a moment later (from a callback).
    bool EnsureRunning();
    Entry* EntryOf(const TDlDownloadItem& item, Id* id = nullptr);
    // Calls `fn` on the owner's thread after the current event.
    void Later(std::function<void()> fn);
    static platform::Handoff& handoff();

    Id nextId_ = 1;
    std::map<Id, Entry> songs_;
    std::deque<Id> waiting_;
    std::map<Id, Entry*> active_;
    std::unordered_map<const TDlDownloadItem*, Id> owners_;
    // A callback is running: waits must not begin (its thread waits for it).
    int inCallback_ = 0;
    bool closing_ = false;
    bool runOpen_ = false;      // StartAsync called, RunEnded not yet
    bool runStopping_ = false;  // StopAll stopped it
    bool startPosted_ = false;
    int runThreads_ = 1;
    std::uint64_t parkTokens_ = 0;
    std::shared_ptr<inet::RateLimit> rateLimit_ = std::make_shared<inet::RateLimit>();
    // Posted calls and pauses hold it weakly: they die with the queue.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    // Last: it goes first, and with it the run and every handler call.
    TDlDownloads downloads_;
};

}  // namespace dl
