#pragma once
// The page-fetch HTTP client: one GET (or other method) per call over a
// kept-alive TCP connection, with redirects, authentication challenges and
// cookies handled in one transaction loop.
//
// Its members are defined by concern: NetHTTP.cpp (life, properties,
// settings), NetHTTPSendRequest.cpp (the target, the route, the connection
// and the request head), NetHTTPReadHead.cpp (status line, head, cookies,
// keep-alive), NetHTTPReadBody.cpp (body framing, chunks, unused and error
// bodies) and NetHTTPTransaction.cpp (the loop and its decisions).
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/NetAuthentication.h"
#include "http/NetCookieManager.h"
#include "http/NetGlobal.h"
#include "http/NetHTTPHeaderInfo.h"
#include "http/NetSocketErrors.h"
#include "http/NetStream.h"
#include "http/NetTCPClient.h"
#include "http/NetURI.h"

namespace net {

class TNetCustomHTTP;

enum TNetHTTPProtocolVersion { pv1_0, pv1_1 };
enum TNetHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TNetHTTPOption { hoInProcessAuth = 1, hoKeepOrigProtocol = 2, hoForceEncodeParams = 4 };
using TNetHTTPOptions = unsigned;
enum TNetHTTPRouteKind { rkDirect, rkTls, rkProxy, rkTlsProxy };
enum TNetHTTPNextStep { nsFollow, nsDone, nsUndecided, nsReadAndFollow, nsRetryAuth };

// A transport that can encrypt. None is built into this program; a transport
// that implements this may be assigned as the client's IOHandler.
class TNetTlsTransport {
public:
    virtual ~TNetTlsTransport() = default;
    // true: encrypt the connection; false: pass bytes through unchanged.
    virtual void SetPassThrough(bool passThrough) = 0;
};

// ---- exceptions ---------------------------------------------------------

class ENetHTTPProtocolException : public ENetProtocolReplyError {
public:
    ENetHTTPProtocolException(int replyCode, const std::string& message, std::string replyBody)
        : ENetProtocolReplyError(replyCode, message), replyBody_(std::move(replyBody)) {}
    const std::string& ReplyBody() const { return replyBody_; }
    const char* ClassName() const override { return "ENetHTTPProtocolException"; }

private:
    std::string replyBody_;
};

class ENetUnknownProtocol : public ENetException {
public:
    ENetUnknownProtocol() : ENetException("") {}
    const char* ClassName() const override { return "ENetUnknownProtocol"; }
};

// A response head (status line and header lines, interim answers included)
// or a chunked body's trailer beyond the client's bounds.
class ENetResponseHeadTooLarge : public ENetException {
public:
    ENetResponseHeadTooLarge() : ENetException("Response head too large.") {}
    const char* ClassName() const override { return "ENetResponseHeadTooLarge"; }
};

// A status line other than "HTTP/1." + one digit, a blank and three digits
// (then the end, or a blank and the reason).
class ENetInvalidStatusLine : public ENetException {
public:
    explicit ENetInvalidStatusLine(std::string_view line);
    const char* ClassName() const override { return "ENetInvalidStatusLine"; }
};

// The connection closed after some of a response head had come, before the
// blank line that ends it.
class ENetResponseHeadCutShort : public ENetException {
public:
    ENetResponseHeadCutShort() : ENetException("Response head cut short.") {}
    const char* ClassName() const override { return "ENetResponseHeadCutShort"; }
};

// ---- events -------------------------------------------------------------

using TNetHTTPOnRedirectEvent = std::function<void(TNetCustomHTTP& sender, std::string& dest,
                                                   int numRedirect, bool& handled,
                                                   TNetHTTPMethod& method)>;
using TNetOnSelectAuthorization = std::function<void(
    TNetCustomHTTP& sender, TNetAuthenticationClass& authenticationClass,
    const std::vector<std::string>& authInfo)>;
using TNetOnAuthorization =
    std::function<void(TNetCustomHTTP& sender, TNetAuthentication& authentication, bool& handled)>;

// ---- message records ----------------------------------------------------

class TNetHTTPRequest : public TNetRequestHeaderInfo {
public:
    std::string URL;
    TNetHTTPMethod Method = hmGet;
    TNetStream* SourceStream = nullptr;  // not owned
    TNetHTTPRouteKind RouteKind = rkDirect;

protected:
    std::string authorizationValue() override;
};

class TNetHTTPResponse : public TNetResponseHeaderInfo {
public:
    explicit TNetHTTPResponse(TNetCustomHTTP& client) : client_(client) {}

    const std::string& StatusLine() const { return statusLine_; }
    void SetStatusLine(std::string line);
    int StatusCode() const { return statusCode_; }
    TNetHTTPProtocolVersion ResponseVersion() const { return responseVersion_; }
    // Whether the connection stays open after this response; computed from
    // the headers and the connection state at each call. An answer whose
    // transfer codings override a Content-Length never keeps it.
    bool KeepAlive();

    void ResetFields() override;
    void ParseRawHeaders() override;
    // Every Transfer-Encoding line taken as one comma list, compared without
    // regard to case: whether it names a coding, and whether the last one is
    // chunked.
    bool TransferCoded() const { return transferCoded_; }
    bool Chunked() const { return chunked_; }

    TNetStream* ContentStream = nullptr;  // not owned

private:
    TNetCustomHTTP& client_;
    std::string statusLine_;
    int statusCode_ = -1;
    TNetHTTPProtocolVersion responseVersion_ = pv1_1;
    bool transferCoded_ = false;
    bool chunked_ = false;
};

// One request/response pair and the steps that interpret a response.
class TNetHTTPProtocol {
public:
    explicit TNetHTTPProtocol(TNetCustomHTTP& client);

    TNetHTTPRequest Request;
    TNetHTTPResponse Response;

    TNetHTTPNextStep DecideNext();
    // Reads the body the headers announce into `content`. With `strict`, a
    // body cut short by the server is an error; otherwise what came is kept.
    void ReadBody(TNetStream* content, bool strict);
    [[noreturn]] void FailWithResponse();
    // Reads a body nobody will use, so that the connection can carry the
    // next answer. False, having stopped reading, when the body is longer
    // than the client's UnusedBodyLimit: the connection must then be closed.
    bool DrainBody();

private:
    bool askRedirect(std::string& dest, TNetHTTPMethod& method);
    bool authorize(bool proxy);
    void drainIgnoringErrors();
    void readChunkedBody(TNetStream& content);
    void readChunkEnd();

    TNetCustomHTTP& client_;
};

// ---- the client ---------------------------------------------------------

class TNetCustomHTTP : public TNetTCPClient {
public:
    // Waits that bound the reading of bodies nobody will use; tests may lower them.
    static constexpr int kErrorBodyReadTimeout = 2000;
    static constexpr int kDrainReadTimeout = 4000;
    // Most bytes of an error body kept, or of an unused body read past, before
    // the connection is given up instead.
    static constexpr std::int64_t kUnusedBodyLimit = std::int64_t{1} << 20;
    // Bounds on a response head, its interim answers included, and on the
    // trailer of a chunked body: header lines and bytes (two per line end).
    static constexpr int kMaxHeaderLines = 1000;
    static constexpr std::int64_t kMaxHeadBytes = 256 * 1024;

    TNetCustomHTTP();
    ~TNetCustomHTTP() override;

    // The whole body of `url` as bytes, exactly as received.
    std::string Get(const std::string& url);
    void Get(const std::string& url, TNetStream& content);
    void PerformRequest(TNetHTTPMethod method, const std::string& url, TNetStream* source,
                        TNetStream* content);

    // May be called from any thread: the call in progress, blocked in
    // connect, read or write or about to be, fails promptly with
    // ENetInterrupted, and the client is usable again at once. An interrupt
    // that finds no call in progress fails the next call instead, unless
    // ClearInterrupt() forgets it first.
    void Interrupt();
    void ClearInterrupt();

    // Properties.
    void SetHost(const std::string& host) override;
    void SetPort(int port) override;
    TNetHTTPRequest& Request() { return protocol_->Request; }
    void SetRequest(const TNetRequestHeaderInfo& request);
    TNetHTTPResponse& Response() { return protocol_->Response; }
    TNetProxyConnectionInfo& ProxyParams() { return proxyParams_; }
    TNetCookieManager* CookieManager() const { return cookieManager_; }
    // A manager set here is not owned; the client forgets it when it is
    // destroyed. One the client created itself goes with the client.
    void SetCookieManager(TNetCookieManager* manager);
    const TNetURI& WorkingURI() const { return uri_; }
    int RedirectCount() const { return redirectCount_; }

    int AuthRetries = 3;
    bool AllowCookies = true;
    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    TNetHTTPProtocolVersion ProtocolVersion = pv1_1;
    TNetHTTPOptions HTTPOptions = hoForceEncodeParams;
    int ConnectTimeout = 0;
    int ErrorBodyReadTimeout = kErrorBodyReadTimeout;
    int DrainReadTimeout = kDrainReadTimeout;
    std::int64_t UnusedBodyLimit = kUnusedBodyLimit;

    TNetHTTPOnRedirectEvent OnRedirect;
    TNetOnSelectAuthorization OnSelectAuthorization;
    TNetOnSelectAuthorization OnSelectProxyAuthorization;
    TNetOnAuthorization OnAuthorization;
    TNetOnAuthorization OnProxyAuthorization;

protected:
    void DoOnDisconnected() override;
    void Notification(TNetBaseComponent* component) override;

private:
    friend class TNetHTTPProtocol;

    // Counts the lines and bytes of one head against the client's bounds.
    class HeadBudget;

    void ResolveTarget();
    TNetHTTPRouteKind ChooseRoute();
    // Sends the request; `reused` tells whether it went out on a connection
    // kept from an earlier call.
    void OpenRoute(bool& reused);
    // Opens a connection unless a kept one can be used; true when kept.
    bool EnsureConnected(TNetHTTPResponse& response);
    void OpenTunnel();
    void SendRequestHead(TNetHTTPProtocol& protocol, TNetURI* uri);
    // Sends the request and reads the first status line of its answer. A
    // request that went out on a kept connection the server dropped before
    // answering goes out once more on a new one.
    std::string sendRequest();
    // Whether a failed send or wait for the answer may be sent once more: an
    // idempotent request, no byte of the answer, a connection lost.
    bool lostBeforeAnswer(const std::exception& failure);
    // Whether the connection may carry the next request: the last answer was
    // read whole, no byte came after it, and its headers keep the connection.
    bool canReuseConnection(TNetHTTPResponse& response);
    // The next status line. A close after some of the answer had come (or
    // after an interim answer, when `answerBegun`) means the head was cut
    // short; a close before any byte of it stays a plain close.
    std::string readStatusLine(bool answerBegun);
    // False when the connection closed before the head's blank line.
    bool ReceiveHeaders(TNetHTTPProtocol& protocol, HeadBudget& budget);
    void TakeCookies(TNetHTTPProtocol& protocol);
    void AttachCookies(TNetHTTPRequest& request, TNetURI& uri);
    void readFinalResponse(TNetHTTPProtocol& protocol, std::string statusLine);
    void rewind(TNetStream* content, std::int64_t position);
    void finishCall();
    void raiseIfInterrupted();
    void forgetInterrupt();

    std::unique_ptr<TNetHTTPProtocol> protocol_;
    TNetURI uri_;
    TNetProxyConnectionInfo proxyParams_;
    TNetCookieManager* cookieManager_ = nullptr;
    std::unique_ptr<TNetCookieManager> ownedCookieManager_;
    int redirectCount_ = 0;
    // False from sending a request until its response has been read whole; a
    // connection left mid-response is never reused.
    bool exchangeComplete_ = true;
    std::string requestedUrl_;
    std::atomic<bool> interruptPending_{false};
};

class TNetHTTP : public TNetCustomHTTP {};

// Settings of the program's own client (the main window's NetHTTP1), shared
// by the window and the command-line tools.
void ApplyProgramSettings(TNetHTTP& http);

}  // namespace net
