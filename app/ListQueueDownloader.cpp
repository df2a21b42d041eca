#include "app/ListQueueDownloader.h"

#include <map>
#include <optional>
#include <utility>

#include <QFileInfo>

#include "download/component/DownloadQueue.h"

namespace app {
namespace {

// The outcome the log and the list tell, from what the queue says of a song
// that ended: as readOutcome reads the modal commands' item.
DownloadOutcome outcomeOf(const dl::QueuedSongResult& result) {
    DownloadOutcome outcome;
    outcome.continuations = result.continuations;
    switch (result.state) {
    case dl::QueuedSongResult::State::Stopped: outcome.kind = DownloadOutcome::Kind::Cancelled; return outcome;
    case dl::QueuedSongResult::State::Failed:
        outcome.reason = failureReason(result.errorCode, result.httpStatus, result.message);
        return outcome;
    case dl::QueuedSongResult::State::Finished: break;
    }
    const QFileInfo file(QString::fromStdString(result.filePath));
    if (!result.filePath.empty() && file.isFile()) {
        outcome.kind = result.savedAsPage ? DownloadOutcome::Kind::SavedAsPage : DownloadOutcome::Kind::Saved;
        outcome.path = file.absoluteFilePath();
        outcome.size = file.size();
    } else {
        // Finished, but no file: nothing came, or it is not there.
        outcome.reason = result.filePath.empty() ? QStringLiteral("服务器给出的内容是空的，没有保存文件")
                                                 : QStringLiteral("无法写入文件");
    }
    return outcome;
}

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
            if (reports_.ended) reports_.ended(*row, outcomeOf(result), bytes.first, bytes.second);
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
