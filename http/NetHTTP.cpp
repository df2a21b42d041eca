// The client's life, its properties and the program's settings. The parts
// of a call are in NetHTTPTransaction.cpp, NetHTTPSendRequest.cpp,
// NetHTTPReadHead.cpp and NetHTTPReadBody.cpp.
#include "http/NetHTTP.h"

namespace net {

TNetCustomHTTP::TNetCustomHTTP() : protocol_(std::make_unique<TNetHTTPProtocol>(*this)) {
    TNetTCPClient::SetPort(80);
    SetMaxLineAction(maException);
}

TNetCustomHTTP::~TNetCustomHTTP() {
    // Its destruction notice must find the client whole.
    ownedCookieManager_.reset();
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
