// Building and sending the request: the target resolved against the working
// URI, the route and its connection, and the request head on the wire.
#include <string>
#include <string_view>

#include "http/NetHTTP.h"

namespace net {

namespace {

// A TCP port given as text in a URL.
int portNumberOf(const std::string& text) {
    std::int32_t port = 0;
    if (!tryStrToInt32(text, port) || port < 1 || port > 65535)
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

// The target as the request line carries it. A blank would end the target
// early and a control byte make the line invalid, so each goes as %XX; every
// other byte, "%" and GBK bytes included, goes as given. Applying it twice
// changes nothing.
std::string requestTarget(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string target;
    target.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            target += '%';
            target += kHex[byte >> 4];
            target += kHex[byte & 0x0F];
        } else {
            target += c;
        }
    }
    return target;
}

}  // namespace

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
    } else if (sameText(target.Protocol, "http")) {
        uri_.Port = "80";
    } else if (sameText(target.Protocol, "https")) {
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
    const bool https = sameText(uri_.Protocol, "HTTPS");
    auto* tls = dynamic_cast<TNetTlsTransport*>(IOHandler());
    if (proxyParams_.ProxyServer().empty()) {
        const int port = portNumberOf(uri_.Port);
        if (!sameText(Host(), uri_.Host) || Port() != port) {
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
    if ((!sameText(Host(), proxyParams_.ProxyServer()) || Port() != proxyParams_.ProxyPort()) &&
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
    if (!canReuseConnection(response)) CloseConnection();
    try {
        PollPeerClosed(false);
    } catch (const ENetSocketError&) {
        // A kept connection the server reset while it lay idle is just gone.
        CloseConnection();
    }
    // Bytes that came since the last answer were asked for by no request:
    // read now, they would pass for the answer to this one.
    if (InputBuffer().Size() > 0) CloseConnection();
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
        std::string line = readStatusLine(false);
        if (!line.empty()) {
            readFinalResponse(tunnel, std::move(line));
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

    request.URL = requestTarget(request.URL);
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

void TNetCustomHTTP::AttachCookies(TNetHTTPRequest& request, TNetURI& uri) {
    if (!cookieManager_) return;
    // Secure cookies only travel encrypted, not over a TLS transport that
    // merely passes plain bytes through.
    const bool encrypted = request.RouteKind == rkTls || request.RouteKind == rkTlsProxy;
    const std::string text = cookieManager_->CookieHeaderText(uri, encrypted);
    // One line whatever its length: servers may refuse a folded Cookie header.
    if (!text.empty()) request.RawHeaders.SetHeaderValueUnfolded("Cookie", text);
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

}  // namespace net
