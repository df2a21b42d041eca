#include "app/ListQueueDownloader.h"

#include <map>
#include <optional>
#include <utility>

#include "download/component/DownloadQueue.h"

namespace app {
namespace {

class ListQueueDownloader : public ListDownloader {
public:
    ListQueueDownloader(int atATime, const dl::TDlInternetOptions& options) {
        queue_.Parallel = atATime;
        queue_.Downloads().SetOptions(options);
        queue_.OnStarted = [this](dl::DownloadQueue::Id id) {
            if (const auto row = rowOf(id); row && reports_.started) reports_.started(*row);
        };
        queue_.OnProgress = [this](dl::DownloadQueue::Id id, std::uint64_t received, std::uint64_t total) {
            const auto row = rowOf(id);
            if (!row) return;
            bytes_[id] = {static_cast<std::int64_t>(received), static_cast<std::int64_t>(total)};
            if (reports_.progress) reports_.progress(*row, bytes_[id].first, bytes_[id].second);
        };
        queue_.OnEnded = [this](dl::DownloadQueue::Id id, const dl::QueuedSongResult& result) {
            const auto row = rowOf(id);
            const std::pair<std::int64_t, std::int64_t> bytes = bytes_[id];
            bytes_.erase(id);
            if (!row) return;
            rows_.erase(id);
            ids_.erase(*row);
            if (reports_.ended) reports_.ended(*row, readOutcome(result), bytes.first, bytes.second);
        };
    }

    void setReports(Reports reports) override { reports_ = std::move(reports); }

    void add(const Song& song) override {
        const dl::DownloadQueue::Id id = queue_.Add({song.url, song.folder, song.fileName, {}});
        rows_[id] = song.id;
        ids_[song.id] = id;
    }

    void stop(std::int64_t row) override {
        const auto id = ids_.find(row);
        if (id != ids_.end()) queue_.Stop(id->second);
    }

    void stopAll() override {
        reports_ = {};
        rows_.clear();
        ids_.clear();
        queue_.StopAll();
    }

private:
    std::optional<std::int64_t> rowOf(dl::DownloadQueue::Id id) const {
        const auto row = rows_.find(id);
        if (row == rows_.end()) return std::nullopt;
        return row->second;
    }

    Reports reports_;
    std::map<dl::DownloadQueue::Id, std::int64_t> rows_;
    std::map<std::int64_t, dl::DownloadQueue::Id> ids_;
    // The last bytes held and length of each running song.
    std::map<dl::DownloadQueue::Id, std::pair<std::int64_t, std::int64_t>> bytes_;
    // Last: it goes first, and no report comes after.
    dl::DownloadQueue queue_;
};

}  // namespace

std::unique_ptr<ListDownloader> makeListQueueDownloader(int atATime, const dl::TDlInternetOptions& options) {
    return std::make_unique<ListQueueDownloader>(atATime, options);
}

}  // namespace app
