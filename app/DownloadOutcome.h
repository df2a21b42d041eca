#pragma once
// What became of a download, read from the engine's result and told in the
// log in the user's words. The engine's codes stay as they are; this is only
// the main window's reading of them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <QString>

#include "download/engine/TransferOutcome.h"

namespace app {

struct DownloadOutcome {
    enum class Kind { Saved, SavedAsPage, Failed, Cancelled };
    Kind kind = Kind::Failed;
    // The file written (Saved, SavedAsPage; Cancelled: a page saved before
    // the Cancel, whose own files were not all fetched).
    QString path;
    std::int64_t size = 0; // its size in bytes
    QString reason;        // Failed: why, in the user's words
    // How often the song was picked up where a dropped line left it.
    int continuations = 0;
    // How often it was asked again after a server said it could not serve
    // for now (408, 429, 5xx).
    int retries = 0;
    // Bytes of the song kept hidden for the next download of it to continue
    // (Failed, Cancelled); 0: none.
    std::int64_t kept = 0;
    // Failed: the engine's code and the last answer's status (0: none), and
    // whether another link of the song may do better (dl::MovesToNextLink).
    std::int32_t errorCode = 0;
    std::int32_t statusCode = 0;
    dl::FailureClass failure = dl::FailureClass::None;
    bool linkAtFault = false;
    // It went on from bytes kept before it began: by this program (a stop, a
    // failure, another link), or by one before it (closed, killed, crashed).
    enum class Resumed { No, FromThisRun, AfterRestart };
    Resumed resumed = Resumed::No;
    // Asked again after a dropped line without going on from it (it started
    // over, or the server would not send the rest).
    int againAfterBreak = 0;
    // Asked again from the start because the server's file had changed.
    int startedOver = 0;
};

// The outcome of a song that has ended, from the engine's result (the
// download queue's, or the component's for its current item).
DownloadOutcome readOutcome(const dl::TransferOutcome& result);

// The outcome of the component's download that has ended: `ended` is its
// current item's result (none: nothing was prepared), `cancelled` whether
// the user (or the window going away) cancelled it, `bytesReceived` what
// arrived of the item (the component's Document). A finished item without
// its file failed to be written.
DownloadOutcome readOutcome(const std::optional<dl::TransferOutcome>& ended, bool cancelled,
                            std::size_t bytesReceived);
// The same for an item as it stands, without a run's result.
DownloadOutcome readOutcome(const dl::TDlDownloadItem* item, bool cancelled, std::size_t bytesReceived);

// The reason for a failed item, from its code and its HTTP status, always
// in Chinese; any code or status without words of its own is told by its
// number, once. `message` (the engine's English text) is not shown.
// `retryAfter`: the seconds a refused Retry-After asked to wait (0: none).
QString failureReason(std::int32_t errorCode, std::int32_t statusCode, const std::string& message,
                      std::int64_t retryAfter = 0);

// What failed of a link, shortly, for the lines of a song moving to its
// next link: "HTTP 404", "不是歌曲", or the reason.
QString linkFailureText(const DownloadOutcome& outcome);

// A size for people: bytes, KB or MB.
QString readableSize(std::int64_t bytes);

// The one log line after a song.
QString outcomeLogLine(const QString& title, const DownloadOutcome& outcome);

// The line that ends a download of several songs: how many songs were
// saved, how many web pages were saved in their place, how many failed, and
// how many were never fetched because it was cancelled.
QString batchSummaryLine(int saved, int pages, int failed, int notDownloaded);

}  // namespace app
