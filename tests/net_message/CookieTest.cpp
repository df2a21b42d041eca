#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "http/NetCookieManager.h"
#include "http/NetURI.h"

using namespace net;

namespace {

class NetCookies : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
    }

    std::string headerFor(const std::string& url, bool secure = false) {
        return manager.CookieHeaderText(TNetURI(url), secure);
    }
    std::int32_t stored() { return manager.CookieCollection().count(); }

    TNetCookieManager manager;
};

TEST_F(NetCookies, SentBackOnlyWithAMatchingPath) {
    manager.TakeSetCookie("sid=abc; path=/", "h");
    manager.TakeSetCookie("nopath=1", "h");
    manager.TakeSetCookie("doc=2; path=/zsmp3", "h");
    EXPECT_EQ(stored(), 3);
    EXPECT_EQ(headerFor("http://h/zsmp3?ty=1&word=x"), "sid=abc");
    EXPECT_EQ(headerFor("http://h/zsmp3/deeper/x"), "doc=2; sid=abc");
    EXPECT_EQ(headerFor("http://other/zsmp3"), "");
}

TEST_F(NetCookies, ReplacementKeepsOneEntryInPlace) {
    manager.TakeSetCookie("first=1; path=/", "h");
    manager.TakeSetCookie("sid=abc; path=/", "h");
    manager.TakeSetCookie("SID=def; path=/", "h");
    EXPECT_EQ(stored(), 2);
    // Newest name first; the replaced cookie kept its older place.
    EXPECT_EQ(headerFor("http://h/"), "SID=def; first=1");
}

TEST_F(NetCookies, OrderByPathThenDomainThenNewestName) {
    manager.TakeSetCookie("root=1; path=/", "h");
    manager.TakeSetCookie("deep=2; path=/a/", "h");
    manager.TakeSetCookie("also=3; path=/A/", "h");
    EXPECT_EQ(headerFor("http://h/a/x"), "deep=2; root=1");
    EXPECT_EQ(headerFor("http://h/A/x"), "also=3; root=1");

    TNetCookieManager two;
    two.TakeSetCookie("x=1; path=/", "a.example.com");
    two.TakeSetCookie("y=2; path=/; domain=.example.com", "a.example.com");
    two.TakeSetCookie("z=3; path=/", "a.example.com");
    EXPECT_EQ(two.CookieHeaderText(TNetURI("http://a.example.com/"), false), "z=3; x=1; y=2");
}

TEST_F(NetCookies, EmptyValuesAndSecureCookies) {
    manager.TakeSetCookie("sid=; path=/", "h");
    manager.TakeSetCookie("tls=1; path=/; Secure", "h");
    EXPECT_EQ(stored(), 2);
    EXPECT_EQ(headerFor("http://h/"), "");
    EXPECT_EQ(headerFor("https://h/", true), "tls=1");
}

TEST_F(NetCookies, ExpiredCookiesLeaveAtTheNextRequest) {
    manager.TakeSetCookie("old=1; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT", "h");
    manager.TakeSetCookie("gone=1; path=/; max-age=0", "h");
    manager.TakeSetCookie("bad=1; path=/; expires=not a date", "h");
    manager.TakeSetCookie("later=1; path=/; max-age=3600", "h");
    manager.TakeSetCookie("forever=1; path=/; max-age=9223372036854775807", "h");
    EXPECT_EQ(stored(), 5);
    // The max-age 0 expiry is "now" to the second; let the clock move past it.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(headerFor("http://h/"), "forever=1; later=1");
    EXPECT_EQ(stored(), 2);
}

TEST_F(NetCookies, ReplacingWithAPastExpiryDeletesTheCookie) {
    manager.TakeSetCookie("sid=abc; path=/", "h");
    manager.TakeSetCookie("sid=deleted; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT", "h");
    EXPECT_EQ(headerFor("http://h/"), "");
    EXPECT_EQ(stored(), 0);

    manager.TakeSetCookie("k=v; path=/", "h");
    manager.TakeSetCookie("k=; path=/", "h");
    EXPECT_EQ(headerFor("http://h/"), "");
    manager.TakeSetCookie("k=w; path=/", "h");
    EXPECT_EQ(headerFor("http://h/"), "k=w");
    EXPECT_EQ(stored(), 1);
}

TEST_F(NetCookies, EachDomainKeepsItsFiftyMostRecentlyUsed) {
    ASSERT_EQ(TNetCookies::kMaxCookiesPerDomain, 50);
    for (int i = 0; i < 50; ++i)
        manager.TakeSetCookie("c" + std::to_string(i) + "=v; path=" + (i == 1 ? "/" : "/other/"), "h");
    EXPECT_EQ(headerFor("http://h/x"), "c1=v");   // sending is a use
    manager.TakeSetCookie("c0=new; path=/other/", "h");  // and so is replacing
    manager.TakeSetCookie("c50=v; path=/other/", "h");
    manager.TakeSetCookie("c51=v; path=/other/", "h");
    EXPECT_EQ(stored(), 50);
    const std::string header = "; " + headerFor("http://h/other/x") + ";";
    for (const char* kept : {"; c0=new;", "; c1=v;", "; c4=v;", "; c50=v;", "; c51=v;"})
        EXPECT_NE(header.find(kept), std::string::npos) << kept;
    for (const char* evicted : {"; c2=", "; c3="}) EXPECT_EQ(header.find(evicted), std::string::npos) << evicted;
    // Another domain has fifty of its own.
    manager.TakeSetCookie("o=1; path=/", "other");
    EXPECT_EQ(stored(), 51);
}

TEST_F(NetCookies, TheWholeStoreKeepsAtMost3000LeastRecentlyUsedFirst) {
    ASSERT_EQ(TNetCookies::kMaxCookies, 3000);
    for (int d = 0; d <= 60; ++d)
        for (int i = 0; i < 50; ++i)
            manager.TakeSetCookie("c" + std::to_string(i) + "=v; path=/", "host" + std::to_string(d));
    EXPECT_EQ(stored(), 3000);
    EXPECT_EQ(manager.CookieCollection().storedCount(), 3000);
    EXPECT_EQ(headerFor("http://host0/"), "");
    const std::string last = headerFor("http://host60/");
    EXPECT_EQ(std::count(last.begin(), last.end(), '='), 50);
}

TEST_F(NetCookies, HostCheck) {
    const char* host = "search.example.com";
    for (const char* domain : {"search.example.com", ".example.com"}) {
        TNetCookieManager m;
        m.TakeSetCookie(std::string("a=1; domain=") + domain, host);
        EXPECT_EQ(m.CookieCollection().count(), 1) << domain;
    }
    for (const char* domain : {"example.com", ".com", ".Example.com", "other.example.com"}) {
        TNetCookieManager m;
        m.TakeSetCookie(std::string("a=1; domain=") + domain, host);
        EXPECT_EQ(m.CookieCollection().count(), 0) << domain;
    }
    TNetCookieManager ip;
    ip.TakeSetCookie("a=1", "127.0.0.1");
    ip.TakeSetCookie("b=1; domain=.0.0.1", "127.0.0.1");
    EXPECT_EQ(ip.CookieCollection().count(), 1);
}

TEST_F(NetCookies, DomainCookiesGoOnlyToHostsInTheDomain) {
    manager.TakeSetCookie("d=1; path=/; domain=.example.com", "search.example.com");
    for (const char* url : {"http://search.example.com/", "http://WWW.Example.com/", "http://example.com/"})
        EXPECT_EQ(headerFor(url), "d=1") << url;
    for (const char* url : {"http://www.example.com.attacker.net/", "http://notexample.com/", "http://com/"})
        EXPECT_EQ(headerFor(url), "") << url;
}

TEST_F(NetCookies, NewCookieEventMayDecline) {
    int asked = 0;
    manager.OnNewCookie = [&](TNetCookieManager&, TNetNetscapeCookie& cookie, bool& accept) {
        ++asked;
        accept = cookie.name != "no";
    };
    manager.TakeSetCookie("yes=1; path=/", "h");
    manager.TakeSetCookie("no=1; path=/", "h");
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(stored(), 1);
    EXPECT_EQ(headerFor("http://h/"), "yes=1");
}

TEST_F(NetCookies, ManagerEvents) {
    int created = 0;
    int destroyedWith = -1;
    {
        TNetCookieManager m([&](TNetCookieManager&, TNetCookies&) { ++created; });
        m.OnDestroy = [&](TNetCookieManager&, TNetCookies& cookies) { destroyedWith = cookies.count(); };
        m.TakeSetCookie("a=1; expires=Sun, 06 Nov 1994 08:49:37 GMT", "h");
        m.TakeSetCookie("b=1", "h");
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(destroyedWith, 1);  // the expired one was dropped first
}

TEST(NetCookieParsing, FieldsAndTextForm) {
    TNetCookieRFC2109 plain;
    plain.SetCookieText("a=b");
    EXPECT_EQ(plain.name, "a");
    EXPECT_EQ(plain.value, "b");
    EXPECT_EQ(plain.versionKind, kCookieNetscape);

    TNetCookieRFC2109 full;
    full.SetCookieText(
        "sid=x=y; Path=\"/a/\"; DOMAIN=h; secure; Max-Age=60; path=/ignored; Comment=c; Version=1; odd");
    EXPECT_EQ(full.name, "sid");
    EXPECT_EQ(full.value, "x=y");
    EXPECT_EQ(full.path, "/a/");
    EXPECT_EQ(full.domain, "h");
    EXPECT_TRUE(full.secure);
    EXPECT_EQ(full.maxAge, 60);
    EXPECT_FALSE(full.expires().empty());
    EXPECT_EQ(full.versionKind, kCookieNetscape);
    EXPECT_EQ(full.textForm(), "sid=x=y; path=/a/; expires=" + full.expires() + "; domain=h; secure; comment=c; version=1");

    TNetCookieRFC2109 dated;
    dated.SetCookieText("n=v; expires=Thu, 01 Dec 2094 16:00:00 GMT");
    EXPECT_EQ(dated.versionKind, kCookieRFC2109);
    EXPECT_EQ(dated.maxAge, -1);  // set from the date, then from the absent Max-Age
    EXPECT_EQ(dated.textForm(), "n=v");

    TNetCookieRFC2109 noEquals;
    noEquals.SetCookieText("flag; path=/");
    EXPECT_EQ(noEquals.name, "");
    EXPECT_EQ(noEquals.value, "");
    EXPECT_EQ(noEquals.path, "/");

    TNetCookieRFC2109 quote;
    quote.SetCookieText("q=1; path=\"");
    EXPECT_EQ(quote.path, "");
}

TEST(NetCookieParsing, Rfc2965Ports) {
    TNetCookieRFC2965 absent;
    absent.SetCookieText("a=1; Discard; CommentURL=http://c/");
    EXPECT_EQ(absent.portList, (std::vector<std::int32_t>{80}));
    EXPECT_TRUE(absent.discard);
    EXPECT_EQ(absent.commentURL, "http://c/");

    TNetCookieRFC2965 listed;
    listed.SetCookieText("a=1; Port=\"80, 8080\"");
    EXPECT_EQ(listed.portList, (std::vector<std::int32_t>{80, 8080}));
    TNetCookieRFC2965 empty;
    empty.SetCookieText("a=1; Port=\"\"");
    EXPECT_EQ(empty.portList, (std::vector<std::int32_t>{80}));
    TNetCookieRFC2965 unquoted;
    unquoted.SetCookieText("a=1; Port=81");
    EXPECT_TRUE(unquoted.portList.empty());

    try {
        unquoted.SetPort(5, 1);
        FAIL();
    } catch (const ENetException& e) {
        EXPECT_EQ(e.Message(), "Index out of range.");
    }

    TNetCookieManager manager;
    EXPECT_THROW(manager.TakeSetCookie2("a=1; Port=\"80,x\"", "h"), ConversionError);
    EXPECT_EQ(manager.CookieCollection().count(), 0);
    manager.TakeSetCookie2("a=1; Port=\"81\"; path=/", "h");
    EXPECT_EQ(manager.CookieHeaderText(TNetURI("http://h/"), false), "a=1");
}

TEST(NetCookieLock, WriterExcludesReadersAndMayReenter) {
    ReadWriteLock lock;
    std::atomic<bool> readerIn{false};
    std::thread reader;
    {
        WriteLock outer(lock);
        WriteLock inner(lock);
        ReadLock nested(lock);
        reader = std::thread([&] {
            ReadLock guard(lock);
            readerIn = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(readerIn.load());
    }
    reader.join();
    EXPECT_TRUE(readerIn.load());
}

}  // namespace
