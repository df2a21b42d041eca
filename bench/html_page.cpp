// Loading and regenerating HTML pages of 1 MiB and 10 MiB: plain text, dense
// tags with links, one long comment, and one comment that never ends. Both
// must stay linear, so 10 MiB takes about ten times as long as 1 MiB.
// (Google Benchmark's "bytes_per_second" counts in MiB/s.)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "download/html/TDlHTMLObject.h"

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

std::string buildPage(std::size_t size, std::string head, const std::vector<std::string>& pieces, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string page = std::move(head);
    page.reserve(size + 512);
    while (page.size() < size) page += pieces[pick(rng)];
    page.resize(size);
    return page;
}

std::string plainText(std::size_t size) {
    return buildPage(size, "",
                     {"Some text with words, ", "\xB8\xE8\xC7\xFA \xC1\xD0\xB1\xED ", "3.2 MB &nbsp; 128 kbps\r\n",
                      "a = b > c; \"quoted\" 'words' ", "\t\t  ", "-- dashes - and -> arrows "},
                     1);
}

std::string denseTags(std::size_t size) {
    return buildPage(size, "<html><head><title>Songs</title></head><body background=\"img/bg.gif\">",
                     {"<a href=\"/music/song.htm?id=12&amp;p=3\">", "<img src=\"pic/p1.gif\" width=10 height=10>",
                      "</a>", "<br>", "<td class=\"row\" nowrap>", "<frame src=frames/top.htm name=top>",
                      "<a href='../up.htm#s'>", "<input name=q value=\"x\">", "<applet codebase=cls/ code=A.class>",
                      "<p>", "x"},
                     2);
}

// "--", "-" and "->" over and over, never "-->".
std::string commentFiller(std::size_t size, std::string head) {
    return buildPage(size, std::move(head),
                     {"text -- more - less -> x ", "<a href=\"y.htm\"> ", "--- ", "- ->", "\xB8\xE8 "}, 3);
}

std::string longComment(std::size_t size) { return commentFiller(size - 16, "<p><!--") + "--><a href=x.htm>"; }

std::string openComment(std::size_t size) { return commentFiller(size, "<p><!--"); }

// Writes a buffer larger than the last-level cache, so that the next run
// starts from memory as a 10 MiB page always does.
void evictCaches() {
    static std::vector<char> sweep(64 * kMiB);
    for (std::size_t i = 0; i < sweep.size(); i += 64) ++sweep[i];
    benchmark::DoNotOptimize(sweep.data());
}

// Arguments: page size, and 1 to start every run with cold caches.
void loadAndRegenerate(benchmark::State& state, std::string (*build)(std::size_t),
                       dl::TDlLinkConversion conversion) {
    const std::string text = build(static_cast<std::size_t>(state.range(0)));
    const bool cold = state.range(1) != 0;
    std::size_t links = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            evictCaches();
            state.ResumeTiming();
        }
        dl::TDlHTMLObject page;
        page.loadPage(text);
        page.setBaseUrl("http://srv1/music/list/page.htm");
        page.setLinkConversion(conversion);
        const std::string again = page.pageText();
        benchmark::DoNotOptimize(again.data());
        links = static_cast<std::size_t>(page.Links().count());
    }
    state.counters["links"] = static_cast<double>(links);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_PlainText(benchmark::State& state) { loadAndRegenerate(state, plainText, dl::lcNone); }
void BM_DenseTags(benchmark::State& state) { loadAndRegenerate(state, denseTags, dl::lcNone); }
void BM_LongComment(benchmark::State& state) { loadAndRegenerate(state, longComment, dl::lcNone); }
void BM_OpenComment(benchmark::State& state) { loadAndRegenerate(state, openComment, dl::lcNone); }
// Every link made absolute through libcurl.
void BM_DenseTagsOnline(benchmark::State& state) { loadAndRegenerate(state, denseTags, dl::lcOnline); }

// A 1 MiB page and what it makes fit in the caches, a 10 MiB one does not:
// the sizes are also run cold, and at 100 MiB, to compare the work per byte.
// With other work on the machine, the fastest of several repetitions is the
// steadiest figure: run with --benchmark_repetitions=N.
void pageSizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"bytes", "cold"})->Unit(benchmark::kMillisecond);
    b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
    for (const std::int64_t cold : {0, 1}) b->Args({kMiB, cold})->Args({10 * kMiB, cold});
    b->Args({100 * kMiB, 0});
}

BENCHMARK(BM_PlainText)->Apply(pageSizes);
BENCHMARK(BM_DenseTags)->Apply(pageSizes);
BENCHMARK(BM_LongComment)->Apply(pageSizes);
BENCHMARK(BM_OpenComment)->Apply(pageSizes);
BENCHMARK(BM_DenseTagsOnline)->Args({kMiB, 0})->Args({10 * kMiB, 0})->Unit(benchmark::kMillisecond);

// What page mode does once per link: find the link by its absolute URL.
void BM_FindEveryLink(benchmark::State& state) {
    const std::string text = denseTags(static_cast<std::size_t>(state.range(0)));
    dl::TDlHTMLObject page;
    page.loadPage(text);
    page.setBaseUrl("http://srv1/music/list/page.htm");
    for (auto _ : state) {
        page.Links().noteChange();  // work the index out afresh each time
        std::int32_t found = 0;
        for (const dl::TDlHTMLLink& link : page.Links()) found += page.findLink(page.absoluteUrl(link)) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.counters["links"] = static_cast<double>(page.Links().count());
}
BENCHMARK(BM_FindEveryLink)->Arg(kMiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
