#include "search/PageCutter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "search/LowerCase.h"

namespace {

using search::CutOutcome;
using search::cutLinks;

struct Cut {
    CutOutcome outcome;
    std::int32_t linkCounter;
    std::vector<std::pair<std::string, std::string>> links;  // title, address
};

Cut cut(const std::string& page, std::int32_t pageCounter = 1, std::int32_t linkCounter = 0) {
    Cut result{CutOutcome::PageDone, linkCounter, {}};
    result.outcome = cutLinks(page, pageCounter, result.linkCounter,
                              [&](std::string_view title, std::string_view url) {
                                  result.links.emplace_back(std::string(title), std::string(url));
                              });
    return result;
}

using Links = std::vector<std::pair<std::string, std::string>>;

TEST(LowerCasePage, RaisesOnlyCapitalLettersAlsoInsideGbkCharacters) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string lowered = all;
    search::lowerCasePage(lowered);
    for (int b = 0; b < 256; ++b) {
        const int expected = (b >= 0x41 && b <= 0x5A) ? b + 32 : b;
        EXPECT_EQ(static_cast<unsigned char>(lowered[b]), expected) << "byte " << b;
    }
    std::string gbk = "\xB0\x41\xB8\xE8";  // second byte 'A' raised, as the service's pages are
    search::lowerCasePage(gbk);
    EXPECT_EQ(gbk, "\xB0\x61\xB8\xE8");
}

TEST(CutLinks, WorkedExample) {
    const Cut c = cut("<a href=\"x/s.mp3\" target=_blank>song &nbsp;- singer</a>");
    EXPECT_EQ(c.outcome, CutOutcome::PageDone);
    EXPECT_EQ(c.linkCounter, 1);
    EXPECT_EQ(c.links, (Links{{"song singer", "x/s.mp3 "}}));
}

TEST(CutLinks, PagesWithoutCandidates) {
    EXPECT_EQ(cut("").links, Links{});
    const Cut plain = cut("<html><body><p>no links here</p><div class=\"a\">x</div></body></html>");
    EXPECT_EQ(plain.outcome, CutOutcome::PageDone);
    EXPECT_EQ(plain.linkCounter, 0);
    EXPECT_TRUE(plain.links.empty());
    // Unquoted address: the marker needs the closing quote.
    EXPECT_TRUE(cut("<a href=x.mp3>song</a>").links.empty());
    // Other files and quoted addresses not ending in .mp3.
    EXPECT_TRUE(cut("<a href=\"x.wma\">a</a><a href=\"x.mp3.html\">b</a>").links.empty());
}

TEST(CutLinks, UpperCaseAnchorPassesOnceLowerCasedAndIsStoredLowerCased) {
    std::string page = "<A HREF=\"Music/Song.MP3\" TARGET=_blank>My Song</A>";
    EXPECT_TRUE(cut(page).links.empty());
    search::lowerCasePage(page);
    EXPECT_EQ(cut(page).links, (Links{{"my song", "music/song.mp3 "}}));
}

TEST(CutLinks, AddressWithoutTargetKeepsOtherAttributesWithoutQuotes) {
    EXPECT_EQ(cut("<a href=\"a/b.mp3\" class=\"dl\" title=\"x\">t</a>").links,
              (Links{{"t", "a/b.mp3 class=dl title=x"}}));
    // Anything after "target" goes, also later attributes.
    EXPECT_EQ(cut("<a href=\"a/b.mp3\"target=_blank class=x>t</a>").links, (Links{{"t", "a/b.mp3"}}));
}

TEST(CutLinks, AddressLengthLimit) {
    // 150 bytes after cleaning are dropped, 149 kept; quotes do not count.
    const std::string at149 = std::string(145, 'n') + ".mp3";
    const std::string at150 = std::string(146, 'n') + ".mp3";
    ASSERT_EQ(at149.size(), 149u);
    ASSERT_EQ(at150.size(), 150u);
    EXPECT_EQ(cut("<a href=\"" + at149 + "\">t</a>").links, (Links{{"t", at149}}));
    const Cut dropped = cut("<a href=\"" + at150 + "\">t</a>");
    EXPECT_TRUE(dropped.links.empty());
    EXPECT_EQ(dropped.linkCounter, 0);
    // A space before "target" counts: 148 + space = 149 kept, 149 + space dropped.
    const std::string at148 = std::string(144, 'n') + ".mp3";
    EXPECT_EQ(cut("<a href=\"" + at148 + "\" target=_blank>t</a>").links, (Links{{"t", at148 + " "}}));
    EXPECT_TRUE(cut("<a href=\"" + at149 + "\" target=_blank>t</a>").links.empty());
}

TEST(CutLinks, PageWhoseCandidatesAllFailTheLengthTestCountsNothing) {
    std::string page;
    for (int i = 0; i < 5; ++i) page += "<a href=\"" + std::string(200 + i, 'z') + ".mp3\">t</a>";
    const Cut c = cut(page, 1, 42);
    EXPECT_EQ(c.outcome, CutOutcome::PageDone);
    EXPECT_EQ(c.linkCounter, 42);
    EXPECT_TRUE(c.links.empty());
}

TEST(CutLinks, StopTestAtLinkAndPageLimits) {
    const std::string two = "<a href=\"a.mp3\">a</a><a href=\"b.mp3\">b</a>";
    // At 300 one more link is taken; the next candidate ends the search.
    const Cut at300 = cut(two, 1, 300);
    EXPECT_EQ(at300.outcome, CutOutcome::LimitReached);
    EXPECT_EQ(at300.linkCounter, 301);
    EXPECT_EQ(at300.links, (Links{{"a", "a.mp3"}}));
    // At 301 the first candidate ends it, before anything is taken.
    const Cut at301 = cut(two, 1, 301);
    EXPECT_EQ(at301.outcome, CutOutcome::LimitReached);
    EXPECT_EQ(at301.linkCounter, 301);
    EXPECT_TRUE(at301.links.empty());
    // The test looks at candidates only: a page without any never stops.
    EXPECT_EQ(cut("<a href=x.mp3>x</a> text", 1, 301).outcome, CutOutcome::PageDone);
    EXPECT_EQ(cut("<a href=\"" + std::string(150, 'z') + ".mp3\">x</a>", 9, 0).outcome,
              CutOutcome::LimitReached);  // even one the length test would drop

    EXPECT_EQ(cut(two, 8, 0).links.size(), 2u);
    const Cut page9 = cut(two, 9, 0);
    EXPECT_EQ(page9.outcome, CutOutcome::LimitReached);
    EXPECT_TRUE(page9.links.empty());
    EXPECT_EQ(cut("no candidates", 9, 0).outcome, CutOutcome::PageDone);
}

TEST(CutLinks, TitleCleaningRemovesTheFourTextsInOrderAndNothingElse) {
    EXPECT_EQ(cut("<a href=\"a.mp3\"> <font color=#dd0000>red</font> -x&nbsp; <b>b</b>&amp;</a>").links,
              (Links{{" redx <b>b</b>&amp;", "a.mp3"}}));
    // Removal does not look again at what it joins: "&nb" + "sp;" stays.
    EXPECT_EQ(cut("<a href=\"a.mp3\">&nb&nbsp;sp;</a>").links, (Links{{"&nbsp;", "a.mp3"}}));
    // " -" is removed after "&nbsp;", so "&nbsp;" between them makes one.
    EXPECT_EQ(cut("<a href=\"a.mp3\">a &nbsp;-b</a>").links, (Links{{"ab", "a.mp3"}}));
    // Title without "</a>" is empty; the link still counts.
    EXPECT_EQ(cut("<a href=\"a.mp3\">no end").links, (Links{{"", "a.mp3"}}));
}

TEST(CutLinks, RestStaysAtTheTagEndSoNestedAnchorsAreCutAgain) {
    // The first title runs to the only "</a>", across the second anchor,
    // which is then found again from the first ">".
    EXPECT_EQ(cut("<a href=\"a.mp3\">x<a href=\"b.mp3\">y</a>").links,
              (Links{{"x<a href=\"b.mp3\">y", "a.mp3"}, {"y", "b.mp3"}}));
}

TEST(CutLinks, WithoutAnAnchorTheRestIsWornDownSevenBytesAPass) {
    // No anchor marker: the first 7 bytes go, then the address runs to ">".
    EXPECT_EQ(cut("1234567\"a.mp3\">t</a>").links, (Links{{"t", "a.mp3"}}));
    // A marker split by the 7-byte step is lost.
    EXPECT_TRUE(cut("abcde.mp3\">t</a>").links.empty());
    EXPECT_EQ(cut("abcdefg.mp3\">t</a>").links, (Links{{"t", ".mp3"}}));
}

TEST(CutLinks, GbkSecondBytesAreCutByteWise) {
    // 0xB0 0x54 is one GBK character whose second byte is 'T': lower-cased
    // it becomes 't' and starts the word that ends the address.
    std::string page = "<a href=\"m/\xB0TARGET.MP3\">\xB0\x41\xB8\xE8</a>";
    search::lowerCasePage(page);
    EXPECT_EQ(cut(page).links, (Links{{"\xB0\x61\xB8\xE8", "m/\xB0"}}));
}

// ---- cutPage: the step with log and store ----

class RecordingSink : public search::CutSink {
public:
    std::vector<std::string> log;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> keywords{"keyword"};
    std::size_t keywordReads = 0;
    std::string failOnTitle;  // an insert of this title throws
    int count = 7;
    int requeries = 0;

    void appendLog(const std::string& line) override { log.push_back(line); }
    std::string currentKeyword() override {
        const std::string& k = keywords[std::min(keywordReads, keywords.size() - 1)];
        ++keywordReads;
        return k;
    }
    void insertSong(const std::string& title, const std::string& url, const std::string& keyword) override {
        if (!failOnTitle.empty() && title == failOnTitle) throw std::runtime_error("constraint failed");
        rows.push_back({title, url, keyword});
    }
    int requeryAndCount() override {
        ++requeries;
        return count;
    }
};

const std::string kFound = "找到相关歌曲名称：";
const std::string kInvalid = "清除了一条无效数据！";
const std::string kCount = "当前歌曲数量：\xE3\x80\x80";  // ends in U+3000

TEST(CutPage, EmptyAndAnchorlessPagesOnlyLogTheCount) {
    for (const std::string page : {"", "<p>nothing</p>"}) {
        search::SearchState state;
        state.pageText = page;
        RecordingSink sink;
        EXPECT_FALSE(search::cutPage(state, sink));
        EXPECT_EQ(sink.log, std::vector<std::string>{kCount + "7"});
        EXPECT_TRUE(sink.rows.empty());
        EXPECT_EQ(sink.requeries, 1);
        EXPECT_TRUE(state.pageText.empty());
    }
}

TEST(CutPage, LogsEachFoundTitleInUtf8AndStoresItWithTheCurrentKeyword) {
    search::SearchState state;
    state.pageText = "<a href=\"x/\xB8\xE8.mp3\" target=_blank>\xB8\xE8\xC7\xFA</a>"
                     "<a href=\"y.mp3\">two</a>";
    state.linkCounter = 5;
    RecordingSink sink;
    sink.keywords = {"first", "edited"};
    sink.count = 12;
    EXPECT_FALSE(search::cutPage(state, sink));
    EXPECT_TRUE(state.pageText.empty());
    EXPECT_EQ(state.linkCounter, 7);
    EXPECT_EQ(sink.log, (std::vector<std::string>{kFound + "歌曲", kFound + "two", kCount + "12"}));
    EXPECT_EQ(sink.rows, (std::vector<std::vector<std::string>>{{"歌曲", "x/歌.mp3 ", "first"},
                                                                 {"two", "y.mp3", "edited"}}));
}

TEST(CutPage, FailedInsertIsLoggedCountedAndTheNextLinkFollows) {
    search::SearchState state;
    state.pageText = "<a href=\"a.mp3\">bad \"quoted\" title</a><a href=\"b.mp3\">good</a>";
    RecordingSink sink;
    sink.failOnTitle = "bad \"quoted\" title";
    EXPECT_FALSE(search::cutPage(state, sink));
    EXPECT_EQ(state.linkCounter, 2);
    EXPECT_EQ(sink.log, (std::vector<std::string>{kFound + "bad \"quoted\" title", kInvalid, kFound + "good",
                                                  kCount + "7"}));
    EXPECT_EQ(sink.rows, (std::vector<std::vector<std::string>>{{"good", "b.mp3", "keyword"}}));
}

TEST(CutPage, LimitEndsThePageWithoutTheCountLine) {
    search::SearchState state;
    state.pageText = "<a href=\"a.mp3\">a</a><a href=\"b.mp3\">b</a><a href=\"c.mp3\">c</a>";
    state.linkCounter = 299;
    RecordingSink sink;
    EXPECT_TRUE(search::cutPage(state, sink));
    EXPECT_TRUE(state.pageText.empty());
    EXPECT_EQ(state.linkCounter, 301);
    EXPECT_EQ(sink.log, (std::vector<std::string>{kFound + "a", kFound + "b"}));
    EXPECT_EQ(sink.requeries, 0);

    search::SearchState page9;
    page9.pageText = "<a href=\"a.mp3\">a</a>";
    page9.pageCounter = 9;
    RecordingSink sink9;
    EXPECT_TRUE(search::cutPage(page9, sink9));
    EXPECT_TRUE(sink9.log.empty());
    EXPECT_TRUE(sink9.rows.empty());
    EXPECT_EQ(sink9.requeries, 0);
    EXPECT_EQ(page9.linkCounter, 0);
}

}  // namespace
