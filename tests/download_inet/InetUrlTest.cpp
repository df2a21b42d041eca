#include <gtest/gtest.h>

#include "download/inet/InetUrl.h"

using inet::combineUrl;
using inet::crackUrl;

TEST(InetUrl, CrackGivesPiecesAsWritten) {
    struct Case {
        const char* url;
        const char* scheme;
        const char* host;
        const char* user;
        const char* password;
        const char* path;
        const char* extra;
        int port;
    };
    const Case cases[] = {
        {"http://srv1/music/song.mp3", "http", "srv1", "", "", "/music/song.mp3", "", 80},
        {"http://u:p@host:8080/a/b.mp3?id=7#top", "http", "host", "u", "p", "/a/b.mp3", "?id=7#top", 8080},
        {"https://example.org/x/../y%20z.mp3", "https", "example.org", "", "", "/x/../y%20z.mp3", "", 443},
        {"ftp://files.example.org/pub/a.mp3", "ftp", "files.example.org", "", "", "/pub/a.mp3", "", 21},
        {"http://127.0.0.1:5/c d.mp3 ", "http", "127.0.0.1", "", "", "/c d.mp3 ", "", 5},
        {"gopher+x://h/p", "gopher+x", "h", "", "", "/p", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        auto parts = crackUrl(c.url);
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->scheme, c.scheme);
        EXPECT_EQ(parts->host, c.host);
        EXPECT_EQ(parts->userName, c.user);
        EXPECT_EQ(parts->password, c.password);
        EXPECT_EQ(parts->urlPath, c.path);
        EXPECT_EQ(parts->extraInfo, c.extra);
        EXPECT_EQ(parts->port, c.port);
    }
}

TEST(InetUrl, CrackRefusesWhatIsNoAbsoluteUrl) {
    for (const char* url : {"", "song.mp3", "/a/b", "http://", "http://host:99999/"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(crackUrl(url).has_value());
    }
}

TEST(InetUrl, CombineResolvesAgainstTheBase) {
    struct Case {
        const char* base;
        const char* relative;
        const char* expected;
    };
    const Case cases[] = {
        {"http://a/b/c/d;p?q", "g", "http://a/b/c/g"},
        {"http://a/b/c/d;p?q", "../g", "http://a/b/g"},
        {"http://a/b/c/d;p?q", "/g", "http://a/g"},
        {"http://a/b/c/d;p?q", "?y", "http://a/b/c/d;p?y"},
        {"http://a/b/c/d;p?q", "g?y#s", "http://a/b/c/g?y#s"},
        {"http://a/b/page.htm", "http://other/x.jpg", "http://other/x.jpg"},
        {"not a url", "http://other/x.jpg", "http://other/x.jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.base) + " + " + c.relative);
        auto combined = combineUrl(c.base, c.relative);
        ASSERT_TRUE(combined.has_value());
        EXPECT_EQ(*combined, c.expected);
    }
    EXPECT_FALSE(combineUrl("not a url", "x.jpg").has_value());
}
