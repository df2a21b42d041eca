#include "search/pipeline/SearchPipeline.h"

#include <algorithm>

#include "platform/NamedEvent.h"

namespace search {

bool SearchPipeline::Relay::halt() {
    // A cutting stage that has ended or was halted already left nothing unread.
    const bool cutting = !cutStage->Halted() && !cutStage->Finished();
    urlStage->Halt();
    fetchStage->Halt();
    cutStage->Halt();
    return cutting;
}

bool SearchPipeline::Relay::finished() const {
    return urlStage->Finished() && fetchStage->Finished() && cutStage->Finished();
}

SearchPipeline::StagesRunning SearchPipeline::currentStagesRunning() {
    std::lock_guard lock(workersMutex_);
    if (!current_) return {};
    return {!current_->urlStage->Finished(), !current_->fetchStage->Finished(), !current_->cutStage->Finished()};
}

SearchPipeline::SearchPipeline(SearchState& state, SearchUi& ui, store::SongStore& store, PageFetcher& fetcher)
    : state_(state), ui_(ui), store_(store), fetcher_(fetcher) {}

SearchPipeline::~SearchPipeline() { Shutdown(); }

void SearchPipeline::Shutdown() {
    shuttingDown_.store(true);
    std::vector<std::unique_ptr<Relay>> relays;
    std::vector<std::unique_ptr<TGetMp3>> announcers;
    {
        std::lock_guard lock(workersMutex_);
        for (auto& relay : relays_) relay->halt();
        relays.swap(relays_);
        announcers.swap(announcers_);
        current_ = nullptr;
    }
    // Destroying the workers joins their threads; halted stages and
    // abandoned hand-offs let each of them end promptly.
}

void SearchPipeline::reapFinished() {
    std::vector<std::unique_ptr<Relay>> doneRelays;
    std::vector<std::unique_ptr<TGetMp3>> doneAnnouncers;
    {
        std::lock_guard lock(workersMutex_);
        auto relayDone = [this](const std::unique_ptr<Relay>& r) { return r.get() != current_ && r->finished(); };
        for (auto it = relays_.begin(); it != relays_.end();) {
            if (relayDone(*it)) {
                doneRelays.push_back(std::move(*it));
                it = relays_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = announcers_.begin(); it != announcers_.end();) {
            if ((*it)->Finished()) {
                doneAnnouncers.push_back(std::move(*it));
                it = announcers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Joined outside the lock; each has already finished.
}

void SearchPipeline::StartSearch() {
    if (shuttingDown_.load()) return;
    // An earlier search must not go on working on the shared state and events.
    bool halted = false;
    {
        std::lock_guard lock(workersMutex_);
        if (current_) halted = current_->halt();
        current_ = nullptr;
        ++searchNumber_;
    }
    if (halted) rereadResults();
    reapFinished();

    ui_.setSearchEnabled(false);
    ui_.setStopEnabled(true);
    ui_.appendLog(texts::kInitialising);
    state_.linkCounter = 0;
    state_.pageCounter = 0;

    auto makeUrlOk = platform::openNamedEvent(kMakeUrlEvent);
    auto readWebOk = platform::openNamedEvent(kReadWebEvent);
    auto cutStrOk = platform::openNamedEvent(kCutStrEvent);

    auto relay = std::make_unique<Relay>();
    Relay* relayPtr = relay.get();
    relay->urlStage = std::make_unique<TMakeURl>(cutStrOk, makeUrlOk, stageWait_, state_, ui_);
    relay->fetchStage = std::make_unique<TReadWeb>(makeUrlOk, readWebOk, stageWait_, state_, ui_, fetcher_, backOff_,
                                                   [this, relayPtr] { endOfSearch(relayPtr, texts::kServiceUnreachable); });
    relay->cutStage = std::make_unique<TCutStr>(readWebOk, cutStrOk, stageWait_, state_, ui_, store_,
                                                [this, relayPtr] { endOfSearch(relayPtr, texts::kAllFound); });

    makeUrlOk->reset();
    readWebOk->reset();
    cutStrOk->set();

    {
        std::lock_guard lock(workersMutex_);
        relays_.push_back(std::move(relay));
        current_ = relayPtr;
    }
    relayPtr->urlStage->Start();
    relayPtr->fetchStage->Start();
    relayPtr->cutStage->Start();
}

void SearchPipeline::StopSearch() {
    ui_.setSearchEnabled(true);
    ui_.setStopEnabled(false);
    bool halted = false;
    {
        std::lock_guard lock(workersMutex_);
        if (current_) halted = current_->halt();
    }
    if (halted) rereadResults();
}

// A halted cutting stage may have stored rows of a page it did not finish;
// the grid shows them too. Once Halt has returned no row can be added.
void SearchPipeline::rereadResults() { ui_.requeryAndCount(); }

std::unique_ptr<TGetMp3> SearchPipeline::makeAnnouncer(const std::string& line) {
    const std::uint64_t search = searchNumber_.load();
    return std::make_unique<TGetMp3>(
        ui_, line, [this] { return shuttingDown_.load(); },
        [this, search] { return searchNumber_.load() == search; });
}

void SearchPipeline::AnnounceEnd() {
    if (shuttingDown_.load()) return;
    reapFinished();
    auto announcer = makeAnnouncer(texts::kAllFound);
    std::lock_guard lock(workersMutex_);
    announcers_.push_back(std::move(announcer));
}

// Runs on a stage thread of `relay`: the cutting stage's when the limit is
// reached, the fetching stage's when the service cannot be reached.
void SearchPipeline::endOfSearch(Relay* relay, const std::string& line) {
    reapFinished();
    // Decided under the lock that Stop, a newer search and shutdown halt
    // under: once any of them has halted this relay, it announces nothing.
    std::lock_guard lock(workersMutex_);
    if (shuttingDown_.load() || relay->cutStage->Halted()) return;
    announcers_.push_back(makeAnnouncer(line));
    relay->halt();
}

}  // namespace search
