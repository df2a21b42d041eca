// Cutting speed of result pages: plain markup without anchors, and result
// pages full of song and other anchors, at 100 KiB, 1 MiB and 10 MiB; the
// literal reference cutter on pages without anchors for comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "search/LowerCase.h"
#include "search/PageCutter.h"
#include "tests/support/LiteralCutter.h"

namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;

// Builds a lower-cased page of `size` bytes from randomly chosen pieces.
std::string buildPage(std::size_t size, const std::vector<std::string>& pieces, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string page;
    page.reserve(size + 512);
    while (page.size() < size) page += pieces[pick(rng)];
    page.resize(size);
    search::lowerCasePage(page);
    return page;
}

// Ordinary markup: tags, quoted attributes, GBK text, scripts; no anchors.
std::string plainPage(std::size_t size) {
    return buildPage(size,
                     {
                         "<div class=\"row\"><span class=\"name\">\xB8\xE8\xC7\xFA</span></div>\n",
                         "<tr><td width=\"30%\">3.2 MB</td><td>128 kbps</td></tr>\n",
                         "<p>Some text &nbsp; with - dashes and <b>bold</b> words.</p>\n",
                         "<img src=\"/img/logo.gif\" alt=\"logo\" border=0>\n",
                         "<script type=\"text/javascript\">if (a > b) { c = \"x\"; }</script>\n",
                         "<table cellpadding=2 cellspacing=0><tbody>\n",
                         "\xC7\xFA\xC4\xBF\xC1\xD0\xB1\xED \xB8\xE8\xCA\xD6\n",
                     },
                     1);
}

// Result pages: rows with song anchors, page anchors and unquoted ones.
std::string anchorPage(std::size_t size) {
    return buildPage(size,
                     {
                         "<tr><td><a href=\"http://music.example/a/b/song.mp3\" target=_blank>"
                         "<font color=#DD0000>\xB8\xE8</font> - Singer&nbsp;</a></td>\n",
                         "<td><a href=\"/zsmp3?ty=1&word=x&class=mp3&bg=2\">next</a></td></tr>\n",
                         "<td><a href=http://music.example/u.mp3>unquoted</a></td>\n",
                         "<td class=\"size\">3.2 MB</td><td>\xC7\xFA</td></tr>\n",
                     },
                     2);
}

void cutWholePage(benchmark::State& state, const std::string& page) {
    for (auto _ : state) {
        // Counting from the bottom keeps the stop test from ending the page.
        std::int32_t linkCounter = std::numeric_limits<std::int32_t>::min();
        std::size_t bytes = 0;
        search::cutLinks(page, 1, linkCounter, [&](std::string_view title, std::string_view url) {
            bytes += title.size() + url.size();
        });
        benchmark::DoNotOptimize(bytes);
        state.counters["links"] = static_cast<double>(linkCounter - std::numeric_limits<std::int32_t>::min());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}

void BM_CutPlainPage(benchmark::State& state) {
    cutWholePage(state, plainPage(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_CutPlainPage)->Arg(100 * kKiB)->Arg(kMiB)->Arg(10 * kMiB)->Unit(benchmark::kMillisecond);

void BM_CutAnchorPage(benchmark::State& state) {
    cutWholePage(state, anchorPage(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_CutAnchorPage)->Arg(100 * kKiB)->Arg(kMiB)->Arg(10 * kMiB)->Unit(benchmark::kMillisecond);

// A page of a real search: the stop test ends it after 301 links.
void BM_CutAnchorPageUntilLimit(benchmark::State& state) {
    const std::string page = anchorPage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::int32_t linkCounter = 0;
        benchmark::DoNotOptimize(
            search::cutLinks(page, 1, linkCounter, [](std::string_view, std::string_view) {}));
    }
}
BENCHMARK(BM_CutAnchorPageUntilLimit)->Arg(10 * kMiB)->Unit(benchmark::kMillisecond);

void BM_LowerCasePage(benchmark::State& state) {
    std::string page = plainPage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        search::lowerCasePage(page);
        benchmark::DoNotOptimize(page.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LowerCasePage)->Arg(10 * kMiB)->Unit(benchmark::kMillisecond);

// The literal cutter copies the rest on every pass: quadratic. One run each.
void BM_LiteralCutPlainPage(benchmark::State& state) {
    const std::string page = plainPage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(literal_cutter::cut(page, 1, 0).linkCounter);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LiteralCutPlainPage)->Arg(100 * kKiB)->Arg(kMiB)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
