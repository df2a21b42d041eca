#pragma once
// Keeps the cookies a client receives and gives back the "Cookie" header
// value for each request. Lives in memory only, for the life of the client.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/NetComponent.h"
#include "http/NetCookie.h"

namespace net {

class TNetURI;
class TNetCookieManager;

using TOnManagerEvent = std::function<void(TNetCookieManager& sender, TNetCookies& cookieCollection)>;
using TOnNewCookieEvent =
    std::function<void(TNetCookieManager& sender, TNetNetscapeCookie& cookie, bool& accept)>;

// A part clients reference: one that asked with FreeNotification forgets the
// manager when it is destroyed.
class TNetCookieManager : public TNetBaseComponent {
public:
    // onCreate runs once the store exists.
    explicit TNetCookieManager(TOnManagerEvent onCreate = {});
    // Drops expired cookies, fires OnDestroy, then frees the store.
    ~TNetCookieManager() override;
    TNetCookieManager(const TNetCookieManager&) = delete;
    TNetCookieManager& operator=(const TNetCookieManager&) = delete;

    // One "Set-cookie" value received from host.
    void TakeSetCookie(std::string_view text, std::string_view host);
    // One "Set-cookie2" value; throw ConversionError for a bad port list.
    void TakeSetCookie2(std::string_view text, std::string_view host);

    // The "Cookie" header value for a request to uri (secure: over TLS);
    // empty when no cookie matches. Drops expired cookies first.
    std::string CookieHeaderText(const TNetURI& uri, bool secure);

    TNetCookies& CookieCollection() { return *cookies_; }

    TOnManagerEvent OnDestroy;
    TOnNewCookieEvent OnNewCookie;

private:
    void AcceptCookie(TNetNetscapeCookie& cookie, std::string_view text, std::string_view host);

    std::unique_ptr<TNetCookies> cookies_;
};

}  // namespace net
