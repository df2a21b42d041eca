// Scrolling the results grid over probed rows and over unprobed ones:
//   bench_grid_verdicts [ROWS=100000] [ROUNDS=3]
// Generates a store of ROWS rows, shows the grid (offscreen, the program's
// fonts and column widths) and pages it from the first row to the last,
// painting every page at once, first with no verdicts at all, then with a
// verdict for every row (each of the four kinds in turn: mark, grey text),
// taking turns for ROUNDS rounds. Prints the median time of a page painted
// for each, and their ratio; exits non-zero when probed pages take more than
// 1.25 times as long as unprobed ones.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <sqlite3.h>

#include "app/FontSubstitutions.h"
#include "bench/support/Figures.h"
#include "bench/support/GeneratedStore.h"
#include "store/LinkVerdictStore.h"
#include "store/SongStore.h"
#include "store/view/GridVerdicts.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"
#include "tests/support/TempDir.h"

namespace {

std::string urlOf(std::int64_t i) { return "http://127.0.0.1:8080/songs/" + std::to_string(i) + "-song.mp3"; }

std::vector<store::StoredVerdict> everyRowProbed(std::int64_t rows, std::int64_t now) {
    std::vector<store::StoredVerdict> verdicts;
    verdicts.reserve(static_cast<std::size_t>(rows));
    for (std::int64_t i = 0; i < rows; ++i) {
        store::StoredVerdict v;
        v.url = urlOf(i);
        v.checkedAt = now - i % 5000;
        v.verdict = static_cast<store::LinkVerdictKind>(i % 4);
        v.code = v.verdict == store::LinkVerdictKind::Dead ? 404 : 206;
        v.status = v.code;
        if (v.verdict == store::LinkVerdictKind::Audio) {
            v.kbps = 128;
            v.seconds = 252;
            v.size = 4128768;
        }
        if (v.verdict == store::LinkVerdictKind::NotAudio) v.reason = "web page";
        verdicts.push_back(std::move(v));
    }
    return verdicts;
}

// Pages from the first row to the last, each painted before the next; the
// milliseconds a page took.
double pageThrough(store::TDBGrid3D& grid) {
    QScrollBar* bar = grid.verticalScrollBar();
    bar->setValue(0);
    QApplication::processEvents();
    const int step = std::max(1, bar->pageStep());
    int pages = 0;
    QElapsedTimer timer;
    timer.start();
    for (int value = 0; value <= bar->maximum(); value += step) {
        bar->setValue(value);
        grid.viewport()->repaint();
        ++pages;
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6 / std::max(1, pages);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 100000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    app::installFontSubstitutions();

    testsupport::TempDir dir;
    const std::string path = dir.file("mysong.mdb");
    store::CreateEmptyStore(path);
    benchsupport::insertRows(path, "insert into tab1 (title,url2,keys) values (?,?,?)", rows,
                             [](sqlite3_stmt* insert, std::int64_t i) {
                                 benchsupport::bindText(insert, 1, "月亮 第" + std::to_string(i / 10 + 1) + "首 - 歌手" +
                                                                       std::to_string(i % 500));
                                 benchsupport::bindText(insert, 2, urlOf(i));
                                 benchsupport::bindText(insert, 3, "月亮");
                             });
    store::SongStore songs(path);
    store::GridVerdicts none;
    store::GridVerdicts probed;
    probed.putAll(everyRowProbed(rows, probed.now()));
    store::SongTableModel model(songs);
    store::TDBGrid3D grid;
    grid.setSongModel(&model);
    // The window's results page: the three columns and about 18 rows.
    grid.resize(760, 350);
    grid.show();
    QApplication::processEvents();

    std::vector<double> plain, marked;
    for (int round = 0; round < rounds; ++round) {
        model.setVerdicts(&none);
        plain.push_back(pageThrough(grid));
        model.setVerdicts(&probed);
        marked.push_back(pageThrough(grid));
    }
    const double a = benchsupport::median(plain), b = benchsupport::median(marked);
    std::printf("rows %lld, pages of %d rows, rounds %d\n", static_cast<long long>(rows),
                grid.verticalScrollBar()->pageStep(), rounds);
    std::printf("unprobed: %.3f ms a page (%s)\n", a, benchsupport::spread(plain, "%.3f").c_str());
    std::printf("probed: %.3f ms a page (%s)\n", b, benchsupport::spread(marked, "%.3f").c_str());
    std::printf("ratio: %.2f\n", b / a);
    return benchsupport::bound(b <= 1.25 * a, "probed pages within 1.25 times the unprobed ones");
}
