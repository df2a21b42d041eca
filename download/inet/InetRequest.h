#pragma once
// A request handle: opened on a connection (HTTP verb, object name, referer,
// flags) or straight from a URL, sent, then queried for its response head and
// read in pieces. Every call blocks the calling thread and returns what it
// failed with (InetErrors.h). Closing the request's internet or connection
// handle on another thread makes a blocked call return at once with 12017.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/inet/InetConnection.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetSession.h"

namespace inet {

class Exchange;

// Request flags, with the platform's values.
constexpr std::uint32_t kFlagReload = 0x80000000;          // never from a cache (there is none here)
constexpr std::uint32_t kFlagMakePersistent = 0x02000000;  // cache hint; no effect here
constexpr std::uint32_t kFlagKeepConnection = 0x00400000;  // curl keeps connections by itself
constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000;
constexpr std::uint32_t kFlagPragmaNoCache = 0x00000100;   // sends "Pragma: no-cache"
constexpr std::uint32_t kFlagNeedFile = 0x00000010;        // cache hint; no effect here

// Header query levels.
constexpr int kQueryContentType = 1;
constexpr int kQueryContentLength = 5;
constexpr int kQueryLastModified = 11;
constexpr int kQueryStatusCode = 19;
constexpr int kQueryRawHeaders = 21;  // status line and header lines, each ended by a NUL
constexpr int kQueryLocation = 33;
constexpr int kQueryRetryAfter = 36;
constexpr int kQueryAcceptRanges = 42;
constexpr int kQueryContentRange = 53;
constexpr int kQueryETag = 54;

// Handle types.
constexpr int kHandleFtpFile = 7;
constexpr int kHandleHttpRequest = 13;
constexpr int kHandleFileRequest = 14;

// Redirects followed for one request before it fails with 12156.
constexpr int kMaxRedirects = 10;

struct FtpFileInfo {
    std::int64_t size = 0;
    std::optional<std::time_t> modified;
};

class Request {
public:
    // Prepares an HTTP request on the connection; nothing is sent yet.
    static Result<std::unique_ptr<Request>> openHttp(std::shared_ptr<Connection> connection, const std::string& verb,
                                                     const std::string& objectName, const std::string& referer,
                                                     std::uint32_t flags);
    // Opens and sends a GET for an absolute http, https, ftp or file URL,
    // returning once the response head (or the first bytes) has arrived.
    // `headers` ("Name: value" lines) go with an http or https request.
    static Result<std::unique_ptr<Request>> openUrl(std::shared_ptr<Session> session, const std::string& url,
                                                    std::uint32_t flags, const std::vector<std::string>& headers = {});
    // Opens an FTP file for reading; `path` as the server names it.
    static Result<std::unique_ptr<Request>> openFtpFile(std::shared_ptr<Connection> connection,
                                                        const std::string& path, std::uint32_t flags);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // One "Name: value" line, sent with the request (and its redirects).
    Result<void> addHeader(const std::string& line);
    // Sends an HTTP request prepared by openHttp, following redirects unless
    // the request was opened with kFlagNoAutoRedirect; returns once the final
    // response head has arrived. A redirect whose Location is missing or
    // makes no URL is that final response.
    Result<void> send(const std::string& body);

    int handleType() const { return handleType_; }
    // The URL the final response came from, after the redirects followed.
    const std::string& finalUrl() const { return url_; }
    bool redirected() const { return redirected_; }
    // A header of the final response, as text; it fails with 12150 when the
    // header is absent, with 122 when the text with its terminating NUL
    // needs more than `bufferSize` bytes.
    Result<std::string> queryInfo(int level, std::size_t bufferSize) const;
    // Up to `size` bytes of the body; 0 at its end.
    Result<std::size_t> read(char* buffer, std::size_t size) { return read(buffer, size, size); }
    // The same, where `room` bytes at `buffer` may be written: bytes that
    // arrive beyond `size` wait there for the next calls, and reading on at
    // buffer + received then takes them without a copy. The memory must stay
    // as it is until the next call.
    Result<std::size_t> read(char* buffer, std::size_t size, std::size_t room);

private:
    Request(std::shared_ptr<Session> session, std::shared_ptr<Connection> connection, int handleType);
    Result<void> perform(bool followRedirects);
    Result<void> performOnce();
    // After a redirect answer: the request asks the next address, or the
    // redirect stays the answer (false).
    Result<bool> followRedirect(int hop);

    std::shared_ptr<Session> session_;
    std::shared_ptr<Connection> connection_;
    int handleType_;
    std::unique_ptr<Exchange> exchange_;
    std::string url_;
    std::string verb_ = "GET";
    std::string referer_;
    std::uint32_t flags_ = 0;
    std::vector<std::string> headers_;
    std::string userName_;
    std::string password_;
    std::string body_;
    bool hasBody_ = false;
    std::string protocols_;
    bool sent_ = false;
    bool redirected_ = false;
};

// Looks an FTP file up: its size and, when the server tells, its time.
Result<FtpFileInfo> ftpFindFirstFile(const std::shared_ptr<Connection>& connection, const std::string& path);

}  // namespace inet
