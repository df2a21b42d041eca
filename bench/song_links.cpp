// Finding a song's links in a large store:
//   bench_song_links [ROWS=1000000] [LOOKUPS=2000]
// Generates a store of ROWS rows (one transaction; about ten links a song,
// titles written the ways the service writes them: blanks, " - ", full-width
// letters, variants in brackets), makes the song-key index on first use (its
// one-time cost is printed), then looks up LOOKUPS titles picked at random,
// each through the index as the program would. Prints the median, the 99th
// percentile and the largest lookup; exits non-zero when the median or the
// 99th percentile is 5 ms or more.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/support/Figures.h"
#include "bench/support/GeneratedStore.h"
#include "store/SongKeyIndex.h"
#include "store/SongStore.h"
#include "tests/support/TempDir.h"

namespace {

// Row i: song i / 10 by artist (i / 10) % 500, in one of the ways it is written.
std::string title(std::int64_t i) {
    const std::string artist = "歌手" + std::to_string((i / 10) % 500);
    const std::string song = "第" + std::to_string(i / 10) + "首";
    switch (i % 10) {
        case 0: return artist + " - " + song;
        case 1: return artist + "-" + song;
        case 2: return artist + "_" + song;
        case 3: return artist + song;
        case 4: return artist + "·" + song;
        case 5: return artist + " " + song + "（Live）";
        case 6: return artist + " - " + song + "【伴奏】";
        case 7: return "ＳＩＮＧＥＲ－" + song;
        case 8: return "singer - " + song;
        default: return artist + "  " + song + " (DJ版)";
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int lookups = argc > 2 ? std::atoi(argv[2]) : 2000;
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    auto start = benchsupport::Clock::now();
    benchsupport::insertRows(path, "insert into tab1 (title,url2,keys) values (?,?,?)", rows,
                             [](sqlite3_stmt* insert, std::int64_t i) {
                                 benchsupport::bindText(insert, 1, title(i));
                                 benchsupport::bindText(insert, 2, "http://127.0.0.1:8080/mp3/" + std::to_string(i) + ".mp3");
                                 benchsupport::bindText(insert, 3, "歌");
                             });
    std::printf("store of %lld rows made in %.2f s\n", static_cast<long long>(rows), benchsupport::secondsSince(start));

    store::SongKeyIndex index(path);
    start = benchsupport::Clock::now();
    const auto first = index.linksOf(title(0));
    std::printf("index made on first use in %.2f s (%zu links of the first song)\n",
                benchsupport::secondsSince(start), first.size());

    std::mt19937_64 random(42);
    std::vector<double> ms;
    std::size_t found = 0;
    for (int n = 0; n < lookups; ++n) {
        const std::int64_t row = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(rows));
        start = benchsupport::Clock::now();
        found += index.linksOf(title(row)).size();
        ms.push_back(benchsupport::secondsSince(start) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    const double p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    std::printf("lookup of a song's links: median %.3f ms, 99th percentile %.3f ms, largest %.3f ms "
                "(%d lookups, %.1f links each)\n",
                benchsupport::median(ms), p99, ms.back(), lookups, static_cast<double>(found) / lookups);
    return benchsupport::bound(benchsupport::median(ms) < 5, "a median lookup of 5 ms or more") +
                   benchsupport::bound(p99 < 5, "a 99th percentile lookup of 5 ms or more")
               ? 1
               : 0;
}
