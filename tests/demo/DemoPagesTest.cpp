// Page generation, query reading and generated media of the demo service,
// called directly. Pages are checked against the program's cutting rules:
// lower-case the page, find each "<a href=", take the address up to ">",
// keep it when it holds `.mp3"`, take the title up to "</a>".
#include "tools/demo-service/DemoMedia.h"
#include "tools/demo-service/DemoPages.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string kBase = "http://127.0.0.1:54321";

struct CutLink {
    std::string address;
    std::string title;
};

void eraseAll(std::string& text, const std::string& what) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at)) text.erase(at, what.size());
}

// The cutting rules the program applies to a fetched result page.
std::vector<CutLink> cutLinks(std::string page) {
    for (char& c : page)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    std::vector<CutLink> links;
    std::string rest = page;
    while (!rest.empty()) {
        const auto p = rest.find("<a href=");
        rest.erase(0, p == std::string::npos ? std::min<std::size_t>(7, rest.size()) : p + 8);
        const auto q = rest.find('>');
        std::string address = q == std::string::npos ? "" : rest.substr(0, q);
        if (q != std::string::npos) rest.erase(0, q);
        if (address.find(".mp3\"") == std::string::npos) continue;
        const auto e = rest.find("</a>");
        std::string title = (e == std::string::npos || e < 1) ? "" : rest.substr(1, e - 1);
        for (const char* junk : {"&nbsp;", "<font color=#dd0000>", "</font>", " -"}) eraseAll(title, junk);
        const auto t = address.find("target");
        if (t != std::string::npos) address.resize(t);
        eraseAll(address, "\"");
        if (address.size() >= 150) continue;
        links.push_back({address, title});
    }
    return links;
}

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::size_t songAnchorCount(const std::string& page) {
    static const std::regex anchor(R"re(<a href="http://127\.0\.0\.1:\d+/songs/[a-z0-9-]+\.mp3"( target=_blank)?>)re");
    return static_cast<std::size_t>(
        std::distance(std::sregex_iterator(page.begin(), page.end(), anchor), std::sregex_iterator()));
}

// Every song anchor of the page is cut, with a short address to a song and a
// clean title holding the keyword; nothing else on the page is cut.
void expectCutsCleanly(const std::string& keyword, int page) {
    SCOPED_TRACE("page " + std::to_string(page));
    const std::string html = demo::resultPage(kBase, keyword, page);
    const auto links = cutLinks(html);
    ASSERT_GE(links.size(), 5u);
    EXPECT_EQ(links.size(), songAnchorCount(html));
    const std::string shown = keyword.empty() ? demo::gbk("热门") : demo::htmlEscape(keyword);
    for (const auto& link : links) {
        std::string address = link.address;
        if (!address.empty() && address.back() == ' ') address.pop_back();  // left by " target"
        EXPECT_TRUE(address.starts_with(kBase + "/songs/")) << address;
        EXPECT_TRUE(address.ends_with(".mp3")) << address;
        EXPECT_LT(link.address.size(), 150u);
        EXPECT_NE(link.title.find(lowered(shown)), std::string::npos) << link.title;
        EXPECT_EQ(link.title.find('<'), std::string::npos) << link.title;
        EXPECT_EQ(link.title.find("&nbsp;"), std::string::npos) << link.title;
    }
}

TEST(DemoQuery, FindsParametersInTheRawTarget) {
    const std::string target = "/zsmp3?ty=1&word=\xB4\xBA&class=mp3&bg=3&webid=";
    EXPECT_EQ(demo::queryValue(target, "word").value_or("-"), "\xB4\xBA");
    EXPECT_EQ(demo::queryValue(target, "bg").value_or("-"), "3");
    EXPECT_EQ(demo::queryValue(target, "webid").value_or("-"), "");
    EXPECT_FALSE(demo::queryValue(target, "wor").has_value());
    EXPECT_FALSE(demo::queryValue("/zsmp3", "word").has_value());
    EXPECT_EQ(demo::queryValue("/zsmp3?wordy=1&word", "word").value_or("-"), "");
}

TEST(DemoQuery, KeywordMayArriveRawEscapedOrMixed) {
    const std::string spring = demo::gbk("春天");  // B4 BA CC EC
    EXPECT_EQ(demo::readKeyword("\xB4\xBA\xCC\xEC"), spring);
    EXPECT_EQ(demo::readKeyword("%B4%BA%cc%ec"), spring);
    EXPECT_EQ(demo::readKeyword("%B4\xBA\xCC%EC"), spring);
    EXPECT_EQ(demo::readKeyword("a+b c"), "a+b c");
    EXPECT_EQ(demo::readKeyword("\xD6\xDC%20\xC7\xE7"), "\xD6\xDC \xC7\xE7");
    EXPECT_EQ(demo::readKeyword(""), "");
}

TEST(DemoQuery, BrokenEscapesAndBytesAreKeptOrReplacedNeverCrash) {
    EXPECT_EQ(demo::readKeyword("%zz%4"), "%zz%4");
    EXPECT_EQ(demo::readKeyword("%"), "%");
    EXPECT_EQ(demo::readKeyword("ab%0Acd%7f"), "ab?cd?");
    EXPECT_EQ(demo::readKeyword("ok\xB4"), "ok?");  // lead byte without its trail byte
    EXPECT_EQ(demo::readKeyword("\xFF\xFF"), "??");  // 0xFF never starts a character
}

TEST(DemoQuery, PageNumberIsDecimalOrZero) {
    EXPECT_EQ(demo::readPage("8"), 8);
    EXPECT_EQ(demo::readPage("%39"), 9);
    EXPECT_EQ(demo::readPage(""), 0);
    EXPECT_EQ(demo::readPage("-1"), 0);
    EXPECT_EQ(demo::readPage("2x"), 0);
    EXPECT_EQ(demo::readPage("99999999999999999999"), demo::kMaxPage);
}

TEST(DemoResultPage, EverySongAnchorIsCutCleanly) {
    for (const std::string& keyword : {demo::gbk("春天"), std::string("Blue Sky"), std::string(), demo::gbk("夜曲ABC")})
        for (int page : {0, 1, 7, 8, 9, 123})
            expectCutsCleanly(keyword, page);
}

TEST(DemoResultPage, KeywordMarkupCannotAddOrBreakAnchors) {
    const std::string hostile = "x\"</a><a href=\"evil.mp3\" target=_blank>&nbsp;";
    const std::string html = demo::resultPage(kBase, hostile, 0);
    for (const auto& link : cutLinks(html)) EXPECT_EQ(link.address.find("evil"), std::string::npos);
    EXPECT_EQ(cutLinks(html).size(), songAnchorCount(html));
}

TEST(DemoResultPage, SamePageTwiceIsIdenticalAndPagesDiffer) {
    const std::string keyword = demo::gbk("春天");
    std::set<std::string> pages;
    for (int page = 0; page <= 9; ++page) {
        const std::string html = demo::resultPage(kBase, keyword, page);
        EXPECT_EQ(html, demo::resultPage(kBase, keyword, page));
        pages.insert(html);
    }
    EXPECT_EQ(pages.size(), 10u);
    EXPECT_NE(demo::resultPage(kBase, keyword, 0), demo::resultPage(kBase, demo::gbk("夏天"), 0));
}

TEST(DemoResultPage, OnlyTheFirstPageOffersTheListenOnlyAndTheSlowSong) {
    const std::string keyword = demo::gbk("春天");
    const std::string first = demo::resultPage(kBase, keyword, 0);
    for (const std::string_view prefix : {demo::kListenPrefix, demo::kSlowPrefix}) {
        const std::string song = "/songs/" + std::string(prefix) + demo::keywordId(keyword) + ".mp3\"";
        ASSERT_NE(first.find(song), std::string::npos) << prefix;
        EXPECT_EQ(first.find(song, first.find(song) + 1), std::string::npos) << prefix;
        EXPECT_EQ(demo::resultPage(kBase, keyword, 1).find(prefix), std::string::npos) << prefix;
    }
    // The slow song's size is announced like every other song's.
    EXPECT_NE(first.find(demo::sizeText(demo::kSlowMp3Size)), std::string::npos);
    EXPECT_EQ(demo::silentFrames(demo::kSlowMp3Frames).size(), demo::kSlowMp3Size);
}

TEST(DemoResultPage, RandomQueryBytesGivePagesThatStillCut) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
    for (int round = 0; round < 300; ++round) {
        std::string raw(static_cast<std::size_t>(length(rng)), '\0');
        for (char& c : raw) c = static_cast<char>(byte(rng));
        const std::string keyword = demo::readKeyword(raw);
        for (char c : keyword) ASSERT_GE(static_cast<unsigned char>(c), 0x20);
        const std::string html = demo::resultPage(kBase, keyword, demo::readPage(raw));
        ASSERT_EQ(cutLinks(html).size(), songAnchorCount(html)) << "round " << round;
    }
}

TEST(DemoMedia, SilentMp3IsARunOfWellFormedFrames) {
    const std::string song = demo::silentMp3("3ea5c3bb-0-2");
    ASSERT_EQ(song.size(), demo::mp3Size("3ea5c3bb-0-2"));
    ASSERT_EQ(song.size() % demo::kMp3FrameBytes, 0u);
    ASSERT_GE(song.size() / demo::kMp3FrameBytes, 24u);
    for (std::size_t at = 0; at < song.size(); at += demo::kMp3FrameBytes) {
        const auto* h = reinterpret_cast<const unsigned char*>(song.data() + at);
        ASSERT_EQ(h[0], 0xFF) << at;
        ASSERT_EQ(h[1] & 0xE0, 0xE0) << at;   // rest of the frame sync
        EXPECT_EQ((h[1] >> 3) & 3, 3);         // MPEG-1
        EXPECT_EQ((h[1] >> 1) & 3, 1);         // Layer III
        const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
        ASSERT_EQ(bitrateIndex, 9);            // 128 kbit/s
        ASSERT_EQ(rateIndex, 1);               // 48000 Hz
        EXPECT_EQ(144 * 128000 / 48000 + padding, static_cast<int>(demo::kMp3FrameBytes));
    }
    EXPECT_EQ(song, demo::silentMp3("3ea5c3bb-0-2"));
}

TEST(DemoMedia, BackgroundIsAOnePixelGif) {
    const std::string gif = demo::tinyGif();
    ASSERT_GE(gif.size(), 14u);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(gif.substr(6, 4), std::string("\x01\x00\x01\x00", 4));
    EXPECT_EQ(gif.back(), ';');
}

}  // namespace
