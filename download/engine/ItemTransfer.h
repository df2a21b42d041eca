#pragma once
// The transfer of one download item, step by step: connected test, internet
// handle and its options, connection and request, status and header checks,
// the read loop into the item's data, and the reports to the UI thread at the
// start, after the headers and during reading. It works on the item and the
// context its download thread hands it, and on nothing else.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/engine/TransferContext.h"
#include "download/files/KeptPart.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetUrl.h"

namespace inet {
class Request;
class Session;
}  // namespace inet

namespace dl {

// Bytes asked for by one read.
constexpr std::size_t kReadChunk = 16384;
// Room for one header's text and its terminating NUL.
constexpr std::size_t kHeaderBuffer = 1024;
// Droppable progress reports come at most this often.
constexpr std::uint32_t kReportInterval = 500;
// An HTML answer (page mode reads it) is held in memory up to this much;
// beyond it, it goes to the part file like any other.
constexpr std::size_t kPageInMemoryLimit = std::size_t(16) << 20;

// The transfer of a waiting item, up to its end: the item ends finished or
// failed, with its code, its text and its bytes. The end report and leaving
// the queue are its download thread's (TDlProcessDownloadThread).
TransferOutcome Transfer(TDlDownloadItem& item, TransferContext& context);

// Records the error a call failed with in the item, unless the item has
// already failed: a stopped item with no error gets 6, an extended error the
// server's reply as its text. Does not change the state.
void RecordTransferError(TDlDownloadItem& item, const inet::Error& error);

// A header of the request's final response; empty when absent or longer than
// the header buffer.
std::string QueryHeader(const inet::Request& request, int level);

// The steps of Transfer.
class ItemTransfer {
public:
    ItemTransfer(TDlDownloadItem& item, TransferContext& context) : item_(item), context_(context) {}
    TransferOutcome Run();

private:
    using Opened = inet::Result<std::unique_ptr<inet::Request>>;

    bool ConnectedTestPasses() const;
    void FailNotConnected();
    void Guarded();
    // The request for the item's URL by its scheme, asking for the bytes
    // from rangeFrom_ on when that is not 0.
    Opened OpenRequest();
    Opened OpenHttp();
    Opened OpenFtp();
    void SendCookies(inet::Request& request) const;
    void ReadHeaders(inet::Request& request);
    void ReadFileHeaders();
    // The part file in the item's folder; false when it failed the item.
    bool StartPartFile();
    void FailWriting(int error);
    bool PassesSizeLimit(std::uint64_t size);
    // The end of the transfer: a stop made a failure, the part file kept
    // or gone.
    void Settle();
    void EndStopped();
    bool Accepted() const;
    std::string RequestBody() const;
    TransferOutcome Outcome() const;

    // ---- the body ----
    // What the reads of the body have come to so far.
    struct Reading {
        bool toFile = false;        // the bytes go to a part file
        bool page = false;          // an HTML answer: in memory up to its limit
        bool ok = true;             // the last read succeeded
        inet::Error error;          // what it failed with
        std::uint32_t lastTick = 0;  // when the bytes before arrived
        std::uint32_t lastReport = 0;
    };
    void ReadBody(std::unique_ptr<inet::Request>& request);
    // Reads until the body ends, the line breaks or the item stops. False
    // when the item's outcome was settled on the way (a file that cannot be
    // written, a limit).
    bool ReadPass(inet::Request& request, Reading& reading);
    // Before a read at `at`: the part file is made with the first bytes.
    bool ReadyFor(std::uint32_t at, const Reading& reading);
    enum class Taken { Yes, Refused, Settled };
    // The `n` bytes just read at `at`: counted, kept, reported.
    Taken TakeBytes(std::uint32_t at, std::size_t n, Reading& reading);
    enum class Next { Finish, ReadOn, Settled };
    // After a pass: finish, read on from a request for the rest, or stop here.
    Next AfterPass(std::unique_ptr<inet::Request>& request, const Reading& reading);
    void FinishBody(const Reading& reading);

    // ---- continuing where the transfer stopped (ItemTransferContinue.cpp) ----
    // The item asks for it, and its request is one that may be continued.
    bool MayContinue() const;
    // Before the first request: the folder swept, and the part file an
    // earlier run kept for this URL and name taken up.
    void TakeUpKeptPart();
    // The validator If-Range carries: the entity tag unless it is a weak
    // one, else the date; empty when there is neither.
    std::string IfRangeValidator() const;
    std::vector<std::string> RangeHeaders() const;
    // What an answer to a request for the rest says of the bytes held.
    enum class RangeAnswer { Appends, StartsOver, Refused };
    RangeAnswer JudgeRangeAnswer(const inet::Request& request, bool afterStop);
    // The song the bytes now arriving belong to, from an answer 200.
    void TakeIdentity(const inet::Request& request);
    // The bytes held go: the song starts over with the answer in flight.
    void StartOver();
    enum class Carrying { On, Ended, NotContinued };
    // After the body stopped short: asks for the rest, pausing first, until
    // an answer carries on (On, with `request` the new one), the item's
    // outcome is settled (Ended), or there is nothing to continue
    // (NotContinued: the stop stands as it is).
    Carrying ContinueAfterStop(std::unique_ptr<inet::Request>& request);
    // The head of an answer to a request for the rest, after a stop.
    void ReadContinuationHead(inet::Request& request);
    // Waits before a continuation; true when the item was stopped meanwhile.
    bool WaitBeforeContinuing(std::chrono::milliseconds pause);
    // Retry-After of an answer that failed the item, when it is one.
    void NoteRetryAfter(const inet::Request& request);
    bool ShouldKeep() const;
    // The identity beside the part file from its first byte, so that the
    // bytes can be continued after a crash: when they could be kept.
    void UpdateLiveIdentity();

    TDlDownloadItem& item_;
    TransferContext& context_;
    inet::UrlComponents parts_;
    std::string url_;
    std::shared_ptr<inet::Session> session_;
    std::uint64_t length_ = 0;
    // The song the bytes held are the first of.
    PartIdentity identity_;
    // The song's answer allows a stop to be continued.
    bool continuable_ = false;
    // False once an answer spoke against the bytes held: they are not kept.
    bool heldTrusted_ = true;
    // The bytes were kept for a later run.
    bool kept_ = false;
    std::uint64_t keptBytes_ = 0;  // what kept_ kept
    // The request in flight asks for the bytes from here on (0: all of them).
    std::uint64_t rangeFrom_ = 0;
    // One past the last byte its answer 206 announced (0: not a 206).
    std::uint64_t rangeEnd_ = 0;
    // Answers 206 appended.
    int continuations_ = 0;
    // The bytes held came from a part file an earlier transfer kept; and
    // that transfer was this program's.
    bool fromKept_ = false;
    bool fromKeptHere_ = false;
    // The bytes held were found to be of another file: the song starts over.
    bool startsOver_ = false;
    std::optional<std::int64_t> retryAfter_;
    std::int32_t percentHeld_ = 0;
};

}  // namespace dl
