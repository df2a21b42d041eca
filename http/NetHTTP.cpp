#include "http/NetHTTP.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>

#include "http/NetStack.h"

namespace net {

namespace {

const std::string kLF = "\n";

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && upper(a) == upper(b);
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// A whole decimal integer of 32 bits (an optional sign, then digits only).
bool parseInt32(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The code of a status line: the word after the first blank, or -1.
int statusCodeOf(std::string_view line) {
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos) return -1;
    std::string_view rest = trimBlanks(line.substr(blank + 1));
    rest = rest.substr(0, rest.find(' '));
    int code = -1;
    return parseInt32(rest, code) ? code : -1;
}

// A TCP port given as text in a URL.
int portNumberOf(const std::string& text) {
    int port = 0;
    if (!parseInt32(text, port) || port < 1 || port > 65535)
        throw ConversionError("'" + text + "' is not a valid port number");
    return port;
}

const char* methodWord(TNetHTTPMethod method) {
    switch (method) {
        case hmHead: return "HEAD ";
        case hmGet: return "GET ";
        case hmPost: return "POST ";
        case hmOptions: return "OPTIONS ";
        case hmTrace: return "TRACE ";
        case hmPut: return "PUT ";
        case hmDelete: return "DELETE ";
        case hmConnect: return "CONNECT ";
    }
    return "GET ";
}

// Restores a connection's read timeout when a bounded read is over.
class ReadTimeoutOverride {
public:
    ReadTimeoutOverride(TNetTCPConnection& connection, int timeout)
        : connection_(connection), saved_(connection.ReadTimeout()) {
        connection_.SetReadTimeout(timeout);
    }
    ~ReadTimeoutOverride() { connection_.SetReadTimeout(saved_); }
    ReadTimeoutOverride(const ReadTimeoutOverride&) = delete;
    ReadTimeoutOverride& operator=(const ReadTimeoutOverride&) = delete;

private:
    TNetTCPConnection& connection_;
    int saved_;
};

// Points a response at a scratch stream of limited size for the life of the
// object.
class ScratchContent {
public:
    ScratchContent(TNetHTTPResponse& response, std::int64_t limit)
        : response_(response), saved_(response.ContentStream), scratch_(limit) {
        response_.ContentStream = &scratch_;
    }
    ~ScratchContent() { response_.ContentStream = saved_; }
    ScratchContent(const ScratchContent&) = delete;
    ScratchContent& operator=(const ScratchContent&) = delete;
    TNetMemoryStream& stream() { return scratch_; }

    // Runs read; false when what it read did not fit.
    template <class Read>
    bool fill(Read&& read) {
        try {
            read();
            return true;
        } catch (const ENetStreamLimitExceeded&) {
            return false;
        }
    }

private:
    TNetHTTPResponse& response_;
    TNetStream* saved_;
    TNetLimitedMemoryStream scratch_;
};

// A chunk-size line: hexadecimal digits, any number of leading zeros,
// optionally followed by blanks or a ";" extension. -1 when the line holds no
// valid size or one beyond 63 bits.
std::int64_t chunkSizeOf(std::string_view line) {
    line = line.substr(0, std::min(line.find(' '), line.find(';')));
    while (!line.empty() && line.back() == '\t') line.remove_suffix(1);
    if (line.empty()) return -1;
    line.remove_prefix(std::min(line.find_first_not_of('0'), line.size() - 1));
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), value, 16);
    if (ec != std::errc() || end != line.data() + line.size() || value > INT64_MAX) return -1;
    return static_cast<std::int64_t>(value);
}

// Interim answers precede the final one; 101 instead switches protocols,
// which this client does not speak.
bool isInterimAnswer(int code) { return code >= 100 && code < 200 && code != 101; }

// Methods that may be sent twice with the same effect as once.
bool isIdempotent(TNetHTTPMethod method) { return method != hmPost && method != hmConnect; }

}  // namespace

// ---- head bounds ------------------------------------------------------------

class TNetCustomHTTP::HeadBudget {
public:
    // Counts one line of the head; header lines also count against the line
    // bound. Throw ENetResponseHeadTooLarge past either bound.
    void take(const std::string& line, bool headerLine) {
        bytes_ += static_cast<std::int64_t>(line.size()) + 2;
        if (headerLine) ++lines_;
        if (lines_ > kMaxHeaderLines || bytes_ > kMaxHeadBytes) throw ENetResponseHeadTooLarge();
    }

private:
    int lines_ = 0;
    std::int64_t bytes_ = 0;
};

// ---- response -----------------------------------------------------------

void TNetHTTPResponse::SetStatusLine(std::string line) {
    statusLine_ = std::move(line);
    statusCode_ = statusCodeOf(statusLine_);
}

bool TNetHTTPResponse::KeepAlive() {
    if (statusLine_.size() >= 8) {
        const std::string_view version = std::string_view(statusLine_).substr(5, 3);
        if (equalsNoCase(version, "1.0")) responseVersion_ = pv1_0;
        else if (equalsNoCase(version, "1.1")) responseVersion_ = pv1_1;
    }
    client_.CheckPeerClosed(false, false);
    if (!client_.IsConnected()) return false;
    const std::string_view connection = trimBlanks(Connection);
    const std::string_view proxyConnection = trimBlanks(ProxyConnection);
    if (client_.ProtocolVersion == pv1_1)
        return !equalsNoCase(connection, "CLOSE") && !equalsNoCase(proxyConnection, "CLOSE");
    return equalsNoCase(connection, "KEEP-ALIVE") || equalsNoCase(proxyConnection, "KEEP-ALIVE");
}

// ---- transaction holder -------------------------------------------------

TNetHTTPProtocol::TNetHTTPProtocol(TNetCustomHTTP& client) : Response(client), client_(client) {}

TNetHTTPNextStep TNetHTTPProtocol::DecideNext() {
    TNetHTTPNextStep next = nsUndecided;
    const int code = Response.StatusCode();
    const int digit = code / 100;

    if ((digit == 3 && code != 304) || !Response.Location.empty()) {
        std::string dest = Response.Location;
        TNetHTTPMethod method = Request.Method;
        if (client_.HandleRedirects && client_.redirectCount_ < client_.RedirectMaximum) {
            if (!askRedirect(dest, method)) FailWithResponse();
            next = nsFollow;
            Request.URL = dest;
            Request.Method = method;
        } else {
            // Past the limit a redirect is a failure, not an empty page.
            if (client_.HandleRedirects) FailWithResponse();
            next = nsDone;
            if (!askRedirect(dest, method)) FailWithResponse();
            Response.Location = dest;
        }
        if (client_.IsConnected()) drainIgnoringErrors();
        return next;
    }

    bool needsAuthorization = false;
    if (digit != 2) {
        next = nsFollow;
        if (code == 401 || code == 407) {
            const bool proxy = code == 407;
            TNetAuthentication* auth =
                proxy ? client_.proxyParams_.Authentication.get() : Request.Authentication.get();
            const bool exhausted = auth && auth->triedCount() >= client_.AuthRetries;
            if (exhausted || !authorize(proxy)) {
                if (TNetAuthentication* current =
                        proxy ? client_.proxyParams_.Authentication.get() : Request.Authentication.get())
                    current->reset();
                FailWithResponse();
            }
            needsAuthorization = true;
        } else {
            FailWithResponse();
        }
    }

    if (client_.IsConnected()) {
        if (needsAuthorization) {
            drainIgnoringErrors();
            return nsRetryAuth;
        }
        if (code != 204) {
            // A body nobody takes still stands between the connection and
            // the next answer on it; one too long to read past closes it.
            if (Response.ContentStream) ReadBody(Response.ContentStream, true);
            else if (!DrainBody()) return nsDone;
        }
        client_.exchangeComplete_ = true;
        return nsDone;
    }
    return next;
}

bool TNetHTTPProtocol::askRedirect(std::string& dest, TNetHTTPMethod& method) {
    bool handled = client_.HandleRedirects;
    if (client_.OnRedirect) client_.OnRedirect(client_, dest, client_.redirectCount_, handled, method);
    return handled;
}

bool TNetHTTPProtocol::authorize(bool proxy) {
    const std::vector<std::string>& challenges =
        proxy ? Response.ProxyAuthenticate.lines() : Response.WWWAuthenticate.lines();
    auto& select = proxy ? client_.OnSelectProxyAuthorization : client_.OnSelectAuthorization;
    auto& ask = proxy ? client_.OnProxyAuthorization : client_.OnAuthorization;

    TNetAuthentication* auth = proxy ? client_.proxyParams_.Authentication.get() : Request.Authentication.get();
    if (!auth) {
        TNetAuthenticationClass cls = FindSchemeForChallenges(challenges);
        if (!cls) return false;
        if (select) select(client_, cls, challenges);
        if (!cls) return false;
        std::shared_ptr<TNetAuthentication> created = cls->create();
        auth = created.get();
        (proxy ? client_.proxyParams_.Authentication : Request.Authentication) = std::move(created);
    }
    if (!ask && !(client_.HTTPOptions & hoInProcessAuth)) return false;

    const auto giveCredentials = [&] {
        auth->setUsername(proxy ? client_.proxyParams_.ProxyUsername : Request.Username);
        auth->setPassword(proxy ? client_.proxyParams_.ProxyPassword : Request.Password);
    };
    giveCredentials();
    auth->params.setValue("Authorization", auth->headerValue());
    auth->setChallenges(challenges);
    for (;;) {
        switch (auth->next()) {
            case AuthNextStep::send: return true;
            case AuthNextStep::fail: return false;
            case AuthNextStep::ask: {
                // A handler that keeps answering without usable credentials
                // must not hold the call forever.
                if (!ask || auth->triedCount() > client_.AuthRetries) return false;
                giveCredentials();
                bool handled = false;
                ask(client_, *auth, handled);
                if (!handled) return false;
                if (proxy) {
                    client_.proxyParams_.BasicAuthentication = true;
                    client_.proxyParams_.ProxyUsername = auth->username();
                    client_.proxyParams_.ProxyPassword = auth->password();
                } else {
                    Request.BasicAuthentication = true;
                    Request.Username = auth->username();
                    Request.Password = auth->password();
                }
                break;
            }
        }
    }
}

void TNetHTTPProtocol::ReadBody(TNetStream* content, bool strict) {
    if (!content) return;
    // These responses end with their headers whatever they announce.
    const int code = Response.StatusCode();
    if (Request.Method == hmHead || (code >= 100 && code < 200) || code == 204 || code == 304)
        return;
    if (Response.ContentLength() > 0) {
        try {
            client_.ReadIntoStream(*content, Response.ContentLength(), false);
        } catch (const ENetConnClosedGracefully&) {
            // A body cut short by the server is not the page it announced.
            if (strict) throw;
        }
    } else if (Response.RawHeaders.GetHeaderValue("Transfer-Encoding").find("chunked") !=
               std::string::npos) {
        readChunkedBody(*content);
    } else if (!Response.HasContentLength()) {
        client_.ReadIntoStream(*content, -1, true);
    }
}

void TNetHTTPProtocol::readChunkedBody(TNetStream& content) {
    client_.SignalStatus(hsStatusText, {"Chunk Started"});
    const auto readSize = [&] {
        const std::string line = client_.ReadLine(kLF);
        const std::int64_t size = chunkSizeOf(line);
        if (size < 0) throw ENetException("Invalid chunk size: " + line.substr(0, 64));
        return size;
    };
    for (std::int64_t size = readSize(); size > 0; size = readSize()) {
        client_.ReadIntoStream(content, size, false);
        client_.ReadLine(kLF);
    }
    // Trailer lines, up to the blank line that ends the message; they are
    // not kept, but a trailer without end must not hold the call.
    TNetCustomHTTP::HeadBudget trailer;
    for (std::string line = client_.ReadLine(kLF); !line.empty(); line = client_.ReadLine(kLF))
        trailer.take(line, true);
}

void TNetHTTPProtocol::FailWithResponse() {
    std::string body;
    bool whole = true;
    {
        ReadTimeoutOverride bounded(client_, client_.ErrorBodyReadTimeout);
        ScratchContent scratch(Response, client_.UnusedBodyLimit);
        whole = scratch.fill([&] { ReadBody(Response.ContentStream, false); });
        body = scratch.stream().TakeString();
    }
    // After a refused interim answer the final one is still on its way, and
    // after an error body too long to read the rest of it: the next request
    // must not read either as its own.
    const int code = Response.StatusCode();
    client_.exchangeComplete_ = whole && (code < 100 || code >= 200);
    throw ENetHTTPProtocolException(Response.StatusCode(), Response.StatusLine(), std::move(body));
}

bool TNetHTTPProtocol::DrainBody() {
    ScratchContent scratch(Response, client_.UnusedBodyLimit);
    return scratch.fill([&] { ReadBody(Response.ContentStream, false); });
}

void TNetHTTPProtocol::drainIgnoringErrors() {
    ReadTimeoutOverride bounded(client_, client_.DrainReadTimeout);
    try {
        if (DrainBody()) client_.exchangeComplete_ = true;
    } catch (const ENetInterrupted&) {
        throw;
    } catch (const std::exception&) {
        // The body is of no use; a connection left mid-body is closed later.
    }
}

// ---- client -------------------------------------------------------------

TNetCustomHTTP::TNetCustomHTTP() : protocol_(std::make_unique<TNetHTTPProtocol>(*this)) {
    TNetTCPClient::SetPort(80);
    SetMaxLineAction(maException);
}

TNetCustomHTTP::~TNetCustomHTTP() {
    // Its destruction notice must find the client whole.
    ownedCookieManager_.reset();
}

std::string TNetCustomHTTP::Get(const std::string& url) {
    TNetMemoryStream content;
    Get(url, content);
    return content.TakeString();
}

void TNetCustomHTTP::Get(const std::string& url, TNetStream& content) {
    PerformRequest(hmGet, url, nullptr, &content);
}

void TNetCustomHTTP::PerformRequest(TNetHTTPMethod method, const std::string& url,
                                    TNetStream* source, TNetStream* content) {
    TNetHTTPRequest& request = protocol_->Request;
    TNetHTTPResponse& response = protocol_->Response;
    const std::int64_t rewindPosition = content ? content->Position() : 0;
    requestedUrl_ = url;
    request.URL = url;
    request.Method = method;
    request.SourceStream = source;
    response.ContentStream = content;
    try {
        for (bool done = false; !done;) {
            raiseIfInterrupted();
            ++redirectCount_;
            ResolveTarget();
            readFinalResponse(*protocol_, sendRequest());
            switch (protocol_->DecideNext()) {
                case nsRetryAuth:
                    --redirectCount_;
                    request.URL = requestedUrl_;
                    break;
                case nsReadAndFollow:
                    protocol_->ReadBody(content, true);
                    rewind(content, rewindPosition);
                    break;
                case nsFollow:
                    rewind(content, rewindPosition);
                    break;
                case nsDone:
                    done = true;
                    break;
                case nsUndecided:
                    throw ENetException("Undefined situation");
            }
        }
    } catch (...) {
        try {
            finishCall();
        } catch (...) {
            // The original failure is the one to report.
        }
        forgetInterrupt();
        throw;
    }
    finishCall();
}

void TNetCustomHTTP::finishCall() {
    redirectCount_ = 0;
    if (!exchangeComplete_ || !protocol_->Response.KeepAlive()) CloseConnection();
}

void TNetCustomHTTP::rewind(TNetStream* content, std::int64_t position) {
    if (!content) return;
    content->SetPosition(position);
    content->SetSize(position);
}

std::string TNetCustomHTTP::sendRequest() {
    for (bool resent = false;; resent = true) {
        bool reused = false;
        try {
            OpenRoute(reused);
            return ReadLine(kLF);
        } catch (const std::exception& failure) {
            if (resent || !reused || !lostBeforeAnswer(failure)) throw;
        }
        // The server dropped the kept connection before answering, as it
        // may do with an idle one at any time: once more on a new one.
        CloseConnection();
        raiseIfInterrupted();
    }
}

bool TNetCustomHTTP::lostBeforeAnswer(const std::exception& failure) {
    if (!isIdempotent(protocol_->Request.Method) || interruptPending_ || InputBuffer().Size() > 0)
        return false;
    if (dynamic_cast<const ENetConnClosedGracefully*>(&failure) ||
        dynamic_cast<const ENetClosedSocket*>(&failure) || dynamic_cast<const ENetNotConnected*>(&failure))
        return true;
    const auto* socketError = dynamic_cast<const ENetSocketError*>(&failure);
    if (!socketError) return false;
    switch (socketError->LastError()) {
        case wsa::kConnectionAborted:
        case wsa::kConnectionReset:
        case wsa::kNotConnected:
        case wsa::kShutdown:
            return true;
        default:
            return false;
    }
}

void TNetCustomHTTP::readFinalResponse(TNetHTTPProtocol& protocol, std::string statusLine) {
    // One budget for the whole head: endless interim answers are bounded too.
    HeadBudget budget;
    for (;;) {
        budget.take(statusLine, false);
        protocol.Response.SetStatusLine(std::move(statusLine));
        ReceiveHeaders(protocol, budget);
        TakeCookies(protocol);
        if (!isInterimAnswer(protocol.Response.StatusCode())) return;
        statusLine = ReadLine(kLF);
    }
}

void TNetCustomHTTP::ResolveTarget() {
    TNetHTTPRequest& request = protocol_->Request;
    if (request.URL.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw ENetException("Invalid character in URL");
    TNetURI target(request.URL);
    if (!target.Username.empty()) {
        request.Username = target.Username;
        request.Password = target.Password;
    }
    uri_.Username = request.Username;
    uri_.Password = request.Password;
    uri_.Path = TNetURI::MergePath(uri_.Path, target.Path, "/");
    uri_.Document = target.Document;
    uri_.Params = target.Params;
    if (!target.Host.empty()) uri_.Host = target.Host;
    uri_.Protocol = target.Protocol.empty() ? "http" : target.Protocol;
    if (!target.Port.empty()) {
        uri_.Port = target.Port;
    } else if (equalsNoCase(target.Protocol, "http")) {
        uri_.Port = "80";
    } else if (equalsNoCase(target.Protocol, "https")) {
        uri_.Port = "443";
    } else if (uri_.Port.empty()) {
        throw ENetUnknownProtocol();
    }
    request.URL = uri_.Path + uri_.Document + uri_.Params;
    if (request.Method == hmOptions && target.Document == "*") request.URL = "*";
    if ((request.Method == hmOptions || request.Method == hmTrace || request.Method == hmPut ||
         request.Method == hmDelete) &&
        ProtocolVersion != pv1_1)
        throw ENetException("This request method is supported in HTTP 1.1");
    if ((request.Method == hmPost || request.Method == hmPut) && request.SourceStream)
        request.SetContentLength(request.SourceStream->Size());
    else
        request.SetContentLength(-1);
    request.Host = uri_.Port == "80" ? uri_.Host : uri_.Host + ":" + uri_.Port;
}

TNetHTTPRouteKind TNetCustomHTTP::ChooseRoute() {
    const bool https = equalsNoCase(uri_.Protocol, "HTTPS");
    auto* tls = dynamic_cast<TNetTlsTransport*>(IOHandler());
    if (proxyParams_.ProxyServer().empty()) {
        const int port = portNumberOf(uri_.Port);
        if (!equalsNoCase(Host(), uri_.Host) || Port() != port) {
            if (IsConnected()) CloseConnection();
            TNetTCPClient::SetHost(uri_.Host);
            TNetTCPClient::SetPort(port);
        }
        if (https) {
            if (!tls) throw ENetIOHandlerPropInvalid();
            tls->SetPassThrough(false);
            return rkTls;
        }
        if (tls) tls->SetPassThrough(true);
        return rkDirect;
    }
    if ((!equalsNoCase(Host(), proxyParams_.ProxyServer()) || Port() != proxyParams_.ProxyPort()) &&
        IsConnected())
        CloseConnection();
    TNetTCPClient::SetHost(proxyParams_.ProxyServer());
    TNetTCPClient::SetPort(proxyParams_.ProxyPort());
    if (https) {
        // Without a TLS transport the tunnel would carry the request in clear.
        if (!tls) throw ENetIOHandlerPropInvalid();
        tls->SetPassThrough(true);
        return rkTlsProxy;
    }
    if (tls) tls->SetPassThrough(true);
    return rkProxy;
}

void TNetCustomHTTP::OpenRoute(bool& reused) {
    TNetHTTPRequest& request = protocol_->Request;
    request.RouteKind = ChooseRoute();
    if (request.RouteKind == rkProxy) request.URL = uri_.URIText();
    switch (request.RouteKind) {
        case rkDirect:
            if (ProtocolVersion == pv1_0 && request.Connection.empty())
                request.Connection = "keep-alive";
            break;
        case rkProxy:
            if (ProtocolVersion == pv1_0 && request.Connection.empty())
                request.ProxyConnection = "keep-alive";
            break;
        case rkTls:
        case rkTlsProxy:
            request.Connection.clear();
            break;
    }
    reused = false;
    if (request.RouteKind == rkTlsProxy) OpenTunnel();
    else reused = EnsureConnected(protocol_->Response);
    exchangeComplete_ = false;
    SendRequestHead(*protocol_, &uri_);
    if ((request.Method == hmPost || request.Method == hmPut) && request.SourceStream)
        WriteFromStream(*request.SourceStream, true, 0, false);
}

bool TNetCustomHTTP::EnsureConnected(TNetHTTPResponse& response) {
    if (!exchangeComplete_ || !response.KeepAlive()) CloseConnection();
    try {
        PollPeerClosed(false);
    } catch (const ENetSocketError&) {
        // A kept connection the server reset while it lay idle is just gone.
        CloseConnection();
    }
    if (IsConnected()) return true;
    try {
        OpenConnection(ConnectTimeout);
    } catch (const ENetSSLProtocolReplyError&) {
        CloseConnection();
        throw;
    }
    // Opening clears the connection's own interrupt mark; one that came
    // just before must still end this call.
    raiseIfInterrupted();
    return false;
}

void TNetCustomHTTP::OpenTunnel() {
    TNetHTTPProtocol tunnel(*this);
    TNetMemoryStream scratch;
    const TNetHTTPRequest& real = protocol_->Request;
    tunnel.Request.UserAgent = real.UserAgent;
    tunnel.Request.Host = real.Host;
    tunnel.Request.SetContentLength(real.ContentLength());
    tunnel.Request.Pragma = "no-cache";
    tunnel.Request.URL = uri_.Host + ":" + uri_.Port;
    tunnel.Request.Method = hmConnect;
    tunnel.Request.ProxyConnection = "keep-alive";
    tunnel.Response.ContentStream = &scratch;
    for (;;) {
        EnsureConnected(tunnel.Response);
        exchangeComplete_ = false;
        SendRequestHead(tunnel, nullptr);
        const std::string line = ReadLine(kLF);
        if (!line.empty()) {
            HeadBudget budget;
            budget.take(line, false);
            tunnel.Response.SetStatusLine(line);
            ReceiveHeaders(tunnel, budget);
            TakeCookies(tunnel);
        } else {
            tunnel.Response.SetStatusLine("HTTP/1.0 200 OK");
            tunnel.Response.RawHeaders.clear();
            tunnel.Response.RawHeaders.SetHeaderValue("Connection", "close");
            tunnel.Response.ParseRawHeaders();
        }
        if (tunnel.Response.StatusCode() == 200) break;
        tunnel.DecideNext();
    }
    exchangeComplete_ = true;
    if (auto* tls = dynamic_cast<TNetTlsTransport*>(IOHandler())) tls->SetPassThrough(false);
}

void TNetCustomHTTP::SendRequestHead(TNetHTTPProtocol& protocol, TNetURI* uri) {
    TNetHTTPRequest& request = protocol.Request;
    request.BuildRawHeaders();
    if (TNetAuthentication* proxyAuth = proxyParams_.Authentication.get()) {
        const std::string value = proxyAuth->headerValue();
        if (!value.empty()) request.RawHeaders.SetHeaderValue("Proxy-Authorization", value);
    } else if (proxyParams_.BasicAuthentication) {
        auto basic = std::make_shared<TNetBasicAuthentication>();
        basic->setUsername(proxyParams_.ProxyUsername);
        basic->setPassword(proxyParams_.ProxyPassword);
        request.RawHeaders.SetHeaderValue("Proxy-Authorization", basic->headerValue());
        proxyParams_.Authentication = std::move(basic);
    }
    if (uri) AttachCookies(request, *uri);

    std::string requestLine = methodWord(request.Method) + request.URL;
    requestLine += ProtocolVersion == pv1_0 ? " HTTP/1.0" : " HTTP/1.1";
    BeginWriteBuffering(-1);
    try {
        WriteLine(requestLine);
        const TNetHeaderList& headers = request.RawHeaders;
        for (int i = 0; i < headers.count(); ++i)
            if (!headers[i].empty()) WriteLine(headers[i]);
        WriteLine("");
    } catch (...) {
        CancelWriteBuffering();
        throw;
    }
    EndWriteBuffering();
}

void TNetCustomHTTP::ReceiveHeaders(TNetHTTPProtocol& protocol, HeadBudget& budget) {
    TNetHeaderList& raw = protocol.Response.RawHeaders;
    raw.clear();
    try {
        for (std::string line = ReadLine(kLF); !line.empty(); line = ReadLine(kLF)) {
            budget.take(line, true);
            raw.add(std::move(line));
        }
        budget.take({}, false);  // the blank line that ends the head
    } catch (const ENetConnClosedGracefully&) {
        CloseConnection();
    }
    protocol.Response.ParseRawHeaders();
}

void TNetCustomHTTP::TakeCookies(TNetHTTPProtocol& protocol) {
    if (!cookieManager_ && AllowCookies) {
        ownedCookieManager_ = std::make_unique<TNetCookieManager>();
        cookieManager_ = ownedCookieManager_.get();
        cookieManager_->FreeNotification(this);
    }
    if (!cookieManager_) return;
    std::vector<std::string> cookies, cookies2;
    const TNetHeaderList& raw = protocol.Response.RawHeaders;
    raw.ExtractValues("Set-cookie", &cookies);
    raw.ExtractValues("Set-cookie2", &cookies2);
    for (const std::string& text : cookies) cookieManager_->TakeSetCookie(text, uri_.Host);
    for (const std::string& text : cookies2) cookieManager_->TakeSetCookie2(text, uri_.Host);
}

void TNetCustomHTTP::AttachCookies(TNetHTTPRequest& request, TNetURI& uri) {
    if (!cookieManager_) return;
    // Secure cookies only travel encrypted, not over a TLS transport that
    // merely passes plain bytes through.
    const bool encrypted = request.RouteKind == rkTls || request.RouteKind == rkTlsProxy;
    const std::string text = cookieManager_->CookieHeaderText(uri, encrypted);
    // One line whatever its length: servers may refuse a folded Cookie header.
    if (!text.empty()) request.RawHeaders.SetHeaderValueUnfolded("Cookie", text);
}

void TNetCustomHTTP::SetHost(const std::string& host) {
    TNetTCPClient::SetHost(host);
    uri_.Host = host;
}

void TNetCustomHTTP::SetPort(int port) {
    TNetTCPClient::SetPort(port);
    uri_.Port = std::to_string(port);
}

void TNetCustomHTTP::SetRequest(const TNetRequestHeaderInfo& request) {
    protocol_->Request.Assign(request);
}

void TNetCustomHTTP::SetCookieManager(TNetCookieManager* manager) {
    if (manager == cookieManager_) return;
    if (cookieManager_) cookieManager_->RemoveFreeNotification(this);
    ownedCookieManager_.reset();
    cookieManager_ = manager;
    if (cookieManager_) cookieManager_->FreeNotification(this);
}

void TNetCustomHTTP::Notification(TNetBaseComponent* component) {
    if (component == cookieManager_) cookieManager_ = nullptr;
    TNetTCPClient::Notification(component);
}

void TNetCustomHTTP::DoOnDisconnected() {
    TNetHTTPRequest& request = protocol_->Request;
    if (request.Authentication && request.Authentication->stepsCompleted())
        request.Authentication.reset();
    if (TNetAuthentication* auth = proxyParams_.Authentication.get(); auth && auth->stepsCompleted())
        auth->reset();
    TNetTCPClient::DoOnDisconnected();
}

void TNetCustomHTTP::Interrupt() {
    interruptPending_ = true;
    TNetTCPClient::Interrupt();
}

void TNetCustomHTTP::ClearInterrupt() {
    interruptPending_ = false;
    TNetTCPClient::ClearInterrupt();
}

void TNetCustomHTTP::raiseIfInterrupted() {
    if (interruptPending_) throw ENetInterrupted();
}

void TNetCustomHTTP::forgetInterrupt() {
    if (interruptPending_.exchange(false)) TNetTCPClient::ClearInterrupt();
}

std::string TNetHTTPRequest::authorizationValue() {
    if (!Authentication && BasicAuthentication) {
        auto basic = std::make_shared<TNetBasicAuthentication>();
        basic->setUsername(Username);
        basic->setPassword(Password);
        Authentication = std::move(basic);
    }
    return Authentication ? Authentication->headerValue() : std::string{};
}

void ApplyProgramSettings(TNetHTTP& http) {
    // The first call sets the host from its URL.
    http.SetHost("");
    http.SetPort(80);
    http.AuthRetries = 3;
    http.AllowCookies = true;
    http.HandleRedirects = false;
    http.RedirectMaximum = 15;
    http.ProtocolVersion = pv1_1;
    http.HTTPOptions = hoForceEncodeParams;
    http.ProxyParams().Clear();
    http.ProxyParams().BasicAuthentication = false;
    TNetHTTPRequest& request = http.Request();
    request.Accept = "text/html, */*";
    request.UserAgent = "Mozilla/3.0 (compatible; BrelvoMP3)";
    request.BasicAuthentication = false;
    request.SetContentLength(0);
    request.ContentRangeStart = 0;
    request.ContentRangeEnd = 0;
    http.ConnectTimeout = 0;
    http.SetMaxLineAction(maException);
    // The window's handler for a new connection does nothing.
    http.OnConnected = [](TNetBaseComponent*) {};
}

}  // namespace net
