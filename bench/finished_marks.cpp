// The grid's 已下载 marks over a large store:
//   bench_finished_marks [ROWS=1000000] [FILES=10000] [ROUNDS=3]
// Generates a store of ROWS rows and FILES finished songs (one small file
// each in a download folder, every tenth deleted since), then measures on
// the UI thread what the marks cost it: the longest gap between the ticks
// of a 1 ms timer while the checker writes nothing, reads every record,
// looks at every file and hands the marks over (the files' check runs on
// its thread, so this is the hand-over alone, in slices), and the time of
// a page of the grid painted with and without the marks (the marked rows,
// then the whole grid, 2,000 pages at most). Exits non-zero when a tick
// waited more than 50 ms or a marked page takes more than 1.25 times an
// unmarked one.
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
#include <sqlite3.h>

#include "app/FontSubstitutions.h"
#include "bench/support/Figures.h"
#include "bench/support/GeneratedStore.h"
#include "store/FinishedFileCheck.h"
#include "store/FinishedSongStore.h"
#include "store/SongStore.h"
#include "store/view/FinishedSongChecker.h"
#include "store/view/GridFinishedSongs.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/support/TempDir.h"

namespace {

std::string urlOf(std::int64_t i) { return "http://127.0.0.1:8080/songs/" + std::to_string(i) + "-song.mp3"; }

// Pages spread evenly from the first row to the row `upTo`, at most 2,000
// of them, each painted before the next; the milliseconds a page took.
double pageThrough(store::TDBGrid3D& grid, int upTo) {
    QScrollBar* bar = grid.verticalScrollBar();
    bar->setValue(0);
    QApplication::processEvents();
    const int last = std::min(upTo, bar->maximum());
    const int step = std::max({1, bar->pageStep(), last / 2000});
    int pages = 0;
    QElapsedTimer timer;
    timer.start();
    for (int value = 0; value <= last; value += step) {
        bar->setValue(value);
        grid.viewport()->repaint();
        ++pages;
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6 / std::max(1, pages);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const std::int64_t files = argc > 2 ? std::min<std::int64_t>(std::atoll(argv[2]), rows) : std::min<std::int64_t>(10000, rows);
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    app::installFontSubstitutions();

    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    benchsupport::insertRows(path, "insert into tab1 (title,url2,keys) values (?,?,?)", rows,
                             [](sqlite3_stmt* insert, std::int64_t i) {
                                 benchsupport::bindText(insert, 1, "月亮 第" + std::to_string(i) + "首");
                                 benchsupport::bindText(insert, 2, urlOf(i));
                                 benchsupport::bindText(insert, 3, "月亮");
                             });
    // The finished songs are the first rows, a tenth of their files gone.
    const std::filesystem::path folder = dir.path() / "downmp3";
    std::filesystem::create_directories(folder);
    std::vector<store::FinishedSong> finished;
    for (std::int64_t n = 0; n < files; ++n) {
        const std::int64_t row = n;
        const std::string file = (folder / (std::to_string(row) + ".mp3")).string();
        std::ofstream(file, std::ios::binary) << "ID3 and a few bytes";
        store::FinishedSong song;
        store::finishedFileAt(file, song);
        song.url = urlOf(row);
        song.title = "月亮 第" + std::to_string(row) + "首";
        song.finishedAt = 1796800000;
        finished.push_back(song);
        if (n % 10 == 9) std::filesystem::remove(file);
    }
    store::FinishedSongStore(path).record(finished);

    store::SongStore songs(path);
    store::SongTableModel model(songs);
    store::TDBGrid3D grid;
    grid.setSongModel(&model);
    grid.resize(760, 350);
    grid.show();
    QApplication::processEvents();

    // The UI thread's longest wait while the checker does a round.
    store::GridFinishedSongs marks;
    model.setFinishedSongs(&marks);
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    QElapsedTimer roundTime;
    roundTime.start();
    sinceTick.start();
    tick.start();
    {
        store::FinishedSongChecker checker(path, marks, std::chrono::hours(1));
        while (marks.size() < static_cast<std::size_t>(files) && roundTime.elapsed() < 600000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        const double roundMs = static_cast<double>(roundTime.nsecsElapsed()) / 1e6;
        tick.stop();
        std::printf("rows %lld, finished songs %lld (a tenth of their files deleted)\n", static_cast<long long>(rows),
                    static_cast<long long>(files));
        std::printf("first check, read and handed over: %.1f ms\n", roundMs);
        std::printf("longest UI-thread gap meanwhile: %.2f ms\n", static_cast<double>(longestGapNs) / 1e6);
    }
    // Every song changed applied at once, for comparison: the checker hands
    // them over in slices of 10,000, one a turn of the event loop.
    std::vector<store::FinishedChange> changes;
    for (const store::FinishedSong& song : finished)
        changes.emplace_back(song.url, store::FinishedMark{store::FinishedFileState::Gone, song.path, song.size});
    QElapsedTimer handTime;
    handTime.start();
    marks.apply(std::move(changes));
    QApplication::processEvents();
    const double handMs = static_cast<double>(handTime.nsecsElapsed()) / 1e6;
    std::printf("every song changed applied at once (not sliced): %.2f ms\n", handMs);

    store::GridFinishedSongs none;
    // The marked rows themselves, then the whole grid (mostly unmarked rows,
    // each looked up all the same).
    std::vector<double> plain, marked, plainAll, markedAll;
    for (int round = 0; round < rounds; ++round) {
        model.setFinishedSongs(&none);
        plain.push_back(pageThrough(grid, static_cast<int>(files)));
        plainAll.push_back(pageThrough(grid, INT32_MAX));
        model.setFinishedSongs(&marks);
        marked.push_back(pageThrough(grid, static_cast<int>(files)));
        markedAll.push_back(pageThrough(grid, INT32_MAX));
    }
    const double a = benchsupport::median(plain), b = benchsupport::median(marked);
    std::printf("the marked rows' pages, unmarked: %.3f ms a page (%s)\n", a, benchsupport::spread(plain, "%.3f").c_str());
    std::printf("the marked rows' pages, marked: %.3f ms a page (%s)\n", b, benchsupport::spread(marked, "%.3f").c_str());
    std::printf("ratio: %.2f\n", b / a);
    const double c = benchsupport::median(plainAll), d = benchsupport::median(markedAll);
    std::printf("whole grid, unmarked: %.3f ms a page; marked: %.3f ms a page; ratio %.2f\n", c, d, d / c);
    int failures = benchsupport::bound(longestGapNs <= 50'000'000, "no UI-thread gap over 50 ms");
    failures += benchsupport::bound(b <= 1.25 * a && d <= 1.25 * c, "marked pages within 1.25 times the unmarked ones");
    return failures;
}
