// The transaction loop of one call: send, read the head, decide what the
// answer means (done, follow a redirect, answer a challenge, fail with the
// status), and leave the connection open only when it can carry the next
// request.
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "http/NetHTTP.h"

namespace net {

namespace {

// Methods that may be sent twice with the same effect as once.
bool isIdempotent(TNetHTTPMethod method) { return method != hmPost && method != hmConnect; }

}  // namespace

// ---- the loop ------------------------------------------------------------------

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
    if (!canReuseConnection(protocol_->Response)) CloseConnection();
}

bool TNetCustomHTTP::canReuseConnection(TNetHTTPResponse& response) {
    // Bytes after a complete answer (a body its status forbids, more than its
    // length, an answer nobody asked for) would pass for the next answer.
    return exchangeComplete_ && InputBuffer().Size() == 0 && response.KeepAlive();
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
            return readStatusLine(false);
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

// ---- what an answer means ---------------------------------------------------------

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

}  // namespace net
