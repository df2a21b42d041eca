#include "app/ListQueueDownloader.h"

#include <utility>

#include "download/component/DownloadQueue.h"

namespace app {
namespace {

// The list's row ids are the queue's ids: each report names its row as it is.
class ListQueueDownloader : public ListDownloader {
public:
    ListQueueDownloader(int atATime, const dl::TDlInternetOptions& options) {
        queue_.Parallel = atATime;
        queue_.SetInternetOptions(options);
        queue_.OnStarted = [this](dl::DownloadQueue::Id row) {
            if (reports_.started) reports_.started(row);
        };
        queue_.OnProgress = [this](dl::DownloadQueue::Id row, std::uint64_t received, std::uint64_t total) {
            if (reports_.progress)
                reports_.progress(row, static_cast<std::int64_t>(received), static_cast<std::int64_t>(total));
        };
        queue_.OnRetryWait = [this](dl::DownloadQueue::Id row, std::chrono::milliseconds pause) {
            if (reports_.retryWait) reports_.retryWait(row, pause);
        };
        queue_.OnEnded = [this](dl::DownloadQueue::Id row, const dl::TransferOutcome& result) {
            if (reports_.ended)
                reports_.ended(row, readOutcome(result), static_cast<std::int64_t>(result.received),
                               static_cast<std::int64_t>(result.total));
        };
    }

    void setReports(Reports reports) override { reports_ = std::move(reports); }

    void add(const Song& song) override { queue_.Add(song.id, {song.url, song.folder, song.fileName, {}, song.audioOnly}); }

    void stop(std::int64_t row) override { queue_.Stop(row); }

    void moveToFront(const std::vector<std::int64_t>& rows) override { queue_.MoveToFront(rows); }

    void setPlaces(int places) override { queue_.SetParallel(places); }

    void setSpeedLimit(std::int64_t bytesPerSecond) override { queue_.SetSpeedLimit(bytesPerSecond); }

    void stopAll() override {
        reports_ = {};
        queue_.StopAll();
    }

private:
    Reports reports_;
    // Last: it goes first, and no report comes after.
    dl::DownloadQueue queue_;
};

}  // namespace

std::unique_ptr<ListDownloader> makeListQueueDownloader(int atATime, const dl::TDlInternetOptions& options) {
    return std::make_unique<ListQueueDownloader>(atATime, options);
}

}  // namespace app
