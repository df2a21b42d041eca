#pragma once
// What became of one download: the one result that travels up from the
// transfer through the run, the song's download and the queue or the
// component to whoever tells it. Each layer adds what only it knows (the
// transfer its answer and bytes, the attempts their count and reasons, the
// song its file) and passes the same value on; nothing of it is kept in the
// item to be read back.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/engine/AttemptsSoFar.h"
#include "download/engine/TDlDownloadItem.h"

namespace dl {

// Why a download failed, in the terms its caller acts on: whether another
// link of the song may do better, a later try may, or nothing will.
enum class FailureClass : std::uint8_t {
    None,             // it did not fail
    LinkDead,         // the address leads to nothing: 404, 410, an address that cannot be used
    HostUnreachable,  // the name does not resolve, nobody answers, or the machine is not connected
    ServerFailing,    // failing for now: 408, 429, 5xx, a line that broke or fell silent
    NotWhatWasAsked,  // an answer, but not the song: another status, a refused type, a limit, a bad range
    NotAudio,         // an answer that had to be MPEG audio and is not: a web page, an empty body
    DiskFailed,       // the file could not be written
    UserStopped,      // stopped by the user (or the whole run was)
};

// The class of a failure with `errorCode` (DownloadErrors.h) and the HTTP
// status of the last answer (0: none).
FailureClass ClassOfFailure(std::int32_t errorCode, std::int32_t statusCode);

struct TransferOutcome {
    // How it ended, for whoever tells it.
    enum class End : std::uint8_t { Finished, Failed, Stopped };
    // One further attempt and why it was made.
    using Retry = RetryReason;

    // The item was waiting, so it was transferred; otherwise nothing
    // happened to it.
    bool ran = false;
    // Stopped (by Stop, or by a limit): it gets no end report.
    bool stopped = false;
    TDlItemState state = dsWaiting;  // finished or failed, once it ran
    std::int32_t errorCode = 0;      // DownloadErrors.h
    std::int32_t statusCode = 0;     // of the last HTTP answer; 0: none
    std::string message;             // the engine's text for errorCode
    FailureClass failure = FailureClass::None;
    std::string url;
    // Bytes of it held at its end, and its whole length as announced (0:
    // not announced).
    std::uint64_t received = 0;
    std::uint64_t total = 0;
    // Answers 206 whose bytes were appended, over the attempts whose bytes
    // it went on from (so at most one more than the further attempts).
    std::int32_t continuations = 0;
    // Further attempts made in the run, of every kind, each with its reason.
    std::int32_t retries = 0;
    std::vector<Retry> retryReasons;
    // An answer that failed it asked to be left alone this many seconds
    // (Retry-After).
    std::optional<std::int64_t> retryAfter;
    // That wait was longer than the run waits, so it failed without being
    // tried again: the seconds asked; 0 otherwise.
    std::int64_t refusedRetryAfter = 0;
    // Its bytes were kept in a part file for a later run to continue
    // (KeptPart.h): how many; 0: none.
    bool kept = false;
    std::uint64_t keptBytes = 0;
    // It went on from the bytes an earlier transfer kept (and did not start
    // over); that transfer was this program's (a stop, a failure, an earlier
    // attempt), not one before it (closed, killed, crashed).
    bool fromKept = false;
    bool fromKeptHere = false;
    // Where the bytes held at its end began, over all its attempts: a part
    // kept before the download began, and by whom; None when it began from
    // nothing or started over since.
    enum class KeptFrom : std::uint8_t { None, ThisProgram, EarlierProgram };
    KeptFrom keptFrom = KeptFrom::None;
    // An answer showed the bytes held to be of another file (a 206 of
    // another whole length): they are gone, and the song is to start over.
    bool startsOver = false;
    // Percent as the bytes held made it, before the end made it 100.
    std::int32_t percentHeld = 0;
    // Failed for a moment, with a pause before the next attempt longer than
    // the run spends on its thread (AttemptRules::handBackAbove): the pause
    // it is owed, and the attempts so far for the transfer that comes after
    // it (TDlDownloadItem::CarriedAttempts). Nothing otherwise.
    std::optional<std::chrono::milliseconds> retryIn;
    AttemptsSoFar soFar;

    // Added by the song's download once its file is written.
    std::string filePath;  // empty: none
    std::uint64_t fileSize = 0;
    bool savedAsPage = false;  // the answer was a web page, saved as one
    // What its page brought, each as it ended, in the order fetched.
    std::vector<TransferOutcome> pageItems;

    End end() const {
        if (failure == FailureClass::UserStopped) return End::Stopped;
        return state == dsFinished && errorCode == 0 ? End::Finished : End::Failed;
    }
};

}  // namespace dl
