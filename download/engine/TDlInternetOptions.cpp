#include "download/engine/TDlInternetOptions.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "download/inet/InetConnection.h"
#include "download/inet/InetSession.h"
#include "download/texts/DlTexts.h"
#include "download/values/AddressText.h"
#include "download/values/AsciiCase.h"

namespace dl {

namespace {

std::mutex& queryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<bool()>& connectedStateQuery() {
    static std::function<bool()> query;
    return query;
}

}  // namespace

void TDlInternetOptions::Assign(const TDlPersistent& source) {
    const auto* other = dynamic_cast<const TDlInternetOptions*>(&source);
    if (!other) {
        TDlPersistent::Assign(source);
        return;
    }
    if (other == this) return;
    ConnectRetries = other->ConnectRetries;
    ConnectTimeout = other->ConnectTimeout;
    DataTimeout = other->DataTimeout;
    LowSpeedLimit = other->LowSpeedLimit;
    LowSpeedTime = other->LowSpeedTime;
    UseProxy = other->UseProxy;
    ProxyName = other->ProxyName;
    ProxyPort = other->ProxyPort;
    UseProxyAuth = other->UseProxyAuth;
    ProxyUserName = other->ProxyUserName;
    ProxyPassword = other->ProxyPassword;
    UserAgent = other->UserAgent;
    RateLimit = other->RateLimit;
    ModemConnection = other->ModemConnection;
    UseDefaultOptions = other->UseDefaultOptions;
    AutoDial = other->AutoDial;
    AutoClose = other->AutoClose;
    UseIEDUNSettings = other->UseIEDUNSettings;
    DUN = other->DUN;
    UseDefaultBrowser = other->UseDefaultBrowser;
    ForceInternetCheck = other->ForceInternetCheck;
    OnInteractiveEvent = other->OnInteractiveEvent;
}

bool TDlInternetOptions::IsConnectedToInternet() {
    std::lock_guard lock(queryMutex());
    return connectedStateQuery() ? connectedStateQuery()() : true;
}

void TDlInternetOptions::SetConnectedStateQuery(std::function<bool()> query) {
    std::lock_guard lock(queryMutex());
    connectedStateQuery() = std::move(query);
}

bool TDlInternetOptions::IsLocalURL(const std::string& url) {
    std::string scheme, host;
    SplitSchemeAndHost(url, scheme, host);
    return scheme.empty() || SameText(scheme, "FILE") || SameText(host, "localhost") ||
           SameText(host, "127.0.0.1");
}

void TDlInternetOptions::ApplyInternetOptions(inet::Session& handle, const TDlInternetOptions& options) {
    handle.setConnectRetries(options.ConnectRetries);
    handle.setConnectTimeout(options.ConnectTimeout);
    handle.setDataTimeout(options.DataTimeout);
    handle.setLowSpeedLimit(options.LowSpeedLimit, options.LowSpeedTime);
    if (options.UseProxy) {
        handle.setProxy(inet::AccessType::NamedProxy, options.ProxyName + ":" + std::to_string(options.ProxyPort));
    } else {
        handle.setProxy(inet::AccessType::Direct, "");
    }
}

void TDlInternetOptions::ApplyProxyCredentials(inet::Connection& connection, const TDlInternetOptions& options) {
    if (options.UseProxy && options.UseProxyAuth)
        connection.setProxyCredentials(options.ProxyUserName, options.ProxyPassword);
}

bool TDlInternetOptions::HangUpAfterRun(const TDlInternetOptions& options) {
    // A dial-up connection made for the run would be hung up here. Linux gives
    // a program no dial-up connection of its own, so a fresh dial-up handle is
    // never connected and there is nothing to hang up.
    return options.ModemConnection && options.AutoDial && options.AutoClose;
}

}  // namespace dl
