#pragma once
// One item through a whole run, as the song of a download: its part file in
// a folder of its own, continued where it stops unless told otherwise, the
// pauses between attempts `pause` long (short by default: their length is no
// part of a verdict unless a test says so).
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "download/engine/TDlDownloads.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace dltest {

struct SongRun {
    testsupport::TempDir folder;
    dl::TDlDownloads downloads;
    Recorder recorder{downloads};
    dl::TDlDownloadItem& item = downloads.AddItem();

    explicit SongRun(const testsupport::RangeServer& server,
                     std::chrono::milliseconds pause = std::chrono::milliseconds(1), bool continuing = true,
                     std::int32_t dataTimeout = 0) {
        downloads.ThreadCount = 1;
        downloads.Attempts.pauses.fill(pause);
        dl::TDlInternetOptions options = downloads.Options();
        options.DataTimeout = dataTimeout;
        downloads.SetOptions(options);
        item.Request.URL = server.url("/song.mp3");
        item.Request.SetSaveFolder(folder.path().string());
        item.Request.SetContinueTransfer(continuing);
        item.Request.SetKeepName("song.mp3");
    }
    bool run() { return recorder.runToEnd(60000); }
    // What the run says became of the song (nothing ran: an empty one).
    dl::TransferOutcome outcome() const { return downloads.OutcomeOf(item).value_or(dl::TransferOutcome{}); }
};

// The Range header a request for the rest from `from` carries.
inline std::string range(std::uint64_t from) { return "bytes=" + std::to_string(from) + "-"; }

// Each request's Range ("" for none), in order.
inline std::vector<std::string> rangesAsked(const testsupport::RangeServer& server) {
    std::vector<std::string> out;
    for (const auto& request : server.requests()) out.push_back(request.range.value_or(""));
    return out;
}

}  // namespace dltest
