#pragma once
// Where a download that saved a song is told, whichever command ran it (a
// song of the downloads list, 下载歌曲, 下载到...): the file as it is now
// (its size, device and inode: FinishedFileCheck) is recorded with the
// song's title and address, for the results grid's 已下载 marks. A web page
// saved in a song's place, a failure or a cancel records nothing. UI thread.
#include <cstdint>
#include <functional>
#include <string>

#include "app/DownloadOutcome.h"
#include "store/FinishedSongStore.h"

namespace app {

class FinishedSongRecorder {
public:
    // `keep` takes the record (FinishedSongChecker::record, which writes it
    // on its thread); `now` gives seconds since 1970.
    using Keep = std::function<void(store::FinishedSong)>;
    explicit FinishedSongRecorder(Keep keep, std::function<std::int64_t()> now = {});

    void songEnded(const std::string& title, const std::string& url, const DownloadOutcome& outcome);

private:
    Keep keep_;
    std::function<std::int64_t()> now_;
};

}  // namespace app
