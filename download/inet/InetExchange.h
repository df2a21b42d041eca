#pragma once
// One request/response exchange on libcurl, driven from the calling thread:
// blocking calls (wait for the response head, read the next bytes) over a
// curl multi handle, so that closing an internet or connection handle on
// another thread can wake the waiting call through curl_multi_wakeup.
// Internal to the inet layer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download/inet/InetAbortSignal.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetResponseHead.h"
#include "download/inet/InetSession.h"

namespace inet {

struct ExchangeSetup {
    std::string url;
    std::string verb = "GET";
    bool hasBody = false;
    std::string body;
    std::vector<std::string> headers;  // "Name: value" lines
    std::string userName;              // sent as Basic credentials when not empty
    std::string password;
    std::string referer;
    std::string agent;
    SessionSettings settings;
    std::string proxyUserName;
    std::string proxyPassword;
    std::string protocols = "http,https";
    bool headOnly = false;  // FTP: size and date only
};

class Exchange {
public:
    explicit Exchange(std::vector<std::shared_ptr<AbortSignal>> signals);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Starts a transfer, replacing the one before (whose unread body is dropped).
    Result<void> start(const ExchangeSetup& setup);

    // Waits until the final response head has arrived (HTTP), the first bytes
    // have arrived or the transfer has ended. A head that ends before its
    // blank line fails with 12152, and so does one that passes the head's
    // bounds (InetResponseHead.h).
    Result<void> waitForHead();
    // Waits for the whole transfer (used for the FTP size and date query).
    Result<void> waitForEnd();

    // Up to `size` bytes; 0 is the end of the data. With `room` above
    // `size`, bytes that arrive beyond `size` may be placed after them in the
    // caller's memory (up to `room` in all); they are handed out by the next
    // calls, without a copy when the caller passes the address right after
    // what it received (that memory must stay as it is until then).
    Result<std::size_t> read(char* buffer, std::size_t size, std::size_t room);

    bool aborted() const;
    // A failed transfer that never got a connection: worth another attempt.
    bool failedToConnect() const;

    // The final response head (HTTP).
    bool headComplete() const { return headComplete_; }
    int status() const { return head_.status(); }
    const std::string& statusLine() const { return head_.statusLine(); }
    const std::vector<std::pair<std::string, std::string>>& headers() const { return head_.headers(); }
    std::optional<std::string> header(const std::string& name) const;
    // Every line of that name, joined by ", "; nothing when there is none.
    std::optional<std::string> combinedHeader(const std::string& name) const;

    std::optional<std::int64_t> contentLength() const;
    std::optional<std::int64_t> fileTime() const;

private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* self);
    static int onConnected(void* self, char*, char*, int, int);

    // The steps of start: the state of the transfer before, then the easy
    // handle's options by what they set.
    void resetState();
    void setTransferOptions(void* easy);
    void setHeaderLines(void* easy);
    void setMethodAndBody(void* easy);
    void setCredentials(void* easy);
    void setProxy(void* easy);

    template <typename Done>
    Result<void> pump(Done done);
    void collectMessages();
    Result<void> resultError() const;
    // Milliseconds until the data time limit passes: none while no
    // connection is made yet (the connect limit is curl's), nor while the
    // transfer is paused for the reader.
    std::optional<long> silenceLeft() const;
    void dropTransfer();
    std::size_t spilled() const { return spill_.size() - spillHead_; }
    std::size_t takeSpill(char* buffer, std::size_t size);
    // The speed limit: `bytes` handed out are paid for, and the next read
    // waits for what is owed. False when the handle was closed meanwhile.
    std::size_t charged(std::size_t bytes);
    bool waitForRate();

    std::vector<std::shared_ptr<AbortSignal>> signals_;
    void* multi_ = nullptr;  // CURLM*
    void* easy_ = nullptr;   // CURL*
    void* headerList_ = nullptr;  // curl_slist*
    ExchangeSetup setup_;
    bool httpLike_ = true;

    bool finished_ = false;
    int result_ = 0;  // CURLcode
    long osErrno_ = 0;

    bool headComplete_ = false;
    ResponseHead head_;
    std::string lastServerLine_;
    // The data time limit: since the connection was made, or the last byte.
    long dataTimeoutMs_ = 0;
    bool connected_ = false;
    std::int64_t lastActivity_ = 0;  // steady clock, milliseconds

    char* target_ = nullptr;
    std::size_t targetSize_ = 0;
    std::size_t targetFilled_ = 0;
    // Placed in the caller's memory beyond what was handed out.
    char* ahead_ = nullptr;
    std::size_t aheadCount_ = 0;
    // Beyond the caller's room: kept here.
    std::vector<char> spill_;
    std::size_t spillHead_ = 0;
    bool paused_ = false;
};

}  // namespace inet
