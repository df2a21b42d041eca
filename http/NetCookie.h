#pragma once
// Cookies as the server sets them ("Set-cookie" and "Set-cookie2") and the
// in-memory store that keeps them for the life of one client, indexed by
// domain and then by name.
#include <condition_variable>
#include <list>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "http/NetGlobal.h"

namespace net {

class TNetURI;

// The attribute items of a cookie text after the name=value pair: flags
// upper-cased ("SECURE"), attributes as upper-cased name "=" value.
class CookieItems {
public:
    // Splits at ";" (items trimmed); a text without ";" gives its lines.
    static std::vector<std::string> split(std::string_view text);
    explicit CookieItems(std::vector<std::string> attributeItems);

    // Value of the first attribute with that name (ignoring case); empty when
    // absent. found tells an absent attribute from an empty one.
    std::string value(std::string_view upperName, bool* found = nullptr) const;
    bool hasFlag(std::string_view upperFlag) const;

private:
    std::vector<std::string> items_;
};

// Version kinds.
inline constexpr int kCookieNetscape = 0;
inline constexpr int kCookieRFC2109 = 1;
inline constexpr int kCookieRFC2965 = 2;

class TNetNetscapeCookie {
public:
    TNetNetscapeCookie() = default;
    virtual ~TNetNetscapeCookie() = default;
    TNetNetscapeCookie(const TNetNetscapeCookie&) = delete;
    TNetNetscapeCookie& operator=(const TNetNetscapeCookie&) = delete;

    // Parses a cookie text; the same text as last time changes nothing.
    // Throw ConversionError for a "Port" entry that is not a number.
    void SetCookieText(std::string_view text);
    const std::string& cookieText() const { return cookieText_; }

    // The cookie written back as "name=value; path=...; ..." (fields that are
    // set only).
    virtual std::string textForm() const;

    // Whether a response from host may set this cookie.
    bool IsValidFor(std::string_view host) const;
    // Whether this cookie goes to a request for host: host equal to the domain
    // (without one leading dot) or ending in "." + that domain.
    bool domainMatches(std::string_view host) const;

    const std::string& expires() const { return expires_; }
    virtual void setExpires(std::string text);

    // Takes every attribute of a newer cookie with the same domain and name.
    virtual void takeFieldsFrom(const TNetNetscapeCookie& newer);

    std::string name;
    std::string value;
    std::string domain;
    std::string path;
    bool secure = false;
    int versionKind = kCookieNetscape;

protected:
    virtual void readAttributes(const CookieItems& items);
    void appendPart(std::string& text, std::string_view word, std::string_view field) const;

private:
    std::string cookieText_;
    std::string expires_;
};

class TNetCookieRFC2109 : public TNetNetscapeCookie {
public:
    TNetCookieRFC2109() { versionKind = kCookieRFC2109; }

    std::string textForm() const override;
    // A non-empty date also sets maxAge to the seconds from now until it.
    void setExpires(std::string text) override;
    void takeFieldsFrom(const TNetNetscapeCookie& newer) override;

    std::int64_t maxAge = -1;
    std::string version;
    std::string comment;

protected:
    void readAttributes(const CookieItems& items) override;
};

class TNetCookieRFC2965 : public TNetCookieRFC2109 {
public:
    TNetCookieRFC2965() { versionKind = kCookieRFC2965; }

    void takeFieldsFrom(const TNetNetscapeCookie& newer) override;
    // Stores a port at index (at most one past the end); throw ENetException
    // "Index out of range." otherwise.
    void SetPort(std::int32_t index, std::int32_t port);

    std::string commentURL;
    bool discard = false;
    std::vector<std::int32_t> portList;

protected:
    void readAttributes(const CookieItems& items) override;
};

// Many readers or one writer; the writing thread may lock again (for reading
// or writing) without blocking itself.
class ReadWriteLock {
public:
    void lockRead();
    void unlockRead();
    void lockWrite();
    void unlockWrite();

private:
    bool ownsWrite() const { return writeDepth_ > 0 && writer_ == std::this_thread::get_id(); }

    std::mutex mutex_;
    std::condition_variable changed_;
    int readers_ = 0;
    int writeDepth_ = 0;
    std::thread::id writer_;
};

class ReadLock {
public:
    explicit ReadLock(ReadWriteLock& lock) : lock_(lock) { lock_.lockRead(); }
    ~ReadLock() { lock_.unlockRead(); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    ReadWriteLock& lock_;
};

class WriteLock {
public:
    explicit WriteLock(ReadWriteLock& lock) : lock_(lock) { lock_.lockWrite(); }
    ~WriteLock() { lock_.unlockWrite(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    ReadWriteLock& lock_;
};

// An unsorted list of texts, compared ignoring case, in insertion order, each
// carrying an object.
template <class Object>
class TNetCookieList {
public:
    std::int32_t indexOf(std::string_view text) const {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (sameText(entries_[i].first, text)) return static_cast<std::int32_t>(i);
        return -1;
    }
    std::int32_t add(std::string text, Object object) {
        entries_.emplace_back(std::move(text), std::move(object));
        return static_cast<std::int32_t>(entries_.size() - 1);
    }
    void remove(std::int32_t i) { entries_.erase(entries_.begin() + i); }
    std::int32_t count() const { return static_cast<std::int32_t>(entries_.size()); }
    bool empty() const { return entries_.empty(); }
    const std::string& text(std::int32_t i) const { return entries_.at(static_cast<std::size_t>(i)).first; }
    Object& object(std::int32_t i) { return entries_.at(static_cast<std::size_t>(i)).second; }
    const Object& object(std::int32_t i) const { return entries_.at(static_cast<std::size_t>(i)).second; }

private:
    std::vector<std::pair<std::string, Object>> entries_;
};

using CookieNameList = TNetCookieList<TNetNetscapeCookie*>;
using CookieDomainIndex = TNetCookieList<std::unique_ptr<CookieNameList>>;

// The store: owns every cookie (the collection) and indexes the stored ones
// by domain, then by name. Finding a domain goes through a hash of its
// upper-cased text and a domain holds a bounded number of names, so storing
// a cookie takes constant time on average however many are stored. At most
// kMaxCookiesPerDomain cookies stay per domain and kMaxCookies in all;
// beyond either the least recently used go first (storing, replacing and
// sending a cookie count as uses).
class TNetCookies {
public:
    static constexpr std::int32_t kMaxCookiesPerDomain = 50;
    static constexpr std::int32_t kMaxCookies = 3000;

    TNetCookies() = default;
    ~TNetCookies();
    TNetCookies(const TNetCookies&) = delete;
    TNetCookies& operator=(const TNetCookies&) = delete;

    // A new, empty cookie item of class Cookie.
    template <class Cookie>
    Cookie& add() {
        auto cookie = std::make_unique<Cookie>();
        Cookie& ref = *cookie;
        WriteLock guard(lock_);
        items_.emplace(&ref, Item{std::move(cookie)});
        return ref;
    }
    // Takes a cookie out of the collection (and the index) and frees it.
    void discard(TNetNetscapeCookie& cookie);
    // Indexes cookie under its domain and name; an existing cookie of the
    // same domain and name takes the new one's fields and keeps its place,
    // and the new one is freed. Returns the cookie that holds the data.
    TNetNetscapeCookie& StoreCookie(TNetNetscapeCookie& cookie);
    // Frees a stored cookie and its index entry.
    void removeCookie(TNetNetscapeCookie& cookie);
    // Frees every cookie whose expiry date has passed (or does not parse).
    void RemoveExpiredCookies();
    // The cookies a request to uri carries, in header order: greater paths
    // first, then domains in index order, then newest name first. Name and
    // value of each; each counts as used.
    std::vector<std::pair<std::string, std::string>> matchingCookies(const TNetURI& uri, bool secure);

    // Cookies in the collection.
    std::int32_t count() const;
    // Cookies in the index.
    std::int32_t storedCount() const;
    ReadWriteLock& lock() { return lock_; }
    // Callers hold the lock while they walk the index.
    const CookieDomainIndex& index() const { return index_; }

private:
    using UseOrder = std::list<TNetNetscapeCookie*>;
    struct Item {
        std::unique_ptr<TNetNetscapeCookie> cookie;
        // Where the cookie is indexed and used; domain -1 until stored.
        std::int32_t domain = -1;
        UseOrder::iterator use{};
        std::uint64_t lastUse = 0;
    };

    Item& itemOf(const TNetNetscapeCookie& cookie);
    std::int32_t domainEntry(const std::string& domain);
    void noteUse(Item& item);
    void evictLeastRecentlyUsedOf(CookieNameList& names);
    // Takes the cookie out of the index and the collection and frees it.
    void erase(TNetNetscapeCookie& cookie);

    mutable ReadWriteLock lock_;
    std::unordered_map<const TNetNetscapeCookie*, Item> items_;
    CookieDomainIndex index_;
    // Position in index_ of each domain, by its upper-cased text.
    std::unordered_map<std::string, std::int32_t> domainPositions_;
    // Stored cookies, least recently used first.
    UseOrder useOrder_;
    std::uint64_t useClock_ = 0;
};

}  // namespace net
