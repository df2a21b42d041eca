#pragma once
// The transfer of one download item, step by step: connected test, internet
// handle and its options, connection and request, status and header checks,
// the read loop into the item's data, and the reports to the UI thread at the
// start, after the headers, during reading and at the end.
#include <cstdint>
#include <memory>
#include <string>

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
    std::unique_ptr<inet::Request> OpenHttp(const std::shared_ptr<inet::Session>& session);
    std::unique_ptr<inet::Request> OpenFtp(const std::shared_ptr<inet::Session>& session);
    void ReadHeaders(inet::Request& request);
    void ReadFileHeaders();
    void ReadBody(inet::Request& request);
    // The part file in the item's folder; false when it failed the item.
    bool StartPartFile();
    void FailWriting(int error);
    bool PassesSizeLimit(std::uint64_t size);
    void EndStopped();
    bool Accepted() const;
    std::string RequestBody() const;
    void Notify(bool droppable);

    TDlDownloadItem& item_;
    inet::UrlComponents parts_;
    std::uint64_t length_ = 0;
};

}  // namespace dl
