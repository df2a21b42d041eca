#include "http/NetCookieManager.h"

#include "http/NetURI.h"

namespace net {

TNetCookieManager::TNetCookieManager(TOnManagerEvent onCreate) : cookies_(std::make_unique<TNetCookies>()) {
    if (onCreate) onCreate(*this, *cookies_);
}

TNetCookieManager::~TNetCookieManager() {
    // A destructor cannot report: a failing clean-up or handler is dropped.
    try {
        cookies_->RemoveExpiredCookies();
    } catch (...) {
    }
    try {
        if (OnDestroy) OnDestroy(*this, *cookies_);
    } catch (...) {
    }
}

void TNetCookieManager::TakeSetCookie(std::string_view text, std::string_view host) {
    AcceptCookie(cookies_->add<TNetCookieRFC2109>(), text, host);
}

void TNetCookieManager::TakeSetCookie2(std::string_view text, std::string_view host) {
    AcceptCookie(cookies_->add<TNetCookieRFC2965>(), text, host);
}

void TNetCookieManager::AcceptCookie(TNetNetscapeCookie& cookie, std::string_view text, std::string_view host) {
    bool accept = true;
    try {
        cookie.SetCookieText(text);
        if (cookie.domain.empty()) cookie.domain = std::string(host);
        accept = cookie.IsValidFor(host);
        if (accept && OnNewCookie) OnNewCookie(*this, cookie, accept);
    } catch (...) {
        // A cookie that failed to parse must not linger unindexed.
        cookies_->discard(cookie);
        throw;
    }
    if (accept) {
        cookies_->StoreCookie(cookie);
    } else {
        cookies_->discard(cookie);
    }
}

std::string TNetCookieManager::CookieHeaderText(const TNetURI& uri, bool secure) {
    cookies_->RemoveExpiredCookies();
    std::string text;
    for (const auto& [name, value] : cookies_->matchingCookies(uri, secure)) {
        if (!text.empty()) text += "; ";
        text += name;
        text += '=';
        text += value;
    }
    return text;
}

}  // namespace net
