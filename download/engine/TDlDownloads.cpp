#include "download/engine/TDlDownloads.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <stdexcept>

#include "download/engine/TDlProcessDownloadThread.h"
#include "download/engine/TDlProcessThread.h"
#include "download/files/PartFile.h"
#include "download/texts/DlTexts.h"
#include "platform/TickCount.h"

namespace dl {

TDlDownloads::TDlDownloads() { notifier_.DirectCall = false; }

TDlDownloads::~TDlDownloads() {
    // Reports on their way to a UI that is tearing this down are dropped, so
    // the run's threads cannot wait for the UI thread while it waits for them.
    notifier_.Abandon();
    closing_ = true;
    {
        std::lock_guard lock(listLock_);
        RemovalList.clear();
    }
    if (manager_) manager_->Terminate();
    Stop();
    manager_.reset();
    std::lock_guard lock(itemsMutex_);
    items_.clear();
}

// ---- items ----------------------------------------------------------------

TDlDownloadItem& TDlDownloads::AddItem() {
    std::lock_guard list(listLock_);
    auto item = std::make_unique<TDlDownloadItem>();
    item->Request.Reload = DefaultReload;
    std::lock_guard lock(itemsMutex_);
    items_.push_back(std::move(item));
    return *items_.back();
}

int TDlDownloads::Count() const {
    std::lock_guard lock(itemsMutex_);
    return static_cast<int>(items_.size());
}

TDlDownloadItem& TDlDownloads::Items(int index) const {
    std::lock_guard lock(itemsMutex_);
    return *items_.at(static_cast<std::size_t>(index));
}

int TDlDownloads::IndexOf(const TDlDownloadItem& item) const {
    std::lock_guard lock(itemsMutex_);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == &item) return static_cast<int>(i);
    }
    return -1;
}

void TDlDownloads::Delete(int index) {
    if (RunState == rsRunning) throw std::logic_error("download items cannot be deleted during a run");
    EraseItem(index);
}

void TDlDownloads::EraseItem(int index) {
    std::unique_ptr<TDlDownloadItem> gone;
    std::lock_guard lock(itemsMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return;
    gone = std::move(items_[static_cast<std::size_t>(index)]);
    items_.erase(items_.begin() + index);
    std::lock_guard forget(outcomesMutex_);
    outcomes_.erase(gone.get());
}

void TDlDownloads::Clear() {
    if (RunState == rsRunning) throw std::logic_error("download items cannot be deleted during a run");
    std::vector<std::unique_ptr<TDlDownloadItem>> gone;
    std::lock_guard lock(itemsMutex_);
    gone.swap(items_);
    std::lock_guard forget(outcomesMutex_);
    outcomes_.clear();
}

std::vector<TDlDownloadItem*> TDlDownloads::Snapshot() const {
    std::lock_guard lock(itemsMutex_);
    std::vector<TDlDownloadItem*> items;
    items.reserve(items_.size());
    for (const auto& item : items_) items.push_back(item.get());
    return items;
}

TDlInternetOptions TDlDownloads::Options() const {
    std::lock_guard lock(listLock_);
    return options_;
}

void TDlDownloads::SetOptions(const TDlInternetOptions& options) {
    std::lock_guard lock(listLock_);
    options_.Assign(options);
}

// ---- the run --------------------------------------------------------------

void TDlDownloads::ResetFinished() {
    TDlRunState finished = rsFinished;
    RunState.compare_exchange_strong(finished, rsIdle);
}

void TDlDownloads::WaitForManager() {
    constexpr auto kServePoll = std::chrono::milliseconds(5);
    const bool onUiThread = TDlSyncObject::OnUiThread();
    while (!manager_->WaitFor(kServePoll)) {
        if (onUiThread) TDlSyncObject::ServeQueued();
    }
}

void TDlDownloads::StartAsync() {
    try {
        if (manager_) {
            WaitForManager();
            manager_.reset();
        }
        {
            std::lock_guard lock(listLock_);
            starting_ = true;
            StopRequested = false;
        }
        manager_ = std::make_unique<TDlProcessThread>(*this);
        manager_->Resume();
    } catch (...) {
        // Nothing to report to: the run simply does not start.
    }
}

void TDlDownloads::WaitForRun() {
    if (!manager_) return;
    WaitForManager();
    manager_.reset();
}

void TDlDownloads::DeliverAllDone() {
    if (!OnAllDone && !WatchAllDone) return;
    try {
        notifier_.Synchronize([this] {
            WatchAllDone(*this);
            OnAllDone(*this);
        });
    } catch (...) {
        // The handler's failures stay with the UI; a dropped report is no failure.
    }
}

bool TDlDownloads::Run() {
    BytesReceived = 0;
    RateStart = 0;
    {
        std::lock_guard lock(sweptMutex_);
        swept_.clear();
    }
    {
        std::lock_guard lock(outcomesMutex_);
        outcomes_.clear();
    }
    if (RunPointHook) RunPointHook(0);
    // A run that waits for items begins without any as well.
    const int count = KeepRunning ? std::max(Count(), 1) : Count();
    {
        // One step with Stop: a Stop that came since StartAsync is kept, and
        // one that comes from here on finds the run under way.
        std::lock_guard lock(listLock_);
        if (!starting_) StopRequested = false;
        starting_ = false;
        Stopping = StopRequested.load();
        CurrentIndex = -1;
        RemovalList.clear();
        RunState = count == 0 ? rsFinished : rsRunning;
    }
    if (count == 0) {
        DeliverAllDone();
        return true;
    }
    std::vector<std::unique_ptr<TDlProcessDownloadThread>> ended;
    try {
        for (TDlDownloadItem* item : Snapshot()) item->ResetItem();
        if (RunPointHook) RunPointHook(1);
        // At least one thread: a run without any would end with its items untouched.
        const std::int32_t n = std::clamp(ThreadCount, 1, kMaxThreads);
        {
            std::lock_guard lock(listLock_);
            TransferContext& context = *this;
            for (std::int32_t i = 0; i < n; ++i)
                threads_.push_back(std::make_unique<TDlProcessDownloadThread>(*this, context));
            for (const auto& thread : threads_) thread->WakeEvent.set();
        }
        // Run may be called on the UI thread itself; its threads' reports are
        // then delivered here, so they cannot hold the wait up. Elsewhere a
        // thread that ends wakes it (Finished is set before ThreadEnded), so
        // a run that waits for more items costs nothing while it waits.
        const bool onUiThread = TDlSyncObject::OnUiThread();
        // Only this thread changes the list of threads.
        const auto allEnded = [this] {
            return std::all_of(threads_.begin(), threads_.end(), [](const auto& t) { return t->Finished.load(); });
        };
        for (;;) {
            {
                std::unique_lock wait(endedMutex_);
                if (onUiThread)
                    threadEnded_.wait_for(wait, kRunPoll, allEnded);
                else
                    threadEnded_.wait(wait, allEnded);
            }
            if (onUiThread) TDlSyncObject::ServeQueued();
            std::lock_guard lock(listLock_);
            if (allEnded()) break;
        }
    } catch (...) {
    }
    {
        std::lock_guard lock(listLock_);
        ended.swap(threads_);
    }
    ended.clear();  // each waits for its thread, outside the lock
    // A cancelled run's items that never got their turn did not finish either.
    if (StopRequested) {
        for (TDlDownloadItem* item : Snapshot()) {
            if (item->Progress.State == dsWaiting) item->FailItem(kErrStopped);
        }
    }
    RunState = rsFinished;
    DeliverAllDone();
    return true;
}

TDlDownloadItem* TDlDownloads::NextItem(TDlProcessDownloadThread& thread) {
    if (Stopping || closing_) return nullptr;
    std::lock_guard lock(listLock_);
    if (Stopping || closing_) return nullptr;
    TDlDownloadItem* item = nullptr;
    try {
        ++CurrentIndex;
        RemoveQueuedItems();
        const int count = Count();
        if (CurrentIndex >= 0 && CurrentIndex < count) {
            item = &Items(CurrentIndex);
            if (!item->Request.IsLink) {
                // A report in progress gets a moment to finish before the next item starts.
                if (notifyLock_.try_acquire_for(kNotifyWait)) notifyLock_.release();
            }
        } else {
            --CurrentIndex;
        }
        if (item) {
            item->Request.Options.Assign(options_);
            thread.Idle = false;
        } else {
            thread.Idle = true;
            if (!KeepRunning &&
                std::all_of(threads_.begin(), threads_.end(), [](const auto& t) { return t->Idle.load(); })) {
                for (const auto& t : threads_) {
                    t->Terminate();
                    t->WakeEvent.set();
                }
                Stopping = true;
            } else {
                // The thread sleeps until woken; reset here, under the lock
                // WakeWorkers takes, so that an item added from now on wakes it.
                thread.WakeEvent.reset();
            }
        }
    } catch (...) {
        item = nullptr;
        thread.WakeEvent.reset();
    }
    return item;
}

void TDlDownloads::RemoveQueuedItems() {
    while (!RemovalList.empty()) {
        TDlDownloadItem* victim = RemovalList.front();
        RemovalList.erase(RemovalList.begin());
        const int index = IndexOf(*victim);
        if (index < 0) continue;
        if (index < CurrentIndex) --CurrentIndex;
        EraseItem(index);
    }
}

void TDlDownloads::ThreadEnded() {
    { std::lock_guard lock(endedMutex_); }
    threadEnded_.notify_all();
}

// ---- what a transfer may ask of its run --------------------------------------

void TDlDownloads::Report(TDlDownloadItem& item, ItemReport report) { NotifyItem(item, report == ItemReport::Reading); }

void TDlDownloads::SweepFolderOnce(const std::string& folder, const AskedDownload* asked) {
    {
        std::lock_guard lock(sweptMutex_);
        if (!swept_.insert(folder).second) return;
    }
    SweepPartFiles(folder, asked, std::time(nullptr));
}

void TDlDownloads::QueueRemoval(TDlDownloadItem& item) {
    std::lock_guard lock(listLock_);
    RemovalList.push_back(&item);
}

void TDlDownloads::WakeWorkers() {
    if (RunState != rsRunning) return;
    std::lock_guard lock(listLock_);
    for (const auto& thread : threads_) thread->WakeEvent.set();
}

void TDlDownloads::Stop() {
    {
        std::lock_guard lock(listLock_);
        if (RunState != rsRunning) {
            // A run on its way: it stops as it begins.
            if (starting_) StopRequested = true;
            return;
        }
        StopRequested = true;
        Stopping = true;
    }
    for (TDlDownloadItem* item : Snapshot()) item->AbortItem();
    std::lock_guard lock(listLock_);
    for (const auto& thread : threads_) {
        thread->Terminate();
        thread->WakeEvent.set();
    }
}

// ---- reports and counters -------------------------------------------------

void TDlDownloads::NotifyItem(TDlDownloadItem& item, bool droppable) {
    if (droppable && notifier_.HasPendingRequest()) return;
    notifyLock_.acquire();
    struct Release {
        std::binary_semaphore& lock;
        ~Release() { lock.release(); }
    } release{notifyLock_};
    NotifiedItem = &item;
    if ((OnItemProgress || WatchItemProgress) && !Stopping) {
        try {
            // A Stop handled on the UI thread while this report waited for
            // its turn there drops it too: nothing more is written.
            notifier_.Synchronize([this] {
                if (!NotifiedItem || Stopping) return;
                OnItemProgress(*NotifiedItem);
                if (!Stopping) WatchItemProgress(*NotifiedItem);
            });
        } catch (...) {
            // A handler's failure must not end the transfer; a dropped report is no failure.
        }
    }
}

void TDlDownloads::ItemEnded(TDlDownloadItem& item, const TransferOutcome& outcome) {
    {
        std::lock_guard lock(outcomesMutex_);
        outcomes_[&item] = outcome;
    }
    if (!OnItemEnded || Stopping) return;
    notifyLock_.acquire();
    struct Release {
        std::binary_semaphore& lock;
        ~Release() { lock.release(); }
    } release{notifyLock_};
    if (Stopping) return;
    try {
        notifier_.Synchronize([this, &item, &outcome] { OnItemEnded(item, outcome); });
    } catch (...) {
        // As for a report: the handler's failure is the UI's, a dropped one none.
    }
}

std::optional<TransferOutcome> TDlDownloads::OutcomeOf(const TDlDownloadItem& item) const {
    std::lock_guard lock(outcomesMutex_);
    const auto found = outcomes_.find(&item);
    if (found == outcomes_.end()) return std::nullopt;
    return found->second;
}

void TDlDownloads::AddTraffic(std::uint32_t elapsedMs, std::int64_t bytes) {
    std::lock_guard lock(listLock_);
    BytesReceived += bytes;
    if (RateStart == 0) RateStart = platform::tickCount() - elapsedMs;
}

std::int32_t TDlDownloads::TransferRate() {
    std::lock_guard lock(listLock_);
    const std::uint32_t now = platform::tickCount();
    if (now == RateStart) return 0;
    const std::int64_t rate = BytesReceived * 1000 / platform::ticksBetween(RateStart, now);
    return static_cast<std::int32_t>(std::min<std::int64_t>(rate, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace dl
