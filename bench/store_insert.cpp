// Single-row inserts into the song store, each its own transaction, as the
// cutting stage makes them.
#include <benchmark/benchmark.h>

#include "store/SongStore.h"
#include "tests/support/TempDir.h"

static void BM_StoreInsert(benchmark::State& state) {
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    store::SongStore songs(path);
    std::int64_t i = 0;
    for (auto _ : state) {
        songs.Insert("月亮 song " + std::to_string(i), "http://127.0.0.1:8080/songs/" + std::to_string(i) + ".mp3",
                     "月亮");
        ++i;
    }
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_StoreInsert)->MinTime(2.0)->UseRealTime();

static void BM_StoreRequery(benchmark::State& state) {
    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    store::SongStore songs(path);
    for (int i = 0; i < state.range(0); ++i) songs.Insert("title " + std::to_string(i), "http://h/x.mp3", "k");
    for (auto _ : state) songs.Requery();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StoreRequery)->Arg(300)->Arg(10000)->UseRealTime();

BENCHMARK_MAIN();
