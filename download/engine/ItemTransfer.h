#pragma once
// The transfer of one download item, step by step: connected test, internet
// handle and its options, connection and request, status and header checks,
// the read loop into the item's data, and the reports to the UI thread at the
// start, after the headers, during reading and at the end.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/files/KeptPart.h"
#include "download/inet/InetUrl.h"

namespace inet {
class Request;
class Session;
}  // namespace inet

namespace dl {

class TDlDownloadItem;

// Bytes asked for by one read.
constexpr std::size_t kReadChunk = 16384;
// Room for one header's text and its terminating NUL.
constexpr std::size_t kHeaderBuffer = 1024;
// Droppable progress reports come at most this often.
constexpr std::uint32_t kReportInterval = 500;
// Own error codes of the transfer.
constexpr std::int32_t kErrorException = 1;
constexpr std::int32_t kErrorNotConnected = 2;  // also: HTTP status other than 200 and 302
constexpr std::int32_t kErrorStopped = 6;
constexpr std::int32_t kErrorSizeLimit = 8;
constexpr std::int32_t kErrorPrecondFailed = 412;
// An HTML answer (page mode reads it) is held in memory up to this much;
// beyond it, it goes to the part file like any other.
constexpr std::size_t kPageInMemoryLimit = std::size_t(16) << 20;
// A song whose transfer stopped is continued at most this often in a run.
constexpr int kMaxContinuations = 3;

// Records the calling thread's last Internet error in the item, unless the
// item has already failed. Does not change the state.
void RecordTransferError(TDlDownloadItem& item);

// A header of the request's final response; empty when absent or longer than
// the header buffer.
std::string QueryHeader(const inet::Request& request, int level);

class ItemTransfer {
public:
    explicit ItemTransfer(TDlDownloadItem& item) : item_(item) {}
    void Run();

private:
    bool ConnectedTestPasses() const;
    void FailNotConnected();
    void Guarded();
    // The request for the item's URL by its scheme, asking for the bytes
    // from rangeFrom_ on when that is not 0. Nothing, with the last error
    // set, when it could not be sent.
    std::unique_ptr<inet::Request> OpenRequest();
    std::unique_ptr<inet::Request> OpenHttp(const std::shared_ptr<inet::Session>& session);
    std::unique_ptr<inet::Request> OpenFtp(const std::shared_ptr<inet::Session>& session);
    void ReadHeaders(inet::Request& request);
    void ReadFileHeaders();
    void ReadBody(std::unique_ptr<inet::Request>& request);
    // The part file in the item's folder; false when it failed the item.
    bool StartPartFile();
    void FailWriting(int error);
    bool PassesSizeLimit(std::uint64_t size);
    void EndStopped();
    bool Accepted() const;
    std::string RequestBody() const;
    void Notify(bool droppable);

    // ---- continuing where the transfer stopped ----
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
    // Waits before a continuation, longer each time; true when the item was
    // stopped meanwhile.
    bool PauseBeforeContinuing();
    bool ShouldKeep() const;

    TDlDownloadItem& item_;
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
    // The request in flight asks for the bytes from here on (0: all of them).
    std::uint64_t rangeFrom_ = 0;
    // One past the last byte its answer 206 announced (0: not a 206).
    std::uint64_t rangeEnd_ = 0;
    // Answers 206 appended; requests for the rest made after a stop.
    int continuations_ = 0;
    int continuationAttempts_ = 0;
};

}  // namespace dl
