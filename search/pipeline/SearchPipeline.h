#pragma once
// Starts, stops and ends keyword searches: one relay of three stages per
// search, passing the turn around the events "make url OK", "read web ok"
// and "CutStr OK".
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "search/SearchState.h"
#include "search/pipeline/PageFetcher.h"
#include "search/pipeline/SearchStages.h"
#include "search/pipeline/SearchUi.h"

namespace store {
class SongStore;
}

namespace search {

inline constexpr const char* kMakeUrlEvent = "make url OK";
inline constexpr const char* kReadWebEvent = "read web ok";
inline constexpr const char* kCutStrEvent = "CutStr OK";

class SearchPipeline {
public:
    static constexpr std::chrono::milliseconds kDefaultStageWait{300000};

    // All four references must outlive the pipeline. Every public method runs
    // on the UI thread.
    SearchPipeline(SearchState& state, SearchUi& ui, store::SongStore& store, PageFetcher& fetcher);
    // Halts every stage and waits for every worker: the program may end.
    ~SearchPipeline();
    SearchPipeline(const SearchPipeline&) = delete;
    SearchPipeline& operator=(const SearchPipeline&) = delete;

    // Halts every stage and waits for every worker; later starts do nothing.
    void Shutdown();

    void StartSearch();
    void StopSearch();
    void AnnounceEnd();

    // How long a stage waits for its turn before it ends (tests shorten it).
    void setStageWait(std::chrono::milliseconds wait) { stageWait_ = wait; }
    // The pauses after failed fetches (tests shorten them); for searches
    // started afterwards.
    void setFetchBackOff(FetchBackOff backOff) { backOff_ = backOff; }

    // Which stages of the current search are still at work, so that a
    // caller can wait for one to have given up instead of guessing how long
    // that takes. All false when no search is current.
    struct StagesRunning {
        bool url = false;
        bool fetch = false;
        bool cut = false;
    };
    StagesRunning currentStagesRunning();

private:
    // The three stages of one search, in relay order.
    struct Relay {
        std::unique_ptr<TMakeURl> urlStage;
        std::unique_ptr<TReadWeb> fetchStage;
        std::unique_ptr<TCutStr> cutStage;
        // Returns whether the cutting stage was still at work.
        bool halt();
        bool finished() const;
    };

    // Ends the search of `relay` by itself, announcing `line`.
    void endOfSearch(Relay* relay, const std::string& line);
    void rereadResults();
    void reapFinished();
    std::unique_ptr<TGetMp3> makeAnnouncer(const std::string& line);

    SearchState& state_;
    SearchUi& ui_;
    store::SongStore& store_;
    PageFetcher& fetcher_;
    std::chrono::milliseconds stageWait_ = kDefaultStageWait;
    FetchBackOff backOff_;
    std::atomic<bool> shuttingDown_{false};
    // Counts Start search calls: an announcement made for an earlier search
    // must not flip the buttons of a newer one.
    std::atomic<std::uint64_t> searchNumber_{0};

    std::mutex workersMutex_;  // relays_ and announcers_ grow from stage threads too
    std::vector<std::unique_ptr<Relay>> relays_;
    Relay* current_ = nullptr;
    std::vector<std::unique_ptr<TGetMp3>> announcers_;
};

}  // namespace search
