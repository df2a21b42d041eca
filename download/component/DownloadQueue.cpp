#include "download/component/DownloadQueue.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "download/texts/DlTexts.h"
#include "platform/Handoff.h"

namespace dl {

namespace {

// Counts a callback of the engine while it runs: the engine thread that
// delivered it waits for it, so nothing inside may wait for that thread.
class InCallback {
public:
    explicit InCallback(int& depth) : depth_(depth) { ++depth_; }
    ~InCallback() { --depth_; }
    InCallback(const InCallback&) = delete;
    InCallback& operator=(const InCallback&) = delete;

private:
    int& depth_;
};

}  // namespace

DownloadQueue::DownloadQueue() {
    downloads_.KeepRunning = true;
    // A song in a long pause waits outside its place, told as it goes.
    downloads_.Attempts.tellPauses = true;
    downloads_.Attempts.handBackAbove = kGiveWayAbove;
    downloads_.OnItemProgress = [this](TDlDownloadItem& item) { ItemProgress(item); };
    downloads_.OnItemEnded = [this](TDlDownloadItem& item, const TransferOutcome& outcome) { ItemEnded(item, outcome); };
    downloads_.OnAllDone = [this](TDlDownloads&) { RunEnded(); };
    SetInternetOptions(downloads_.Options());
}

void DownloadQueue::SetInternetOptions(TDlInternetOptions options) {
    options.RateLimit = rateLimit_;
    downloads_.SetOptions(options);
}

void DownloadQueue::SetSpeedLimit(std::int64_t bytesPerSecond) { rateLimit_->setBytesPerSecond(bytesPerSecond); }

DownloadQueue::~DownloadQueue() {
    // No word goes out any more; the run is stopped and waited for by the
    // collection as it goes, which keeps each song's bytes as Stop does.
    closing_ = true;
    OnStarted = nullptr;
    OnProgress = nullptr;
    OnRetryWait = nullptr;
    OnEnded = nullptr;
    downloads_.OnItemProgress = nullptr;
    downloads_.OnItemEnded = nullptr;
    downloads_.OnAllDone = nullptr;
}

void DownloadQueue::Later(std::function<void()> fn) {
    handoff().post([alive = std::weak_ptr<char>(alive_), fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

platform::Handoff& DownloadQueue::handoff() {
    platform::Handoff* handoff = platform::Handoff::instance();
    if (!handoff) throw std::logic_error("DownloadQueue needs the process's UI-thread hand-off");
    return *handoff;
}

DownloadQueue::Id DownloadQueue::Add(const QueuedSong& song) {
    while (songs_.count(nextId_) > 0) ++nextId_;
    const Id id = nextId_++;
    Add(id, song);
    return id;
}

bool DownloadQueue::Add(Id id, const QueuedSong& song) {
    if (songs_.count(id) > 0) return false;
    Entry& entry = songs_[id];
    entry.song = song;
    entry.settings.folder = song.folder;
    if (!entry.settings.folder.empty() && entry.settings.folder.back() != '/') entry.settings.folder += '/';
    entry.settings.name = song.name;
    entry.settings.params = DownloadParams;
    entry.settings.continuing = ContinueDownloads;
    entry.settings.audioOnly = song.audioOnly;
    waiting_.push_back(id);
    StartWaiting();
    return true;
}

bool DownloadQueue::EnsureRunning() {
    if (runOpen_) return !runStopping_;
    // Starting waits for the end of an earlier run, which a callback's own
    // engine thread may be part of: from a callback, a moment later.
    if (inCallback_ > 0) {
        if (!startPosted_) {
            startPosted_ = true;
            Later([this] {
                startPosted_ = false;
                StartWaiting();
            });
        }
        return false;
    }
    downloads_.WaitForRun();
    // The items of songs that ended in the run before are done with.
    downloads_.Clear();
    // Threads to spare: places may be added while the run goes.
    runThreads_ = std::clamp(std::max(Parallel, kLivePlaces), 1, TDlDownloads::kMaxThreads);
    downloads_.ThreadCount = runThreads_;
    downloads_.ResetFinished();
    runOpen_ = true;
    runStopping_ = false;
    downloads_.StartAsync();
    return true;
}

void DownloadQueue::StartWaiting() {
    if (closing_ || waiting_.empty()) return;
    if (!EnsureRunning()) return;
    while (!waiting_.empty() && static_cast<int>(active_.size()) < Places()) {
        const Id id = waiting_.front();
        waiting_.pop_front();
        Begin(id, songs_.at(id));
    }
}

void DownloadQueue::Begin(Id id, Entry& entry) {
    entry.download = std::make_unique<SongDownload>(downloads_, entry.settings);
    TDlDownloadItem& item = entry.download->AddSong(entry.song.url);
    // Taken up after a pause: its attempts go on counting.
    item.Request.SetCarriedAttempts(std::exchange(entry.carried, std::nullopt));
    owners_[&item] = id;
    active_[id] = &entry;
    downloads_.WakeWorkers();
}

DownloadQueue::Entry* DownloadQueue::EntryOf(const TDlDownloadItem& item, Id* id) {
    const auto owner = owners_.find(&item);
    if (owner == owners_.end()) return nullptr;
    const auto song = songs_.find(owner->second);
    if (song == songs_.end()) return nullptr;
    if (id) *id = owner->second;
    return &song->second;
}

void DownloadQueue::ItemProgress(TDlDownloadItem& item) {
    InCallback callback(inCallback_);
    Id id = 0;
    Entry* entry = EntryOf(item, &id);
    // A song being stopped writes nothing more, as after a Cancel.
    if (!entry || !entry->download || entry->stopping) return;
    SongDownload& download = *entry->download;
    download.HandleItemProgress(item);
    // What the page brought belongs to the song too.
    for (TDlDownloadItem* added : download.Items()) owners_.emplace(added, id);
    if (&item != download.Song() || item.Progress.State != dsRunning) return;
    if (item.Progress.RetryPauseMs() > 0) {
        entry->retrying = true;
        if (OnRetryWait) OnRetryWait(id, std::chrono::milliseconds(item.Progress.RetryPauseMs()));
        return;
    }
    if (entry->retrying) {
        // The pause is over: its next attempt begins.
        entry->retrying = false;
        if (OnRetryWait) OnRetryWait(id, std::chrono::milliseconds(0));
        return;
    }
    if (!entry->started) {
        entry->started = true;
        if (OnStarted) OnStarted(id);
        return;
    }
    if (item.Progress.HeaderPhase) {
        entry->announced = item.Progress.Size;  // the announced length
        return;
    }
    entry->received = item.Progress.Size;
    entry->total = entry->announced;
    if (OnProgress) OnProgress(id, entry->received, entry->total);
}

void DownloadQueue::ItemEnded(TDlDownloadItem& item, const TransferOutcome& outcome) {
    InCallback callback(inCallback_);
    Id id = 0;
    Entry* entry = EntryOf(item, &id);
    if (!entry || !entry->download) return;
    if (outcome.retryIn && !entry->stopping && !closing_ && &item == entry->download->Song() &&
        entry->download->Items().size() == 1) {
        Park(id, *entry, outcome);
        StartWaiting();
        return;
    }
    ++entry->ended;
    if (entry->ended < entry->download->Items().size()) return;
    End(id, entry->stopping);
    StartWaiting();
}

int DownloadQueue::Places() const { return std::clamp(Parallel, 1, runThreads_); }

void DownloadQueue::Park(Id id, Entry& entry, const TransferOutcome& outcome) {
    SongDownload& download = *entry.download;
    // As a stop leaves it: what it kept stays for the item that takes it up.
    download.Finish(true);
    const std::vector<TDlDownloadItem*> items = download.Items();
    for (TDlDownloadItem* item : items) {
        owners_.erase(item);
        (void)item->ReleaseData();
    }
    active_.erase(id);
    for (TDlDownloadItem* item : items) downloads_.QueueRemoval(*item);
    entry.download.reset();
    entry.ended = 0;
    entry.carried = outcome.soFar;
    entry.keptBytes = outcome.keptBytes;
    entry.parked = true;
    entry.retrying = true;
    const std::uint64_t token = ++parkTokens_;
    entry.parkToken = token;
    const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(*outcome.retryIn);
    handoff().postAfter(pause, [this, alive = std::weak_ptr<char>(alive_), id, token] {
        if (alive.lock()) Unpark(id, token);
    });
    if (OnRetryWait) OnRetryWait(id, pause);
}

void DownloadQueue::Unpark(Id id, std::uint64_t token) {
    const auto found = songs_.find(id);
    // Stopped meanwhile, or a later song under the same id.
    if (found == songs_.end() || !found->second.parked || found->second.parkToken != token) return;
    found->second.parked = false;
    // First in line: it takes the next free place, pushing out no one.
    waiting_.push_front(id);
    StartWaiting();
}

void DownloadQueue::MoveToFront(const std::vector<Id>& ids) {
    std::deque<Id> front;
    for (const Id id : ids) {
        const auto at = std::find(waiting_.begin(), waiting_.end(), id);
        if (at == waiting_.end()) continue;
        waiting_.erase(at);
        front.push_back(id);
    }
    waiting_.insert(waiting_.begin(), front.begin(), front.end());
}

void DownloadQueue::SetParallel(int places) {
    Parallel = std::clamp(places, 1, TDlDownloads::kMaxThreads);
    if (runOpen_ && !runStopping_) StartWaiting();
}

void DownloadQueue::RunEnded() {
    InCallback callback(inCallback_);
    // A stopped run delivers nothing more of its items: the songs it held
    // end here, stopped.
    std::vector<Id> running;
    for (const auto& [id, entry] : active_) running.push_back(id);
    for (const Id id : running) End(id, true);
    runOpen_ = false;
    runStopping_ = false;
    if (!waiting_.empty()) StartWaiting();  // from a callback: posted
}

void DownloadQueue::End(Id id, bool stopped) {
    const auto found = songs_.find(id);
    if (found == songs_.end()) return;
    Entry& entry = found->second;
    TransferOutcome result;
    std::vector<TDlDownloadItem*> items;
    if (entry.download) {
        SongDownload& download = *entry.download;
        download.Finish(stopped);
        result = download.Outcome(stopped);
        items = download.Items();
    } else {
        result.state = dsFailed;
        result.failure = FailureClass::UserStopped;
        result.url = entry.song.url;
        result.errorCode = kErrStopped;
        result.message = InternetErrorText(kErrStopped);
        // Stopped in a pause: what the attempts before it kept is still there.
        result.kept = entry.keptBytes > 0;
        result.keptBytes = entry.keptBytes;
    }
    result.received = entry.received;
    result.total = entry.total;
    for (TDlDownloadItem* item : items) {
        owners_.erase(item);
        // Its file (named, or kept) is let go now, not when the item leaves.
        (void)item->ReleaseData();
    }
    active_.erase(id);
    songs_.erase(found);
    // The items leave the collection; a download thread may free them from
    // here on, so they are not touched again.
    for (TDlDownloadItem* item : items) downloads_.QueueRemoval(*item);
    if (OnEnded) OnEnded(id, result);
}

void DownloadQueue::Stop(Id id) {
    const auto found = songs_.find(id);
    if (found == songs_.end() || found->second.stopping) return;
    Entry& entry = found->second;
    entry.stopping = true;
    entry.parked = false;
    if (!entry.download) {
        // Still waiting: it never reaches the engine, and is told a moment
        // later (never from inside Stop).
        waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), id), waiting_.end());
        Later([this, id] {
            InCallback callback(inCallback_);
            End(id, true);
        });
        return;
    }
    entry.download->Stop();
    for (TDlDownloadItem* item : entry.download->Items()) item->Cancel();
}

void DownloadQueue::StopAll() {
    std::vector<Id> waiting(waiting_.begin(), waiting_.end());
    waiting_.clear();
    // Songs in a pause away from their places end as waiting ones do.
    for (auto& [id, entry] : songs_) {
        if (!entry.parked) continue;
        entry.parked = false;
        waiting.push_back(id);
    }
    for (const Id id : waiting) songs_.at(id).stopping = true;
    if (runOpen_ && !runStopping_) {
        runStopping_ = true;
        for (auto& [id, entry] : active_) {
            entry->stopping = true;
            entry->download->Stop();
        }
        downloads_.Stop();
    }
    if (inCallback_ > 0) {
        for (const Id id : waiting) {
            Later([this, id] {
                InCallback callback(inCallback_);
                End(id, true);
            });
        }
        return;
    }
    // Its hand-offs are served meanwhile: RunEnded tells the running songs.
    if (runOpen_) downloads_.WaitForRun();
    InCallback callback(inCallback_);
    for (const Id id : waiting) End(id, true);
}

}  // namespace dl
