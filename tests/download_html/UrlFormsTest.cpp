// The decoded and normalized URL forms, and finding a link by them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/html/TDlHTMLObject.h"
#include "download/html/UrlNormalForm.h"

namespace {

TEST(UrlForms, Decoding) {
    struct Case {
        std::string url;
        std::string decoded;
    };
    const std::vector<Case> cases = {
        {"a+b", "a b"},
        {"100%%", "100%"},
        {"%%41", "%41"},
        {"%41%62%2B", "Ab+"},
        {"%e4%B8%ad", "\xE4\xB8\xAD"},
        {"%00", std::string(1, '\0')},
        {"ab%", "ab "},
        {"%", " "},
        {"%25%", "% "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(dl::decodeUrl(c.url), c.decoded);
    }
}

TEST(UrlForms, APercentWithoutTwoHexDigitsRaises) {
    for (const std::string url : {"%zz", "a%4g", "a%g4", "%4", "x%4%", "% 1", "%-1", "%+1"}) {
        SCOPED_TRACE(url);
        EXPECT_THROW(dl::decodeUrl(url), dl::UrlDecodeError);
    }
    try {
        dl::decodeUrl("http://h/a%zzb");
        FAIL() << "no exception";
    } catch (const dl::UrlDecodeError& e) {
        EXPECT_STREQ(e.what(), "invalid escape \"%zz\" at byte 11 of the URL \"http://h/a%zzb\"");
    }
}

TEST(UrlForms, NormalizedForm) {
    struct Case {
        std::string url;
        std::string normal;
    };
    const std::vector<Case> cases = {
        {"http://srv1/a/b.gif", "http://srv1/a/b.gif"},
        {"http://u:p@srv1:8080/a/b.gif", "http://srv1:8080/a/b.gif"},
        {"http://srv1:80/a/b.gif", "http://srv1/a/b.gif"},
        {"ftp://srv1:2121/a", "ftp://srv1:2121/a"},
        {"FTP://srv1/pub/x.gif", "ftp://srv1/pub/x.gif"},
        {"http://srv1/a%20b+c.gif", "http://srv1/a b c.gif"},
        {"http://srv1/x.htm?a=1#top", "http://srv1/x.htm?a=1"},
        {"http://srv1/x.htm#top", "http://srv1/x.htm"},
        // The fragment begins at the first "#" after the last "&".
        {"http://srv1/x.htm?a#b&c", "http://srv1/x.htm?a#b&c"},
        {"http://srv1/x.htm?a#b&c#d#e", "http://srv1/x.htm?a#b&c"},
        {"http://srv1/x.htm%23frag", "http://srv1/x.htm"},
        {"http://srv1", "http://srv1/"},
        // Other schemes and what does not split stay decoded.
        {"https://srv1:444/x.gif#f", "https://srv1:444/x.gif#f"},
        {"mailto:a%40b", "mailto:a@b"},
        {"x%20y.gif", "x y.gif"},
        {"http://srv1/a%09b", "http://srv1/a\tb"},
        {"http://srv1/a%00b#f", std::string("http://srv1/a\0b#f", 17)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(dl::normalizeUrl(c.url), c.normal);
    }
}

TEST(UrlForms, FindLinkRaisesOnlyForALinkBeforeTheMatch) {
    dl::TDlHTMLObject page;
    page.loadPage("<img src=a.gif><img src=bad%zz.gif><img src=c.gif><a href=x.htm#s>");
    page.setBaseUrl("http://srv1/d/page.htm");
    EXPECT_EQ(page.findLink("http://srv1/d/a.gif"), 0);
    EXPECT_THROW(page.findLink("http://srv1/d/c.gif"), dl::UrlDecodeError);
    EXPECT_THROW(page.findLink("http://srv1/d/none.gif"), dl::UrlDecodeError);
    EXPECT_THROW(page.normalizedUrl(page.Links()[1]), dl::UrlDecodeError);

    page.Links()[1].setURL("b.gif");
    EXPECT_EQ(page.findLink("http://srv1/d/c.gif"), 2);
    // A link whose absolute URL has a fragment is not found by that URL.
    EXPECT_EQ(page.findLink(page.absoluteUrl(page.Links()[3])), -1);
    EXPECT_EQ(page.findLink("http://srv1/d/x.htm"), 3);

    page.setBaseUrl("http://srv2/");
    EXPECT_EQ(page.findLink("http://srv1/d/c.gif"), -1);
    EXPECT_EQ(page.findLink("http://srv2/c.gif"), 2);
    page.Links().remove(0);
    EXPECT_EQ(page.findLink("http://srv2/c.gif"), 1);
}

}  // namespace
