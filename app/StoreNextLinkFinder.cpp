#include "app/StoreNextLinkFinder.h"

#include <condition_variable>
#include <ctime>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <QObject>

#include "app/StoredVerdicts.h"
#include "download/component/KeptPartHandover.h"
#include "download/component/SongLinks.h"
#include "download/texts/DownloadErrors.h"
#include "store/LinkVerdictStore.h"
#include "store/SongKeyIndex.h"

namespace app {
namespace {

// What a download's failure says of its link, as a probe would have said it.
probe::LinkVerdict verdictOfFailure(const NextLinkFinder::Ask& ask) {
    probe::LinkVerdict verdict;
    switch (ask.failure) {
    case dl::FailureClass::NotAudio: verdict.state = probe::LinkState::NotAudio; break;
    case dl::FailureClass::ServerFailing: verdict.state = probe::LinkState::Unavailable; break;
    default: verdict.state = probe::LinkState::Dead; break;
    }
    verdict.status = ask.statusCode;
    verdict.code = ask.statusCode != 0 ? ask.statusCode : ask.errorCode;
    verdict.reason = ask.reason;
    return verdict;
}

class StoreNextLinkFinder : public NextLinkFinder {
public:
    explicit StoreNextLinkFinder(const std::string& storePath)
        : storePath_(storePath), prober_(dl::HandoverProbeSettings()), worker_([this] { run(); }) {}

    ~StoreNextLinkFinder() override {
        stopAll();
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

    void setAnswer(std::function<void(const Found&)> answer) override { answer_ = std::move(answer); }

    void find(const Ask& ask) override {
        {
            std::lock_guard lock(mutex_);
            asks_.push_back(ask);
            dropping_ = false;
        }
        wake_.notify_all();
    }

    void stopAll() override {
        std::lock_guard lock(mutex_);
        asks_.clear();
        dropping_ = true;
        prober_.stop();
    }

private:
    void run() {
        for (;;) {
            Ask ask;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !asks_.empty(); });
                if (closing_) return;
                ask = std::move(asks_.front());
                asks_.pop_front();
            }
            const Found found = answer(ask);
            // Told on the UI thread, unless the finder is gone or told to stop by then.
            QMetaObject::invokeMethod(
                &context_,
                [this, found] {
                    bool dropped = false;
                    {
                        std::lock_guard lock(mutex_);
                        dropped = dropping_;
                    }
                    if (!dropped && answer_) answer_(found);
                },
                Qt::QueuedConnection);
        }
    }

    Found answer(const Ask& ask) {
        Found found;
        found.id = ask.id;
        try {
            if (!verdicts_) verdicts_ = std::make_unique<store::LinkVerdictStore>(storePath_);
            if (!index_) index_ = std::make_unique<store::SongKeyIndex>(storePath_);
            const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
            verdicts_->save({toStored(ask.failedUrl, verdictOfFailure(ask), now)});
            if (ask.tried.size() > dl::kMaxFurtherLinks) return found;
            std::vector<dl::LinkCandidate> candidates;
            std::vector<std::string> urls;
            for (const store::SongKeyIndex::Link& link : index_->linkUrlsOf(ask.title)) {
                candidates.push_back({link.url, std::nullopt, 0});
                urls.push_back(link.url);
            }
            std::unordered_map<std::string, store::StoredVerdict> known;
            for (store::StoredVerdict& v : verdicts_->find(urls)) known.emplace(v.url, std::move(v));
            for (dl::LinkCandidate& c : candidates) {
                const auto it = known.find(c.url);
                if (it == known.end()) continue;
                c.verdict = fromStored(it->second);
                c.checkedAt = it->second.checkedAt;
            }
            const std::vector<std::string> order = dl::OrderNextLinks(candidates, ask.tried, now);
            if (order.empty()) return found;
            found.url = order.front();
        } catch (const std::exception&) {
            // A store that cannot be read has no further links to offer.
            found.url.clear();
            return found;
        }
        if (ask.kept && ask.failure != dl::FailureClass::NotAudio) {
            const dl::Handover handover =
                dl::HandKeptPartTo(ask.folder, ask.failedUrl, ask.fileName, found.url, prober_);
            found.carried = handover.carried;
            if (handover.verdict.code != dl::kErrOperationCancelled) {
                try {
                    verdicts_->save({toStored(found.url, handover.verdict, static_cast<std::int64_t>(std::time(nullptr)))});
                } catch (const std::exception&) {
                    // Only a note on the link: the song goes on without it.
                }
            }
        }
        return found;
    }

    const std::string storePath_;
    std::function<void(const Found&)> answer_;
    // The worker's own: the store's connections and the probe.
    std::unique_ptr<store::LinkVerdictStore> verdicts_;
    std::unique_ptr<store::SongKeyIndex> index_;
    inet::LinkProber prober_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Ask> asks_;
    bool closing_ = false;
    bool dropping_ = false;
    QObject context_;  // answers posted to it die with it
    std::thread worker_;  // last: it starts once everything it uses is there
};

}  // namespace

std::unique_ptr<NextLinkFinder> makeStoreNextLinkFinder(const std::string& storePath) {
    return std::make_unique<StoreNextLinkFinder>(storePath);
}

}  // namespace app
