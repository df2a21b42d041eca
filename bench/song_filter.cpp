// Filtering a large store as the user types:
//   bench_song_filter [ROWS=1000000] [ROUNDS=20]
// Generates a store of ROWS rows (one transaction; titles written the ways
// the service writes them, ten links a song, one of twenty keywords), opens
// the song store as the program does and asks its filter for rows:
//   - index: making the filter's index on first use, on the filter's thread;
//   - first screen: from a request to the first answer that holds rows to
//     show (the first rows found, or all of them), for a 3-character text
//     and a 2-character one, each typed ROUNDS times with different texts;
//   - all rows: from the request to the last answer;
//   - memory: the process's resident memory after the filters, less before
//     the filter was first used.
// Exits non-zero when a bound is missed: the first screen under 100 ms (3
// characters) and 300 ms (2), the index under 15 s, memory within 20 MiB.
#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "bench/support/Figures.h"
#include "bench/support/GeneratedStore.h"
#include "store/SongFilter.h"
#include "store/SongStore.h"
#include "tests/support/TempDir.h"

namespace {

std::string title(std::int64_t i) {
    const std::string artist = "歌手" + std::to_string((i / 10) % 500);
    const std::string song = "第" + std::to_string(i / 10) + "首";
    switch (i % 5) {
        case 0: return artist + " - " + song;
        case 1: return artist + "_" + song + "（Live）";
        case 2: return "ＳＩＮＧＥＲ－" + song;
        case 3: return "singer - " + song + " (DJ版)";
        default: return artist + song + "【伴奏】";
    }
}

const char* const kKeywords[] = {"晴天", "稻香", "月亮", "七里香", "夜曲", "青花瓷", "lemon", "love", "雨", "海",
                                 "周杰伦", "林俊杰", "陈奕迅", "王菲", "孙燕姿", "dj", "live", "remix", "伴奏", "老歌"};

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

// Asks `filter` for `typed`; the seconds to its first rows and to its last answer.
struct Timed {
    double first = 0;
    double all = 0;
    std::size_t rows = 0;
};

class Asker {
public:
    explicit Asker(const std::string& path)
        : filter_(path, [this](store::FilterAnswer answer) {
              std::lock_guard lock(mutex_);
              if (answer.request != number_) return;
              if (answer.kind == store::FilterAnswer::Kind::Building) return;
              if (!first_) first_ = benchsupport::secondsSince(start_);
              if (answer.kind != store::FilterAnswer::Kind::First) {
                  all_ = benchsupport::secondsSince(start_);
                  rows_ = answer.ids.size();
              }
              changed_.notify_all();
          }) {}

    Timed ask(const std::string& typed, const std::shared_ptr<const store::ResultsSnapshot>& snapshot) {
        {
            std::lock_guard lock(mutex_);
            first_ = 0;
            all_ = 0;
            start_ = benchsupport::Clock::now();
            number_ = 0;
        }
        std::unique_lock lock(mutex_);
        number_ = filter_.request(typed, snapshot);
        changed_.wait_for(lock, std::chrono::minutes(2), [this] { return all_ > 0; });
        lock.unlock();
        filter_.waitUntilIdle(std::chrono::minutes(2));
        return {first_, all_, rows_};
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    benchsupport::Clock::time_point start_;
    std::uint64_t number_ = 0;
    double first_ = 0;
    double all_ = 0;
    std::size_t rows_ = 0;
    store::SongFilter filter_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 20;
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    auto start = benchsupport::Clock::now();
    benchsupport::insertRows(path, "insert into tab1 (title,url2,keys) values (?,?,?)", rows,
                             [](sqlite3_stmt* insert, std::int64_t i) {
                                 benchsupport::bindText(insert, 1, title(i));
                                 benchsupport::bindText(insert, 2, "http://127.0.0.1:8080/mp3/" + std::to_string(i) + ".mp3");
                                 benchsupport::bindText(insert, 3, kKeywords[(i / 10) % 20]);
                             });
    std::printf("store of %lld rows made in %.2f s\n", static_cast<long long>(rows), benchsupport::secondsSince(start));

    store::SongStore songs(path);
    const auto snapshot = songs.Snapshot();
    const double before = residentMiB();
    Asker asker(path);
    const Timed built = asker.ask("晴天", snapshot);
    std::printf("index made on first use in %.2f s (then %zu rows of 晴天)\n", built.all, built.rows);

    std::vector<double> first3, all3, first2, all2;
    std::size_t rows3 = 0, rows2 = 0;
    for (int n = 0; n < rounds; ++n) {
        // Three characters: a song number's start; two: an artist's number.
        const Timed three = asker.ask("第" + std::to_string(100 + n * 37) , snapshot);
        first3.push_back(three.first * 1000);
        all3.push_back(three.all * 1000);
        rows3 += three.rows;
        const Timed two = asker.ask("手" + std::to_string(n % 10), snapshot);
        first2.push_back(two.first * 1000);
        all2.push_back(two.all * 1000);
        rows2 += two.rows;
    }
    // The worst: a text every row holds.
    const Timed every = asker.ask("singer", snapshot);
    const Timed everyShort = asker.ask("首", snapshot);
    const double delta = residentMiB() - before;
    std::printf("3 characters: first screen median %.1f ms, largest %.1f ms; all rows median %.1f ms (%.0f rows each)\n",
                benchsupport::median(first3), *std::max_element(first3.begin(), first3.end()),
                benchsupport::median(all3), static_cast<double>(rows3) / rounds);
    std::printf("2 characters: first screen median %.1f ms, largest %.1f ms; all rows median %.1f ms (%.0f rows each)\n",
                benchsupport::median(first2), *std::max_element(first2.begin(), first2.end()),
                benchsupport::median(all2), static_cast<double>(rows2) / rounds);
    std::printf("a text of many rows: singer first screen %.1f ms, all %zu rows %.1f ms; 首 first screen %.1f ms, all %zu rows %.1f ms\n",
                every.first * 1000, every.rows, every.all * 1000, everyShort.first * 1000, everyShort.rows,
                everyShort.all * 1000);
    std::printf("memory: %.1f MiB more resident than before the first filter\n", delta);
    int failures = 0;
    failures += benchsupport::bound(*std::max_element(first3.begin(), first3.end()) < 100, "a 3-character first screen of 100 ms or more");
    failures += benchsupport::bound(*std::max_element(first2.begin(), first2.end()) < 300, "a 2-character first screen of 300 ms or more");
    failures += benchsupport::bound(built.all < 15, "an index made in 15 s or more");
    failures += benchsupport::bound(delta < 20, "20 MiB or more of memory");
    return failures ? 1 : 0;
}
