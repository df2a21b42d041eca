#include "http/NetCookie.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "http/NetURI.h"

namespace net {

// ---- attribute items -------------------------------------------------------

namespace {

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        lines.emplace_back(text.substr(start, end - start));
        if (end < text.size()) end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
        start = end;
    }
    return lines;
}

}  // namespace

std::vector<std::string> CookieItems::split(std::string_view text) {
    std::vector<std::string> items;
    std::string rest(text);
    while (textPos(";", rest) > 0) items.push_back(trim(CutToken(rest, ";")));
    if (items.empty()) return linesOf(text);
    if (!rest.empty()) items.push_back(trim(rest));
    return items;
}

CookieItems::CookieItems(std::vector<std::string> attributeItems) : items_(std::move(attributeItems)) {}

std::string CookieItems::value(std::string_view upperName, bool* found) const {
    for (const std::string& item : items_) {
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos && sameText(std::string_view(item).substr(0, eq), upperName)) {
            if (found != nullptr) *found = true;
            return item.substr(eq + 1);
        }
    }
    if (found != nullptr) *found = false;
    return {};
}

bool CookieItems::hasFlag(std::string_view upperFlag) const {
    return std::any_of(items_.begin(), items_.end(), [&](const std::string& item) {
        return item.find('=') == std::string::npos && sameText(item, upperFlag);
    });
}

// ---- host rules --------------------------------------------------------------

namespace {

bool isDottedIPv4(std::string_view text) {
    std::string rest(text);
    for (int part = 0; part < 4; ++part) {
        if (part < 3 && rest.find('.') == std::string::npos) return false;
        std::string field = trim(CutToken(rest, "."));
        std::uint32_t number = 0;
        if (!tryStrToUInt32(field, number) || number > 255) return false;
    }
    return true;
}

bool isHostName(std::string_view text) { return !isDottedIPv4(text) && !(text.size() > 0 && text[0] == '.'); }

// The host from its first "." on; the whole host when it has none.
std::string_view domainPartOf(std::string_view host) {
    const std::size_t dot = host.find('.');
    return dot == std::string_view::npos ? host : host.substr(dot);
}

// A cookie for domain goes to the domain itself (one leading dot aside) and
// to hosts under it, never to a host that merely contains the domain text.
bool hostInDomain(std::string_view host, std::string_view domain) {
    if (!domain.empty() && domain[0] == '.') domain.remove_prefix(1);
    if (domain.empty()) return false;
    if (sameText(host, domain)) return true;
    if (host.size() <= domain.size()) return false;
    const std::size_t tail = host.size() - domain.size();
    return host[tail - 1] == '.' && sameText(host.substr(tail), domain);
}

std::int64_t secondsUntil(TDateTime when, TDateTime now) {
    const double seconds = std::trunc((when - now) * kSecondsPerDay);
    constexpr auto kMax = static_cast<double>(std::numeric_limits<std::int64_t>::max() / 2);
    return static_cast<std::int64_t>(std::clamp(seconds, -kMax, kMax));
}

// The latest moment an expiry date can name.
TDateTime lastExpiry() {
    TDateTime day = 0;
    tryEncodeDate(9999, 12, 31, day);
    return day + 86399.0 / kSecondsPerDay;
}

}  // namespace

// ---- Netscape cookie -------------------------------------------------------

void TNetNetscapeCookie::SetCookieText(std::string_view text) {
    if (text == cookieText_) return;
    cookieText_ = std::string(text);
    std::vector<std::string> items = CookieItems::split(text);
    const std::string first = items.empty() ? std::string() : items.front();
    if (!items.empty()) items.erase(items.begin());
    const std::size_t eq = first.find('=');
    if (eq == std::string::npos) {
        name.clear();
        value.clear();
    } else {
        name = first.substr(0, eq);
        value = first.substr(eq + 1);
    }
    readAttributes(CookieItems(std::move(items)));
}

void TNetNetscapeCookie::readAttributes(const CookieItems& items) {
    path = items.value("PATH");
    if (!path.empty() && path.front() == '"') path.erase(0, 1);
    if (!path.empty() && path.back() == '"') path.pop_back();
    setExpires(items.value("EXPIRES"));
    domain = items.value("DOMAIN");
    secure = items.hasFlag("SECURE");
}

void TNetNetscapeCookie::setExpires(std::string text) { expires_ = std::move(text); }

void TNetNetscapeCookie::appendPart(std::string& text, std::string_view word, std::string_view field) const {
    if (field.empty()) return;
    if (!text.empty()) text += "; ";
    text += word;
    text += '=';
    text += field;
}

std::string TNetNetscapeCookie::textForm() const {
    std::string text;
    appendPart(text, name, value);
    appendPart(text, "path", path);
    if (versionKind == kCookieNetscape) appendPart(text, "expires", expires_);
    appendPart(text, "domain", domain);
    if (secure) text += text.empty() ? "secure" : "; secure";
    return text;
}

bool TNetNetscapeCookie::IsValidFor(std::string_view host) const {
    if (isDottedIPv4(host)) return domain == host;
    if (isHostName(host)) return isHostName(domain) ? domain == host : domain == domainPartOf(host);
    return sameText(domain, domainPartOf(host));
}

bool TNetNetscapeCookie::domainMatches(std::string_view host) const { return hostInDomain(host, domain); }

void TNetNetscapeCookie::takeFieldsFrom(const TNetNetscapeCookie& newer) {
    if (&newer == this) return;
    cookieText_ = newer.cookieText_;
    name = newer.name;
    value = newer.value;
    domain = newer.domain;
    path = newer.path;
    expires_ = newer.expires_;
    secure = newer.secure;
    versionKind = newer.versionKind;
}

// ---- RFC 2109 cookie -------------------------------------------------------

void TNetCookieRFC2109::setExpires(std::string text) {
    if (!text.empty()) {
        try {
            maxAge = secondsUntil(ParseHttpDate(text), nowLocal());
        } catch (const ENetException&) {
            // Without the zone information the date keeps its text only.
        }
    }
    TNetNetscapeCookie::setExpires(std::move(text));
}

void TNetCookieRFC2109::readAttributes(const CookieItems& items) {
    TNetNetscapeCookie::readAttributes(items);
    if (!tryStrToInt64(items.value("MAX-AGE"), maxAge)) maxAge = -1;
    version = items.value("VERSION");
    comment = items.value("COMMENT");
    if (expires().empty()) {
        versionKind = kCookieNetscape;
        if (maxAge >= 0) {
            const std::int64_t seconds = maxAge;
            const TDateTime now = nowLocal();
            const TDateTime expiry =
                std::min(now + static_cast<double>(seconds) / kSecondsPerDay, lastExpiry());
            setExpires(FormatHttpDate(expiry, false));
            maxAge = seconds;
        }
    }
}

std::string TNetCookieRFC2109::textForm() const {
    std::string text = TNetNetscapeCookie::textForm();
    if (maxAge >= 0 && expires().empty()) appendPart(text, "max-age", std::to_string(maxAge));
    appendPart(text, "comment", comment);
    appendPart(text, "version", version);
    return text;
}

void TNetCookieRFC2109::takeFieldsFrom(const TNetNetscapeCookie& newer) {
    TNetNetscapeCookie::takeFieldsFrom(newer);
    const auto* other = dynamic_cast<const TNetCookieRFC2109*>(&newer);
    maxAge = other != nullptr ? other->maxAge : -1;
    version = other != nullptr ? other->version : std::string();
    comment = other != nullptr ? other->comment : std::string();
}

// ---- RFC 2965 cookie -------------------------------------------------------

void TNetCookieRFC2965::SetPort(std::int32_t index, std::int32_t port) {
    if (index < 0 || index > static_cast<std::int32_t>(portList.size())) throw ENetException("Index out of range.");
    if (index == static_cast<std::int32_t>(portList.size())) {
        portList.push_back(port);
    } else {
        portList[static_cast<std::size_t>(index)] = port;
    }
}

void TNetCookieRFC2965::readAttributes(const CookieItems& items) {
    TNetCookieRFC2109::readAttributes(items);
    commentURL = items.value("COMMENTURL");
    discard = items.hasFlag("DISCARD");

    constexpr std::int32_t kDefaultPort = 80;
    const std::string ports = items.value("PORT");
    if (ports.empty()) {
        portList = {kDefaultPort};
        return;
    }
    if (ports.size() < 2 || ports.front() != '"' || ports.back() != '"') return;
    std::string inner = trim(std::string_view(ports).substr(1, ports.size() - 2));
    if (inner.empty()) {
        portList = {kDefaultPort};
        return;
    }
    portList.clear();
    std::int32_t index = 0;
    while (true) {
        const bool last = textPos(",", inner) == 0;
        SetPort(index++, strToInt32(trim(CutToken(inner, ","))));
        if (last) break;
    }
}

void TNetCookieRFC2965::takeFieldsFrom(const TNetNetscapeCookie& newer) {
    TNetCookieRFC2109::takeFieldsFrom(newer);
    const auto* other = dynamic_cast<const TNetCookieRFC2965*>(&newer);
    commentURL = other != nullptr ? other->commentURL : std::string();
    discard = other != nullptr && other->discard;
    portList = other != nullptr ? other->portList : std::vector<std::int32_t>();
}

// ---- lock ------------------------------------------------------------------

void ReadWriteLock::lockRead() {
    std::unique_lock<std::mutex> guard(mutex_);
    if (ownsWrite()) {
        ++writeDepth_;
        return;
    }
    changed_.wait(guard, [this] { return writeDepth_ == 0; });
    ++readers_;
}

void ReadWriteLock::unlockRead() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (ownsWrite()) {
        --writeDepth_;
        return;
    }
    if (--readers_ == 0) changed_.notify_all();
}

void ReadWriteLock::lockWrite() {
    std::unique_lock<std::mutex> guard(mutex_);
    if (ownsWrite()) {
        ++writeDepth_;
        return;
    }
    changed_.wait(guard, [this] { return readers_ == 0 && writeDepth_ == 0; });
    writer_ = std::this_thread::get_id();
    writeDepth_ = 1;
}

void ReadWriteLock::unlockWrite() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (--writeDepth_ == 0) {
        writer_ = std::thread::id();
        changed_.notify_all();
    }
}

// ---- store -----------------------------------------------------------------

TNetCookies::~TNetCookies() = default;

TNetCookies::Item& TNetCookies::itemOf(const TNetNetscapeCookie& cookie) {
    const auto it = items_.find(&cookie);
    if (it == items_.end()) throw ENetException("Cookie not in the collection.");
    return it->second;
}

std::int32_t TNetCookies::domainEntry(const std::string& domain) {
    const auto [it, added] = domainPositions_.try_emplace(upperAscii(domain), index_.count());
    if (added) index_.add(domain, std::make_unique<CookieNameList>());
    return it->second;
}

void TNetCookies::noteUse(Item& item) {
    item.lastUse = ++useClock_;
    useOrder_.splice(useOrder_.end(), useOrder_, item.use);
}

void TNetCookies::evictLeastRecentlyUsedOf(CookieNameList& names) {
    TNetNetscapeCookie* oldest = nullptr;
    std::uint64_t oldestUse = 0;
    for (std::int32_t n = 0; n < names.count(); ++n) {
        TNetNetscapeCookie* cookie = names.object(n);
        const std::uint64_t use = itemOf(*cookie).lastUse;
        if (!oldest || use < oldestUse) {
            oldest = cookie;
            oldestUse = use;
        }
    }
    if (oldest) erase(*oldest);
}

void TNetCookies::erase(TNetNetscapeCookie& cookie) {
    const auto it = items_.find(&cookie);
    if (it == items_.end()) return;
    Item& item = it->second;
    if (item.domain >= 0) {
        // The domain entry stays, even when its list becomes empty.
        CookieNameList& names = *index_.object(item.domain);
        for (std::int32_t n = 0; n < names.count(); ++n) {
            if (names.object(n) == &cookie) {
                names.remove(n);
                break;
            }
        }
        useOrder_.erase(item.use);
    }
    items_.erase(it);
}

void TNetCookies::discard(TNetNetscapeCookie& cookie) {
    WriteLock guard(lock_);
    erase(cookie);
}

TNetNetscapeCookie& TNetCookies::StoreCookie(TNetNetscapeCookie& cookie) {
    WriteLock guard(lock_);
    Item& item = itemOf(cookie);
    if (item.domain >= 0) {
        noteUse(item);
        return cookie;
    }
    const std::int32_t d = domainEntry(cookie.domain);
    CookieNameList& names = *index_.object(d);
    const std::int32_t n = names.indexOf(cookie.name);
    if (n >= 0) {
        TNetNetscapeCookie& existing = *names.object(n);
        existing.takeFieldsFrom(cookie);
        erase(cookie);
        noteUse(itemOf(existing));
        return existing;
    }
    if (names.count() >= kMaxCookiesPerDomain) evictLeastRecentlyUsedOf(names);
    names.add(cookie.name, &cookie);
    item.domain = d;
    item.use = useOrder_.insert(useOrder_.end(), &cookie);
    item.lastUse = ++useClock_;
    if (useOrder_.size() > static_cast<std::size_t>(kMaxCookies)) erase(*useOrder_.front());
    return cookie;
}

void TNetCookies::removeCookie(TNetNetscapeCookie& cookie) {
    WriteLock guard(lock_);
    erase(cookie);
}

void TNetCookies::RemoveExpiredCookies() {
    WriteLock guard(lock_);
    const TDateTime now = nowLocal();
    for (std::int32_t d = 0; d < index_.count(); ++d) {
        CookieNameList& names = *index_.object(d);
        for (std::int32_t n = names.count() - 1; n >= 0; --n) {
            TNetNetscapeCookie& cookie = *names.object(n);
            if (!cookie.expires().empty() && ParseHttpDate(cookie.expires()) < now) erase(cookie);
        }
    }
}

std::vector<std::pair<std::string, std::string>> TNetCookies::matchingCookies(const TNetURI& uri, bool secure) {
    struct Match {
        std::string path;
        TNetNetscapeCookie* cookie;
    };
    std::vector<Match> byPath;
    // Sending is a use, which reorders the store: the write lock.
    WriteLock guard(lock_);
    for (std::int32_t d = 0; d < index_.count(); ++d) {
        if (!hostInDomain(uri.Host, index_.text(d))) continue;
        const CookieNameList& names = *index_.object(d);
        for (std::int32_t n = names.count() - 1; n >= 0; --n) {
            TNetNetscapeCookie& cookie = *names.object(n);
            if (cookie.path.empty() || textPos(cookie.path, uri.Path) != 1) continue;
            if (cookie.secure && !secure) continue;
            if (cookie.value.empty()) continue;
            // An equal path goes before the entries already there.
            const auto at = std::lower_bound(byPath.begin(), byPath.end(), cookie.path,
                                             [](const Match& m, const std::string& p) { return compareText(m.path, p) < 0; });
            byPath.insert(at, Match{cookie.path, &cookie});
        }
    }
    std::vector<std::pair<std::string, std::string>> result;
    result.reserve(byPath.size());
    for (auto it = byPath.rbegin(); it != byPath.rend(); ++it) {
        result.emplace_back(it->cookie->name, it->cookie->value);
        noteUse(itemOf(*it->cookie));
    }
    return result;
}

std::int32_t TNetCookies::count() const {
    ReadLock guard(lock_);
    return static_cast<std::int32_t>(items_.size());
}

std::int32_t TNetCookies::storedCount() const {
    ReadLock guard(lock_);
    return static_cast<std::int32_t>(useOrder_.size());
}

}  // namespace net
