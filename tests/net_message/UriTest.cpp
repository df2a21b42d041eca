#include <gtest/gtest.h>

#include "http/NetGlobal.h"
#include "http/NetURI.h"

using net::TNetURI;

namespace {

const char* const kPageUrl = "http://h/zsmp3?ty=1&word=ab&class=mp3&bg=0&webid=";

TEST(NetUri, SplitsTheSearchPageAddress) {
    TNetURI uri(kPageUrl);
    EXPECT_EQ(uri.Protocol, "http");
    EXPECT_EQ(uri.Host, "h");
    EXPECT_EQ(uri.Port, "");
    EXPECT_EQ(uri.Path, "/");
    EXPECT_EQ(uri.Document, "zsmp3");
    EXPECT_EQ(uri.Params, "?ty=1&word=ab&class=mp3&bg=0&webid=");
    EXPECT_EQ(uri.Bookmark, "");
    EXPECT_EQ(uri.FullURI(), kPageUrl);
}

TEST(NetUri, HashInTheQueryStartsTheBookmark) {
    TNetURI uri("http://h/zsmp3?ty=1&word=c#&class=mp3&bg=0&webid=");
    EXPECT_EQ(uri.Params, "?ty=1&word=c");
    EXPECT_EQ(uri.Bookmark, "&class=mp3&bg=0&webid=");
    EXPECT_EQ(uri.URIText(), "http://h/zsmp3?ty=1&word=c");
    EXPECT_EQ(uri.text(), "http://h/zsmp3?ty=1&word=c#&class=mp3&bg=0&webid=");
}

TEST(NetUri, PathAndDocumentSplit) {
    TNetURI bare("http://h");
    EXPECT_EQ(bare.Path, "/");
    EXPECT_EQ(bare.Document, "");
    EXPECT_EQ(bare.Params, "");

    TNetURI nested("http://h/a/b");
    EXPECT_EQ(nested.Path, "/a/");
    EXPECT_EQ(nested.Document, "b");

    // Only slashes before the query split the path.
    TNetURI slashInQuery("http://h/zsmp3?word=ac/dc&bg=1");
    EXPECT_EQ(slashInQuery.Path, "/");
    EXPECT_EQ(slashInQuery.Document, "zsmp3");
    EXPECT_EQ(slashInQuery.Params, "?word=ac/dc&bg=1");

    TNetURI equalsNoQuery("http://h/a/b=c");
    EXPECT_EQ(equalsNoQuery.Path, "/a/");
    EXPECT_EQ(equalsNoQuery.Document, "b");
    EXPECT_EQ(equalsNoQuery.Params, "=c");

    TNetURI fragment("http://h/a/page.html#top");
    EXPECT_EQ(fragment.Document, "page.html");
    EXPECT_EQ(fragment.Bookmark, "top");
}

TEST(NetUri, EveryFieldOfAFullAddress) {
    TNetURI uri("http://user@host:8080/a/b/c.html?x=1#top");
    EXPECT_EQ(uri.Protocol, "http");
    EXPECT_EQ(uri.Username, "user");
    EXPECT_EQ(uri.Password, "");
    EXPECT_EQ(uri.Host, "host");
    EXPECT_EQ(uri.Port, "8080");
    EXPECT_EQ(uri.Path, "/a/b/");
    EXPECT_EQ(uri.Document, "c.html");
    EXPECT_EQ(uri.Params, "?x=1");
    EXPECT_EQ(uri.Bookmark, "top");

    // A "#" before the "?" cuts the document; the query stays a query.
    TNetURI early("http://h/a#b?c");
    EXPECT_EQ(early.Path, "/");
    EXPECT_EQ(early.Document, "a");
    EXPECT_EQ(early.Bookmark, "b");
    EXPECT_EQ(early.Params, "?c");

    // With "=" as the query start, a later "/" does not move the path split.
    TNetURI equals("http://h/a/b=c/d");
    EXPECT_EQ(equals.Path, "/a/");
    EXPECT_EQ(equals.Document, "b");
    EXPECT_EQ(equals.Params, "=c/d");
}

TEST(NetUri, UserInfoAndPort) {
    TNetURI userOnly("http://user@h/");
    EXPECT_EQ(userOnly.Username, "user");
    EXPECT_EQ(userOnly.Password, "");
    EXPECT_EQ(userOnly.Host, "h");

    TNetURI both("http://user:pw@h:8080/x");
    EXPECT_EQ(both.Username, "user");
    EXPECT_EQ(both.Password, "pw");
    EXPECT_EQ(both.Host, "h");
    EXPECT_EQ(both.Port, "8080");
    EXPECT_EQ(both.FullURI(true, true), "http://user:pw@h:8080/x");
    EXPECT_EQ(both.FullURI(false, false), "http://h:8080/x");

    TNetURI passwordOnly("http://:secret@h/");
    EXPECT_EQ(passwordOnly.Username, "");
    EXPECT_EQ(passwordOnly.Password, "");
    EXPECT_EQ(passwordOnly.Host, "h");
}

TEST(NetUri, RelativeFormKeepsTheHashInTheDocument) {
    TNetURI page("a.html#x");
    EXPECT_EQ(page.Protocol, "");
    EXPECT_EQ(page.Path, "");
    EXPECT_EQ(page.Document, "a.html#x");

    TNetURI dirs("sub/dir/p.html?q=1#b");
    EXPECT_EQ(dirs.Path, "sub/dir/");
    EXPECT_EQ(dirs.Document, "p.html");
    EXPECT_EQ(dirs.Params, "?q=1");
    EXPECT_EQ(dirs.Bookmark, "b");
}

TEST(NetUri, BackslashesAndDoubleByteCharacters) {
    // 0xB5 0x5C is one GBK character whose trail byte looks like a backslash.
    const std::string url = "http://h\\dir\\\xB5\x5C.mp3";
    TNetURI uri(url);
    EXPECT_EQ(uri.Path, "/dir/");
    EXPECT_EQ(uri.Document, "\xB5\x5C.mp3");
    EXPECT_EQ(uri.text(), "http://h/dir/\xB5\x5C.mp3");

    // A GBK trail byte 0x40 is not the "@" of user information.
    TNetURI host("http://\x81\x40h/");
    EXPECT_EQ(host.Username, "");
    EXPECT_EQ(host.Host, "\x81\x40h");
}

TEST(NetUri, KeywordBytesPassUnchanged) {
    const std::string url = "http://h/zsmp3?ty=1&word=\xC1\xF5 a%20&b=c&class=mp3&bg=2&webid=";
    TNetURI uri(url);
    EXPECT_EQ(uri.Params, "?ty=1&word=\xC1\xF5 a%20&b=c&class=mp3&bg=2&webid=");
    EXPECT_EQ(uri.FullURI(), url);
}

TEST(NetUri, BuildingNeedsProtocolAndHost) {
    TNetURI uri;
    try {
        uri.FullURI();
        FAIL() << "no protocol accepted";
    } catch (const net::ENetURIException& e) {
        EXPECT_EQ(e.Message(), "Protocol field is empty");
    }
    uri.Protocol = "http";
    try {
        uri.FullURI();
        FAIL() << "no host accepted";
    } catch (const net::ENetURIException& e) {
        EXPECT_EQ(e.Message(), "Host field is empty");
    }
}

TEST(NetUri, MergePath) {
    EXPECT_EQ(TNetURI::MergePath("/a/b/", "c/d.html", "/"), "/a/b/c/d.html");
    EXPECT_EQ(TNetURI::MergePath("/a/b/", "../c", "/"), "/a/c");
    EXPECT_EQ(TNetURI::MergePath("/a/", "", "/"), "/a/");
    EXPECT_EQ(TNetURI::MergePath("/a/", "/x/y", "/"), "/x/y");
    EXPECT_EQ(TNetURI::MergePath("a/b/", "../c", "/"), "a/c");
    EXPECT_EQ(TNetURI::MergePath("/a//b/", "./c/", "/"), "/a/b/./c/");
    EXPECT_EQ(TNetURI::MergePath("/a/b/", "../../../c", "/"), "/c");
    // Climbing above the root stays at the root instead of losing the path.
    EXPECT_EQ(TNetURI::MergePath("/a/", "..", "/"), "/");
    EXPECT_EQ(TNetURI::MergePath("/", "..", "/"), "/");
}

TEST(NetTextHelpers, CutTokenAndLastPos) {
    std::string text = "Name: value: more";
    EXPECT_EQ(net::CutToken(text, ":"), "Name");
    EXPECT_EQ(text, " value: more");
    std::string none = "abc";
    EXPECT_EQ(net::CutToken(none, "/"), "abc");
    EXPECT_EQ(none, "");
    std::string keep = "aXb";
    EXPECT_EQ(net::CutToken(keep, "x", false, false), "a");
    EXPECT_EQ(keep, "aXb");

    EXPECT_EQ(net::LastPos("/", "/a/b?c/d", 5), 3);
    EXPECT_EQ(net::LastPos("/", "/a/b?c/d", -1), 7);
    EXPECT_EQ(net::LastPos("B", "abab", 99), 4);
    EXPECT_EQ(net::LastPos("/", "abc", -1), 0);
    // A delimiter byte inside a double-byte character is not a match.
    EXPECT_EQ(net::textPos("\x5C", "\xB5\x5C\x5C"), 3);
}

}  // namespace
