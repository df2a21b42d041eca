#include "download/TDlInternetOptions.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "download/DlTexts.h"
#include "download/inet/InetConnection.h"
#include "download/inet/InetSession.h"
#include "platform/GbkCodec.h"

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
    UseProxy = other->UseProxy;
    ProxyName = other->ProxyName;
    ProxyPort = other->ProxyPort;
    UseProxyAuth = other->UseProxyAuth;
    ProxyUserName = other->ProxyUserName;
    ProxyPassword = other->ProxyPassword;
    UserAgent = other->UserAgent;
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

void TDlInternetOptions::SplitSchemeAndHost(const std::string& url, std::string& scheme, std::string& host) {
    // Backslashes read as slashes, but not inside a double-byte character.
    std::string text = url;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (platform::isGbkLeadByte(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (text[i] == '\\') {
            text[i] = '/';
        }
    }
    scheme.clear();
    host.clear();
    const std::size_t marker = text.find("://");
    if (marker == std::string::npos) return;
    scheme = text.substr(0, marker);
    const std::size_t start = marker + 3;
    const std::size_t slash = text.find('/', start);
    host = text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (const std::size_t at = host.find('@'); at != std::string::npos) host.erase(0, at + 1);
    if (const std::size_t colon = host.find(':'); colon != std::string::npos) host.erase(colon);
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
