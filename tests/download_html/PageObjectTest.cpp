// The page object: which links a page yields, where their values are cut,
// and how the page is written again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/html/TDlHTMLLink.h"
#include "download/html/TDlHTMLObject.h"

namespace {

using dl::TDlHTMLObject;

struct LinkView {
    dl::TDlHTMLLinkType type;
    std::string url;
    std::int32_t sourcePos;
    bool operator==(const LinkView&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LinkView& link) {
    return out << dl::linkTypeName(link.type) << " " << link.url << " @" << link.sourcePos;
}

std::vector<LinkView> linksOf(const TDlHTMLObject& page) {
    std::vector<LinkView> links;
    for (const dl::TDlHTMLLink& link : page.Links()) links.push_back({link.LinkType(), link.URL(), link.SourcePos()});
    return links;
}

std::string regenerate(TDlHTMLObject& page, dl::TDlLinkConversion conversion) {
    page.setLinkConversion(conversion);
    return page.pageText();
}

TEST(PageObject, BodyBackgroundAndFrameBecomeAbsoluteInTheirPlaces) {
    const std::string text =
        "<html><body background=\"img/bg.gif\" text=#000>\r\n"
        "<frameset><FRAME src=../top.htm name=t></frameset></body>";
    TDlHTMLObject page;
    page.loadPage(text);
    page.setBaseUrl("http://srv1/music/page.htm");
    EXPECT_EQ(linksOf(page), (std::vector<LinkView>{{dl::LT_BODY, "img/bg.gif", 25},
                                                    {dl::LT_FRAME, "../top.htm", 60}}));
    // lcOffline is the default: without local copies, links are absolute.
    EXPECT_EQ(page.LinkConversion(), dl::lcOffline);
    EXPECT_EQ(page.pageText(),
              "<html><body background=\"http://srv1/music/img/bg.gif\" text=#000>\r\n"
              "<frameset><FRAME src=http://srv1/top.htm name=t></frameset></body>");
    EXPECT_EQ(regenerate(page, dl::lcOnline), regenerate(page, dl::lcOffline));
    EXPECT_EQ(regenerate(page, dl::lcNone), text);
}

TEST(PageObject, ValuesAreCutExactlyWhateverTheQuoting) {
    const std::string text = "<a href=\"d.htm\">1</a><a href='s.htm'>2</a><a href=u.htm>3</a>";
    TDlHTMLObject page;
    page.loadPage(text);
    EXPECT_EQ(page.HTMLPrototype(), "<a href=\"\">1</a><a href=''>2</a><a href=>3</a>");
    EXPECT_EQ(linksOf(page), (std::vector<LinkView>{{dl::LT_HREF, "d.htm", 10},
                                                    {dl::LT_HREF, "s.htm", 26},
                                                    {dl::LT_HREF, "u.htm", 41}}));
    EXPECT_EQ(regenerate(page, dl::lcNone), text);
}

TEST(PageObject, AttributesThatGiveNoLink) {
    for (const std::string text : {
             "<img src>", "<img src=\"\">", "<img src=''>", "<img src=>", "<img alt=x>", "<img src=a.gif src=''>",
             "<p src=a.gif>", "<!-- <a href=x.htm> -->", "<!-- <a href=x.htm>", "<a href", "<a href=", "<a",
         }) {
        SCOPED_TRACE(text);
        TDlHTMLObject page;
        page.loadPage(text);
        EXPECT_TRUE(page.Links().empty());
        EXPECT_EQ(page.pageText(), text);
    }
}

TEST(PageObject, ARepeatedAttributeKeepsItsLastValue) {
    const std::string text = "<img src=a.gif SRC=\"b.gif\" src=>x<img Src=c.gif src='d.gif'>";
    TDlHTMLObject page;
    page.loadPage(text);
    ASSERT_EQ(page.Links().count(), 1);
    EXPECT_EQ(page.Links()[0].URL(), "d.gif");
    EXPECT_EQ(page.HTMLPrototype(), "<img src=a.gif SRC=\"b.gif\" src=>x<img Src=c.gif src=''>");
    EXPECT_EQ(regenerate(page, dl::lcNone), text);
}

TEST(PageObject, WhatIsLeftOpenAtTheEndStillCuts) {
    struct Case {
        std::string text;
        std::string url;
        std::string prototype;
    };
    const std::vector<Case> cases = {
        {"<a href=\"x.htm", "x.htm", "<a href=\""},
        {"<a href='x.htm\nb", "x.htm", "<a href='\nb"},
        {"<a href=x.htm", "x.htm", "<a href="},
        {"<frame src=x.htm ", "x.htm", "<frame src= "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TDlHTMLObject page;
        page.loadPage(c.text);
        ASSERT_EQ(page.Links().count(), 1);
        EXPECT_EQ(page.Links()[0].URL(), c.url);
        EXPECT_EQ(page.HTMLPrototype(), c.prototype);
        EXPECT_EQ(regenerate(page, dl::lcNone), c.text);
    }
}

TEST(PageObject, TwoImagesOfOneSourceFindTheFirst) {
    TDlHTMLObject page;
    page.loadPage("<a href=other.htm>o</a><img src=\"p.gif\"><img src=p.gif><img src=\"q.gif\">");
    page.setBaseUrl("http://srv1/a/page.htm");
    ASSERT_EQ(page.Links().count(), 4);
    EXPECT_EQ(page.findLink(page.absoluteUrl(page.Links()[2])), 1);
    EXPECT_EQ(page.findLink("http://srv1/a/q.gif"), 3);
    EXPECT_EQ(page.findLink("http://srv1/a/P.gif"), -1);
    EXPECT_EQ(page.findLink("p.gif"), -1);
}

TEST(PageObject, AppletLinksWithTheCodeBaseBeforeAndAfterTheCode) {
    struct Case {
        std::string text;
        std::vector<LinkView> links;
        std::string online;
    };
    const std::vector<Case> cases = {
        {"<applet codebase=\"cls/\" code=Main.class>",
         {{dl::LT_CLASS, "cls/Main.class", 26}, {dl::LT_NONE, "cls/", 19}},
         "<applet codebase=\"http://h/d/cls/\" code=Main.class>"},
        {"<APPLET CODE='Main.class' CodeBase=cls/>",
         {{dl::LT_CLASS, "cls/Main.class", 15}, {dl::LT_NONE, "cls/", 26}},
         "<APPLET CODE='Main.class' CodeBase=http://h/d/cls/>"},
        {"<applet code=Main.class>", {{dl::LT_CLASS, "Main.class", 14}}, "<applet code=Main.class>"},
        {"<applet codebase=cls/>", {{dl::LT_NONE, "cls/", 18}}, "<applet codebase=http://h/d/cls/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TDlHTMLObject page;
        page.loadPage(c.text);
        page.setBaseUrl("http://h/d/page.htm");
        EXPECT_EQ(linksOf(page), c.links);
        for (const dl::TDlHTMLLink& link : page.Links()) {
            if (link.LinkType() == dl::LT_CLASS) continue;
            EXPECT_TRUE(link.Local());
            EXPECT_EQ(link.LocalFile(), "cls/");
        }
        EXPECT_EQ(regenerate(page, dl::lcOnline), c.online);
        EXPECT_EQ(regenerate(page, dl::lcNone), c.text);
        // Offline, the code base is its own relative local file.
        EXPECT_EQ(regenerate(page, dl::lcOffline), c.text);
    }
    TDlHTMLObject page;
    page.loadPage(cases[0].text);
    EXPECT_EQ(page.Links()[0].ClassCode(), "Main.class");
    EXPECT_EQ(page.Links()[0].CodeBase(), "cls/");
}

TEST(PageObject, LinksKeepTheirAddressesWhenRegenerationSortsThem) {
    TDlHTMLObject page;
    page.loadPage("<applet codebase=cls/ code=A.class><img src=b.gif>");
    const dl::TDlHTMLLink* classLink = &page.Links()[0];
    const dl::TDlHTMLLink* image = &page.Links()[2];
    ASSERT_EQ(classLink->LinkType(), dl::LT_CLASS);
    page.pageText();
    EXPECT_EQ(page.Links()[0].LinkType(), dl::LT_NONE);
    EXPECT_EQ(&page.Links()[1], classLink);
    EXPECT_EQ(&page.Links()[2], image);
    EXPECT_EQ(page.Links().indexOf(classLink), 1);
    EXPECT_EQ(page.Links()[1].collection(), &page.Links());
    EXPECT_EQ(page.Links().owner(), &page);

    // Across many blocks and a removal.
    std::vector<dl::TDlHTMLLink*> added;
    for (int i = 0; i < 1000; ++i) added.push_back(&page.Links().add());
    added[999]->setURL("last");
    page.Links().remove(0);
    EXPECT_EQ(&page.Links()[0], classLink);
    EXPECT_EQ(&page.Links()[1], image);
    EXPECT_EQ(page.Links().indexOf(added[500]), 502);
    EXPECT_EQ(page.Links()[1001].URL(), "last");
}

TEST(PageObject, LinkTextByConversion) {
    struct Case {
        dl::TDlLinkConversion conversion;
        bool local;
        std::string url;
        std::string localFile;
        std::string pageFile;
        std::string written;
    };
    const std::string page = "/d/down/song.mp3.htm";
    const std::vector<Case> cases = {
        {dl::lcNone, true, "img/a.gif", "/d/down/img/a.gif", page, "img/a.gif"},
        {dl::lcOnline, true, "img/a.gif", "/d/down/img/a.gif", page, "http://h/p/img/a.gif"},
        {dl::lcOffline, false, "img/a.gif", "/d/down/img/a.gif", page, "http://h/p/img/a.gif"},
        {dl::lcOffline, true, "a.gif", "/d/down/h_a.gif", page, "h_a.gif"},
        {dl::lcOffline, true, "a.gif", "/d/down/img/h_a.gif", page, "img/h_a.gif"},
        {dl::lcOffline, true, "a.gif", "/d/h_a.gif", page, "../h_a.gif"},
        {dl::lcOffline, true, "a.gif", "/e/f/h_a.gif", page, "../../e/f/h_a.gif"},
        {dl::lcOffline, true, "a.gif", "/d/down/./x/../h_a.gif", "/d//down/song.htm", "h_a.gif"},
        {dl::lcOffline, true, "t.htm#s#u", "/d/down/h_t.htm", page, "h_t.htm#s#u"},
        // Unless both names are absolute paths, the local file as it is.
        {dl::lcOffline, true, "t.htm#s", "down/h_t.htm", page, "down/h_t.htm"},
        {dl::lcOffline, true, "t.htm#s", "/d/down/h_t.htm", "", "/d/down/h_t.htm"},
        {dl::lcOffline, true, "t.htm#s", "/d/down/h_t.htm", "down/song.htm", "/d/down/h_t.htm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.localFile + " from " + c.pageFile);
        TDlHTMLObject object;
        object.setBaseUrl("http://h/p/page.htm");
        object.setPageFile(c.pageFile);
        object.setLinkConversion(c.conversion);
        dl::TDlHTMLLink link;
        link.setURL(c.url);
        link.setLocal(c.local);
        link.setLocalFile(c.localFile);
        EXPECT_EQ(object.linkUrl(link), c.written);
    }
}

TEST(PageObject, AbsoluteUrls) {
    struct Case {
        std::string base;
        std::string url;
        std::string absolute;
    };
    const std::vector<Case> cases = {
        {"http://srv1/a/b/page.htm?x=1", "../c/d.gif", "http://srv1/a/c/d.gif"},
        {"http://srv1/a/b/page.htm?x=1", "/top.gif", "http://srv1/top.gif"},
        {"http://srv1/a/b/page.htm?x=1", "//other/t.gif", "http://other/t.gif"},
        {"http://srv1/a/b/page.htm?x=1", "ftp://f/x.gif", "ftp://f/x.gif"},
        // A fragment stays on the page itself.
        {"http://srv1/a/b/page.htm?x=1#old", "#top", "http://srv1/a/b/page.htm?x=1#top"},
        {"http://srv1/a/b/page.htm", "#", "http://srv1/a/b/page.htm#"},
        {"http://srv1/a/b/page.htm?q#z", "", "http://srv1/a/b/page.htm?q"},
        // What does not make a URL stays as written.
        {"http://srv1/a/b/page.htm", "javascript:go()", "javascript:go()"},
        {"http://srv1/a/b/page.htm", "x\ty.gif", "x\ty.gif"},
        {"", "x.gif", "x.gif"},
        {"", "#top", "#top"},
        {"", "http://srv1/x.gif", "http://srv1/x.gif"},
        // libcurl's ways, which docs/html-pages.md lists.
        {"http://srv1/a/page.htm", "b c.gif", "http://srv1/a/b%20c.gif"},
        {"http://srv1/a/page.htm", "x.gif?a b", "http://srv1/a/x.gif?a+b"},
        {"http://srv1/a/page.htm", "\xB8\xE8.gif", "http://srv1/a/%b8%e8.gif"},
        {"http://srv1/a/page.htm", "x.gif?#", "http://srv1/a/x.gif"},
        {"http://srv1/a/page.htm", "\\img\\x.gif", "http://srv1/a/\\img\\x.gif"},
        {"http://srv1/a/page.htm", "http:x.gif", "http:x.gif"},
        {"http://srv1", "x.gif", "http://srv1/x.gif"},
        {"http://srv1/a/page.htm", "//other", "http://other/"},
        {"http://srv1/a/page.htm", "HTTP://Other/X", "http://Other/X"},
        {"http://srv1/a/page.htm", "http://other/b c", "http://other/b c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base + " + " + c.url);
        TDlHTMLObject page;
        page.setBaseUrl(c.base);
        dl::TDlHTMLLink link;
        link.setURL(c.url);
        EXPECT_EQ(page.absoluteUrl(link), c.absolute);
    }
}

TEST(PageObject, TitleIsTheRawTextBetweenItsTags) {
    struct Case {
        std::string text;
        std::string title;
    };
    const std::vector<Case> cases = {
        {"<head><title>My  song\r\n</title>", "My  song\r\n"},
        {"<TITLE lang=zh>a <b>\xB8\xE8</b></Title >x", "a <b>\xB8\xE8</b>"},
        {"<title>first</title><title>second</title>", "second"},
        {"<title>a</title>b</title>", "a</title>b"},
        {"</title><title>open", ""},
        {"<!-- <title>no</title> -->", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TDlHTMLObject page;
        page.loadPage(c.text);
        EXPECT_EQ(page.Title(), c.title);
    }
}

TEST(PageObject, SettersAndFormInputsDropQuotesAndBytesOneAndFour) {
    dl::TDlHTMLLink link;
    link.setURL("a\"b'c\x01" "d\x04" "e\x02");
    link.setClassCode("'X.class'");
    link.setCodeBase("\"cls/\"");
    EXPECT_EQ(link.URL(), "abcde\x02");
    EXPECT_EQ(link.ClassCode(), "X.class");
    EXPECT_EQ(link.CodeBase(), "cls/");

    TDlHTMLObject page;
    page.loadPage("<img src=a\x01'b.gif><input name=\"q\" value='say \"\x04hi\"'><INPUT type=submit>");
    ASSERT_EQ(page.Links().count(), 1);
    EXPECT_EQ(page.Links()[0].URL(), "ab.gif");
    ASSERT_EQ(page.Items().count(), 2);
    EXPECT_EQ(page.Items()[0].Name, "q");
    EXPECT_EQ(page.Items()[0].Value, "say hi");
    EXPECT_EQ(page.Items()[0].iType, 0);
    EXPECT_EQ(page.Items()[1].Name, "");
    // The stripped bytes do not come back.
    EXPECT_EQ(regenerate(page, dl::lcNone),
              "<img src=ab.gif><input name=\"q\" value='say \"\x04hi\"'><INPUT type=submit>");
}

TEST(PageObject, LoadingAnotherPageForgetsTheFirst) {
    TDlHTMLObject page;
    page.loadPage("<title>one</title><img src=a.gif><input name=a>");
    page.loadPage("<p>two");
    EXPECT_EQ(page.Title(), "");
    EXPECT_TRUE(page.Links().empty());
    EXPECT_TRUE(page.Items().empty());
    EXPECT_EQ(page.HTMLPrototype(), "<p>two");
    page.clear();
    EXPECT_EQ(page.pageText(), "");
}

}  // namespace
