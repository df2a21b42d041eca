#include "app/FinishedSongRecorder.h"

#include <ctime>
#include <filesystem>

#include "store/FinishedFileCheck.h"

namespace app {

FinishedSongRecorder::FinishedSongRecorder(Keep keep, std::function<std::int64_t()> now)
    : keep_(std::move(keep)), now_(now ? std::move(now) : [] { return std::int64_t(std::time(nullptr)); }) {}

void FinishedSongRecorder::songEnded(const std::string& title, const std::string& url, const DownloadOutcome& outcome) {
    if (outcome.kind != DownloadOutcome::Kind::Saved || url.empty() || outcome.path.isEmpty()) return;
    std::error_code error;
    const std::string path =
        std::filesystem::absolute(outcome.path.toStdString(), error).lexically_normal().string();
    if (error) return;
    store::FinishedSong song;
    // A file that is not there (or no plain file) as the song ends has no mark to give.
    if (!store::finishedFileAt(path, song)) return;
    song.url = url;
    song.title = title;
    song.finishedAt = now_();
    keep_(std::move(song));
}

}  // namespace app
