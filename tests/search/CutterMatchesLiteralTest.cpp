// The fast cutter must give byte for byte what the literal step-by-step
// cutter gives, on pages built to hit its corner cases.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "search/LowerCase.h"
#include "search/PageCutter.h"
#include "tests/support/LiteralCutter.h"

namespace {

literal_cutter::Result cutFast(const std::string& page, std::int32_t pageCounter, std::int32_t linkCounter) {
    literal_cutter::Result result;
    result.linkCounter = linkCounter;
    result.limitReached =
        search::cutLinks(page, pageCounter, result.linkCounter, [&](std::string_view title, std::string_view url) {
            result.links.push_back({std::string(title), std::string(url)});
        }) == search::CutOutcome::LimitReached;
    return result;
}

void expectSameCut(const std::string& page, std::int32_t pageCounter, std::int32_t linkCounter) {
    const literal_cutter::Result expected = literal_cutter::cut(page, pageCounter, linkCounter);
    const literal_cutter::Result actual = cutFast(page, pageCounter, linkCounter);
    ASSERT_EQ(actual.limitReached, expected.limitReached) << "page: " << page;
    ASSERT_EQ(actual.linkCounter, expected.linkCounter) << "page: " << page;
    ASSERT_EQ(actual.links.size(), expected.links.size()) << "page: " << page;
    for (std::size_t i = 0; i < expected.links.size(); ++i) {
        ASSERT_EQ(actual.links[i].title, expected.links[i].title) << "link " << i << " of page: " << page;
        ASSERT_EQ(actual.links[i].url, expected.links[i].url) << "link " << i << " of page: " << page;
    }
}

// Pieces that matter to the cutter, and some that only look like they do.
const std::vector<std::string> kPieces = {
    "<a href=", "<a href=\"", "<a href", "\"", ".mp3", ".mp3\"", ".MP3\"", ".mp", "3\"", ">", ">", "<", "</a>",
    "</a", "a>", " target=_blank", "target", "targ", "&nbsp;", "&nb", "sp;", " -", " ", "-",
    "<font color=#dd0000>", "<FONT COLOR=#DD0000>", "</font>", "x", "song", "/", "\n", std::string(1, '\0'),
    "\xB0\x54", "\xB8\xE8", "\xB0\x41", "\x81", "<td>", "<p class=\"n\">",
};

std::string randomPage(std::mt19937& rng, std::size_t pieces) {
    std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() + 2);
    std::string page;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t k = pick(rng);
        if (k < kPieces.size()) {
            page += kPieces[k];
        } else if (k == kPieces.size()) {
            // A long address body around the 150-byte limit.
            page += std::string(std::uniform_int_distribution<std::size_t>(130, 160)(rng), 'n');
        } else {
            page += static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
        }
    }
    return page;
}

constexpr std::array<std::int32_t, 6> kPageCounters = {0, 1, 8, 9, -1, std::numeric_limits<std::int32_t>::max()};
constexpr std::array<std::int32_t, 8> kLinkCounters = {0,   290, 299, 300, 301, -5,
                                                       std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()};

TEST(CutterMatchesLiteral, RandomPiecePages) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 4000; ++round) {
        std::string page = randomPage(rng, std::uniform_int_distribution<std::size_t>(0, 60)(rng));
        if (round % 2 == 0) search::lowerCasePage(page);
        const std::int32_t pageCounter = kPageCounters[round % kPageCounters.size()];
        const std::int32_t linkCounter = kLinkCounters[(round / 3) % kLinkCounters.size()];
        expectSameCut(page, pageCounter, linkCounter);
        if (HasFatalFailure()) return;
    }
}

TEST(CutterMatchesLiteral, EveryCounterPairOnOnePage) {
    std::string page;
    for (int i = 0; i < 320; ++i)
        page += "<tr><td><a href=\"http://h/m/" + std::to_string(i) + ".mp3\" target=_blank>song " +
                std::to_string(i) + " &nbsp;- singer</a></td></tr>\n";
    for (std::int32_t pageCounter : kPageCounters)
        for (std::int32_t linkCounter : kLinkCounters) {
            expectSameCut(page, pageCounter, linkCounter);
            if (HasFatalFailure()) return;
        }
}

TEST(CutterMatchesLiteral, LargerResultPages) {
    // Result-page shaped text: plain markup, GBK text, non-song anchors and
    // song anchors of all the kinds the cutter tells apart.
    std::mt19937 rng(7);
    const std::vector<std::string> rows = {
        "<tr><td class=\"t\">\xB8\xE8\xC7\xFA</td><td>3.2 MB</td></tr>\n",
        "<a href=\"/zsmp3?ty=1&word=x\">next</a>",
        "<a href=\"http://h/a/b/c.mp3\" target=_blank><font color=#dd0000>\xB8\xE8</font> - x&nbsp;</a>",
        "<a href=http://h/u.mp3>unquoted</a>",
        "<A HREF=\"HTTP://H/U/BIG.MP3\" TITLE=\"T\">Upper</A>",
        "<a href=\"http://h/" + std::string(140, 'p') + ".mp3\" target=_blank>long</a>",
        "<script>if (a > b) x = \"<a href=\";</script>",
        "<div><span>text &nbsp; more - text</span></div>\n",
    };
    for (int round = 0; round < 12; ++round) {
        std::string page;
        while (page.size() < 20000) page += rows[std::uniform_int_distribution<std::size_t>(0, rows.size() - 1)(rng)];
        search::lowerCasePage(page);
        expectSameCut(page, 1, round % 2 == 0 ? std::numeric_limits<std::int32_t>::min() : 250);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
