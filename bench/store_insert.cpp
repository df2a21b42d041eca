// The song store's statements one by one: single-row inserts, each its own
// transaction, as the cutting stage makes them; a re-opening after a page's
// own rows, which adds them at the end; and a full re-read of the query,
// which a change by another connection makes necessary.
#include <chrono>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "bench/support/GeneratedStore.h"
#include "store/SongStore.h"
#include "tests/support/TempDir.h"

namespace {

// A store of `rows` rows in `dir`, written in one transaction.
std::string makeStore(const testsupport::TempDir& dir, std::int64_t rows) {
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    benchsupport::insertRows(path, "insert into tab1 values (?, ?, '月亮')", rows,
                             [](sqlite3_stmt* insert, std::int64_t i) {
                                 benchsupport::bindText(insert, 1, "月亮 song " + std::to_string(i));
                                 benchsupport::bindText(insert, 2,
                                                        "http://127.0.0.1:8080/songs/" + std::to_string(i) + ".mp3");
                             });
    return path;
}

}  // namespace

static void BM_StoreInsert(benchmark::State& state) {
    testsupport::TempDir dir;
    store::SongStore songs(makeStore(dir, 0));
    std::int64_t i = 0;
    for (auto _ : state) {
        songs.Insert("月亮 song " + std::to_string(i), "http://127.0.0.1:8080/songs/" + std::to_string(i) + ".mp3",
                     "月亮");
        ++i;
    }
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_StoreInsert)->MinTime(2.0)->UseRealTime();

// A page of 46 own rows inserted (not timed), then the re-opening that shows them.
static void BM_StoreReopenAfterOwnRows(benchmark::State& state) {
    testsupport::TempDir dir;
    store::SongStore songs(makeStore(dir, state.range(0)));
    for (auto _ : state) {
        for (int i = 0; i < 46; ++i) songs.Insert("own", "http://127.0.0.1:8080/own.mp3", "月亮");
        const auto start = std::chrono::steady_clock::now();
        songs.Requery();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_StoreReopenAfterOwnRows)->Arg(10000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Another connection's row (not timed), then the re-opening, which reads the
// whole query again.
static void BM_StoreFullRead(benchmark::State& state) {
    testsupport::TempDir dir;
    const std::string path = makeStore(dir, state.range(0));
    store::SongStore songs(path);
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    for (auto _ : state) {
        sqlite3_exec(other, "insert into tab1 values ('other', 'http://127.0.0.1/other.mp3', 'k')", nullptr, nullptr,
                     nullptr);
        const auto start = std::chrono::steady_clock::now();
        songs.Requery();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    sqlite3_close(other);
}
BENCHMARK(BM_StoreFullRead)->Arg(10000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
