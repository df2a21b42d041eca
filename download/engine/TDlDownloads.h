#pragma once
// The download collection: the URLs one run fetches, the shared state of the
// run, and the run itself (a manager thread and download threads that take
// the waiting items in order and transfer them). Each transfer gets the
// collection as its context (TransferContext.h) and nothing more of it.
// Every report reaches the UI thread through the collection's notifier,
// which makes the reporting thread wait for its handler. Create and destroy
// it on the UI thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <semaphore>
#include <set>
#include <string>
#include <vector>

#include "download/engine/ItemAttempts.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/engine/TDlEvent.h"
#include "download/engine/TDlInternetOptions.h"
#include "download/engine/TDlSyncObject.h"
#include "download/engine/TransferContext.h"
#include "download/files/KeptPart.h"

namespace dl {

class TDlProcessDownloadThread;
class TDlProcessThread;

enum TDlRunState : std::uint8_t { rsIdle = 0, rsRunning = 1, rsFinished = 2 };

class TDlDownloads : private TransferContext {
public:
    // At most this many download threads run, whatever ThreadCount says.
    static constexpr std::int32_t kMaxThreads = 30;
    // How long NextItem lets a report in progress finish before the next item starts.
    static constexpr std::chrono::milliseconds kNotifyWait{100};
    // How often Run looks whether its download threads have ended (a thread
    // that ends also tells it at once).
    static constexpr std::chrono::milliseconds kRunPoll{30};

    TDlDownloads();
    // Stops a run and waits for its manager thread; reports still on their
    // way to the UI thread are dropped.
    ~TDlDownloads() override;
    TDlDownloads(const TDlDownloads&) = delete;
    TDlDownloads& operator=(const TDlDownloads&) = delete;

    // ---- items ----
    // Appends a waiting item; allowed during a run (page mode).
    TDlDownloadItem& AddItem();
    int Count() const;
    TDlDownloadItem& Items(int index) const;
    int IndexOf(const TDlDownloadItem& item) const;
    // Not during a run (std::logic_error): the run's threads hold items.
    void Delete(int index);
    void Clear();

    // ---- the run ----
    // RunState finished -> idle.
    void ResetFinished();
    // Starts Run on a new manager thread and returns at once (after waiting
    // for the manager thread of an earlier run, if there is one).
    void StartAsync();
    // The whole run on the calling thread.
    bool Run();
    // Waits for the manager thread and releases it. On the UI thread it runs
    // the hand-offs that arrive meanwhile, so the run's reports still reach
    // their handlers and the manager thread cannot hold the wait up.
    void WaitForRun();
    // Interrupts the run: no more reports, running transfers aborted, download
    // threads told to end. Never waits for them. Called between StartAsync
    // and the moment the run is under way, it stops the run as it begins.
    void Stop();
    TDlDownloadItem* NextItem(TDlProcessDownloadThread& thread);
    // Page mode: items were added during the run; the threads look again.
    void WakeWorkers();

    // Delivers OnItemProgress (and WatchItemProgress) for the item on the UI
    // thread and waits for it.
    // A droppable report is skipped while an earlier one is still pending.
    void NotifyItem(TDlDownloadItem& item, bool droppable);
    // Called by a download thread when it is done with an item, stopped or
    // not: keeps its outcome for OutcomeOf, and delivers OnItemEnded on the
    // UI thread and waits for it (not while the whole run is stopping). The
    // thread touches the item no more.
    void ItemEnded(TDlDownloadItem& item, const TransferOutcome& outcome);
    // How the item's last transfer in this run ended; nothing when it has
    // not ended (or did not run). Also after a stopped run, whose ends were
    // not delivered. Any thread.
    std::optional<TransferOutcome> OutcomeOf(const TDlDownloadItem& item) const;
    void AddTraffic(std::uint32_t elapsedMs, std::int64_t bytes);
    // Bytes per second over the current run.
    std::int32_t TransferRate();
    // Queues a finished item for removal by the next NextItem.
    void QueueRemoval(TDlDownloadItem& item);
    // Called by a download thread as its last act.
    void ThreadEnded();

    // A copy of the settings (taken under the list lock).
    TDlInternetOptions Options() const;
    void SetOptions(const TDlInternetOptions& options);
    TDlSyncObject& Notifier() { return notifier_; }

    std::atomic<std::uint32_t> RateStart{0};
    std::atomic<std::int64_t> BytesReceived{0};
    std::vector<TDlDownloadItem*> RemovalList;  // under the list lock
    std::int32_t CurrentIndex = -1;              // under the list lock
    std::atomic<TDlRunState> RunState{rsIdle};
    std::int32_t ThreadCount = 8;
    TDlEvent<TDlDownloads&> OnAllDone;
    TDlEvent<TDlDownloadItem&> OnItemProgress;
    // A second listener beside those two, for whoever only shows the run
    // (the progress window): told of each report after OnItemProgress, and
    // of the run's end before OnAllDone, in the same hand-off. It neither
    // replaces them nor decides whether they hear a report: after Stop
    // neither is told anything more.
    TDlEvent<TDlDownloadItem&> WatchItemProgress;
    TDlEvent<TDlDownloads&> WatchAllDone;
    // After every transfer, stopped ones included, once the item's end report
    // (if it gets one) has been handled: its owner may now let it go
    // (QueueRemoval). Not delivered while the whole run is stopping.
    TDlEvent<TDlDownloadItem&, const TransferOutcome&> OnItemEnded;
    TDlDownloadItem* NotifiedItem = nullptr;     // under the notify lock
    bool DefaultReload = false;
    std::atomic<bool> Stopping{false};
    // The current (or last) run was cancelled by Stop; Stopping alone is
    // also set when a run simply runs out of items.
    std::atomic<bool> StopRequested{false};
    // A run that waits for more items when its threads run out of them,
    // until Stop (a queue of songs added over time). Set before StartAsync.
    bool KeepRunning = false;

    // How often and after what pauses an item that failed for a moment is
    // tried again (ItemAttempts.h): 3 further attempts after 1, 3 and 9 s;
    // tests shorten the pauses. Stop ends a pause at once. Set before the run.
    AttemptRules Attempts;

    // Tests only: called on the run's thread at the two points where a run
    // begins (0: before it is under way; 1: under way, no download thread
    // started yet), so that a test can hold it there; and on a download
    // thread as it begins a pause before another attempt (2).
    std::function<void(int point)> RunPointHook;

private:
    // ---- what a transfer may ask of its run ----
    void Report(TDlDownloadItem& item, ItemReport report) override;
    bool IsStopping() const override { return Stopping.load(); }
    void CountTraffic(std::uint32_t elapsedMs, std::int64_t bytes) override { AddTraffic(elapsedMs, bytes); }
    void SweepFolderOnce(const std::string& folder, const AskedDownload* asked) override;
    // The run grants no attempts itself: each transfer's ItemAttempts does.
    std::optional<std::chrono::milliseconds> FurtherAttempt() override { return std::nullopt; }
    void LeaveQueue(TDlDownloadItem& item) override { QueueRemoval(item); }

    void RemoveQueuedItems();
    void EraseItem(int index);
    void DeliverAllDone();
    void WaitForManager();
    std::vector<TDlDownloadItem*> Snapshot() const;

    mutable std::mutex itemsMutex_;  // the item list's structure; never held across a wait
    std::vector<std::unique_ptr<TDlDownloadItem>> items_;
    mutable std::mutex listLock_;
    // A binary semaphore: std::timed_mutex waits through
    // pthread_mutex_clocklock, which ThreadSanitizer does not see, so every
    // release after a timed wait looked like a foreign unlock.
    std::binary_semaphore notifyLock_{1};
    TDlSyncObject notifier_;
    std::vector<std::unique_ptr<TDlProcessDownloadThread>> threads_;  // under the list lock
    TDlInternetOptions options_;                                       // under the list lock
    std::unique_ptr<TDlProcessThread> manager_;                        // UI thread only
    std::atomic<bool> closing_{false};
    bool starting_ = false;  // under the list lock: StartAsync made a run that has not begun
    std::mutex sweptMutex_;
    std::set<std::string> swept_;
    mutable std::mutex outcomesMutex_;
    std::map<const TDlDownloadItem*, TransferOutcome> outcomes_;  // with outcomesMutex_
    std::mutex endedMutex_;
    std::condition_variable threadEnded_;
};

}  // namespace dl
