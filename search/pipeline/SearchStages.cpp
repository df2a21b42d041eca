#include "search/pipeline/SearchStages.h"

#include "platform/GbkCodec.h"
#include "platform/ui/UiHandoff.h"
#include "search/KeywordInUrl.h"
#include "search/LowerCase.h"
#include "search/PageCutter.h"
#include "store/SongStore.h"

namespace search {

// ---- TMakeURl ---------------------------------------------------------------

TMakeURl::TMakeURl(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit,
                   SearchState& state, SearchUi& ui)
    : TStageThread(std::move(input), std::move(output), waitLimit), state_(state), ui_(ui) {}

TMakeURl::~TMakeURl() {
    Halt();
    Join();
}

void TMakeURl::Step() {
    OnUi([this] {
        // The keyword goes into the request line as its GBK bytes, blanks escaped.
        const std::string keyword = keywordForUrl(platform::utf8ToGbk(ui_.keywordText()));
        state_.currentUrl = state_.urlPrefix + keyword + state_.urlMiddle +
                            std::to_string(state_.pageCounter) + state_.urlSuffix;
        ++state_.pageCounter;
    });
}

// ---- TReadWeb ---------------------------------------------------------------

TReadWeb::TReadWeb(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit,
                   SearchState& state, SearchUi& ui, PageFetcher& fetcher, FetchBackOff backOff,
                   std::function<void()> gaveUp)
    : TStageThread(std::move(input), std::move(output), waitLimit),
      state_(state),
      ui_(ui),
      fetcher_(fetcher),
      backOff_(backOff),
      gaveUp_(std::move(gaveUp)) {}

TReadWeb::~TReadWeb() {
    Halt();
    Join();
}

void TReadWeb::OnHalt() { fetcher_.interrupt(this); }

void TReadWeb::Step() {
    std::string url;
    OnUi([&] {
        ui_.appendLog(texts::kReadingPage + std::to_string(state_.pageCounter));
        ui_.appendLog(texts::kConnecting);
        url = state_.currentUrl;
    });
    if (Halted()) return;
    std::string body;
    bool fetched = false;
    try {
        body = fetcher_.fetch(url, this, [this] { return Halted(); });
        fetched = true;
    } catch (...) {
        // Any failure of the fetch is one log line; the relay goes on.
    }
    if (Halted()) return;  // a halted fetch's result is discarded
    if (fetched) {
        failuresInARow_ = 0;
        lowerCasePage(body);
        IfRunning([&] { state_.pageText = std::move(body); });
        return;
    }
    OnUi([this] { ui_.appendLog(texts::kFetchFailed); });
    // A service that cannot be reached is not asked again at once, nor for ever.
    ++failuresInARow_;
    if (backOff_.givesUpAfter(failuresInARow_) && gaveUp_) {
        gaveUp_();
        return;
    }
    PauseUnlessHalted(backOff_.pauseAfter(failuresInARow_));
}

// ---- TCutStr ----------------------------------------------------------------

// Bridges the cutter to the window and the store, doing nothing once the
// stage is halted.
class TCutStr::Sink : public CutSink {
public:
    Sink(TCutStr& stage) : stage_(stage) {}

    void appendLog(const std::string& line) override {
        stage_.OnUi([&] { stage_.ui_.appendLog(line); });
    }
    std::string currentKeyword() override {
        std::string keyword;
        stage_.OnUi([&] { keyword = stage_.ui_.keywordText(); });
        return keyword;
    }
    void insertSong(const std::string& title, const std::string& url, const std::string& keyword) override {
        // Under the stage's lock: a halt never splits an insert, and no row is
        // written after it. An insert waiting for a locked file gives up as
        // soon as a halt is asked for, so the halt never waits for it.
        const auto halting = [this] { return stage_.HaltRequested(); };
        if (!stage_.IfRunning([&] { stage_.store_.Insert(title, url, keyword, halting); }))
            throw platform::UiHandoffAbandoned();
    }
    int requeryAndCount() override {
        // Re-read on this thread, not the UI thread's: reading a large store
        // again in full takes long. The grid follows on the UI thread; a
        // failed re-read leaves it, and the count, on the last good snapshot.
        try {
            stage_.store_.Requery([this] { return stage_.HaltRequested(); });
        } catch (const store::StoreError&) {
        }
        if (stage_.Halted()) throw platform::UiHandoffAbandoned();
        return stage_.store_.Count();
    }

private:
    TCutStr& stage_;
};

TCutStr::TCutStr(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit, SearchState& state,
                 SearchUi& ui, store::SongStore& store, std::function<void()> endOfSearch)
    : TStageThread(std::move(input), std::move(output), waitLimit),
      state_(state),
      ui_(ui),
      store_(store),
      endOfSearch_(std::move(endOfSearch)) {}

TCutStr::~TCutStr() {
    Halt();
    Join();
}

void TCutStr::Step() {
    // Cut on a private copy of the counters and the page, so that a halted
    // cut never races the state of a search started after it.
    SearchState local;
    if (!IfRunning([&] {
            local.pageCounter = state_.pageCounter;
            local.linkCounter = state_.linkCounter;
            local.pageText = std::move(state_.pageText);
            state_.pageText.clear();
        }))
        return;
    Sink sink(*this);
    bool limit = false;
    try {
        limit = cutPage(local, sink);
    } catch (...) {
        IfRunning([&] { state_.linkCounter = local.linkCounter; });
        throw;
    }
    if (!IfRunning([&] { state_.linkCounter = local.linkCounter; })) return;
    if (limit) {
        // The page stops part-way, without its own re-read: show every row
        // stored so far before the search ends.
        OnUi([this] { ui_.requeryAndCount(); });
        endOfSearch_();
    }
}

// ---- TGetMp3 ----------------------------------------------------------------

TGetMp3::TGetMp3(SearchUi& ui, std::string line, std::function<bool()> abandon, std::function<bool()> wanted) {
    thread_ = std::thread([this, &ui, line = std::move(line), abandon = std::move(abandon),
                           wanted = std::move(wanted)] {
        try {
            platform::runOnUiThread(
                [&] {
                    if (wanted && !wanted()) return;
                    ui.appendLog(line);
                    ui.setSearchEnabled(true);
                    ui.setStopEnabled(false);
                },
                abandon);
        } catch (...) {
            // Abandoned at shutdown: nothing left to announce to.
        }
        finished_.store(true);
    });
}

TGetMp3::~TGetMp3() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace search
