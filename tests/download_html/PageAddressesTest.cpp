#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/html/PageAddresses.h"

TEST(PageAddresses, OneResourceOneKeyAndOnlyTheWeb) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const std::vector<Case> cases = {
        {"http://h/a.htm", "HTTP://H/a.htm", true},
        {"http://h/a.htm", "http://h:80/a.htm", true},
        {"https://h/a.htm", "https://h:443/a.htm", true},
        {"http://h/a.htm", "https://h/a.htm", false},
        {"http://h/a.htm", "http://h:8080/a.htm", false},
        {"http://h/a.htm#top", "http://h/a.htm", true},
        {"http://h/%61.htm", "http://h/a.htm", true},
        {"http://h/a%2fb", "http://h/a%2Fb", true},
        {"http://h/a%2fb", "http://h/a/b", false},
        {"http://h", "http://h/", true},
        {"http://h/A.htm", "http://h/a.htm", false},
        {"http://h/a?x=1", "http://h/a?x=2", false},
        {"http://user:pw@h/a", "http://h/a", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        const auto a = dl::FetchKey(c.a);
        const auto b = dl::FetchKey(c.b);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(*a == *b, c.same);
    }
    for (const char* other : {"file:///etc/passwd", "ftp://h/x", "javascript:alert(1)", "mailto:a@b", "", "a.htm"}) {
        EXPECT_FALSE(dl::FetchKey(other)) << other;
        dl::FetchedAddresses fetched;
        EXPECT_FALSE(fetched.Claim(other)) << other;
    }
    dl::FetchedAddresses fetched;
    EXPECT_TRUE(fetched.Claim("http://h/a.htm"));
    EXPECT_FALSE(fetched.Claim("http://H:80/a.htm#x"));
    fetched.Add("http://h/b.htm");
    EXPECT_TRUE(fetched.Contains("http://h/b.htm"));
    EXPECT_EQ(fetched.size(), 2u);
}
