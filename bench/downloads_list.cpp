// The downloads list, through the program's real window:
//   bench_downloads_list [--rows N] [--rounds R] [--searches S] [--fast-mib M]
//       (default: 10000 rows, 3 rounds, 8 searches of each kind, 48 MiB;
//       0 searches or 0 MiB leave that part out)
//
// Each figure comes from the main window in a process of its own, built as
// the program's main() builds it (offscreen platform, the program's own page
// fetcher, the demo service as search host):
//   - a long list: a store whose list holds N finished songs, the window
//     opened on the list's page: from the fork to the end of the list's first
//     paint, and the process's peak resident memory; the same with an empty
//     list beside it. Bounds: under 0.5 s, and at most 20 MiB more memory.
//   - searches beside downloads: searches on the demo service, each from the
//     click on Search to the announcement that it ended (nine result pages),
//     taking turns: one alone, one while the list downloads two of the demo
//     service's slow songs (160 KiB/s each). Bound: the median search with
//     the downloads at most 10 % slower than the median alone.
//   - refreshes under a fast download: one song of M MiB from a loopback
//     server sending 8 MiB/s (long enough for the engine's reports, at most
//     two a second, and the speed's changes to pile up); how many progress
//     reports reached the list, how often its row was repainted, and the most
//     repaints within any second. Bound: at most 4.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <sqlite3.h>

#include "app/DownloadList.h"
#include "app/DownloadListView.h"
#include "app/MessageLog.h"
#include "app/TForm1.h"
#include "bench/support/Figures.h"
#include "bench/support/GeneratedStore.h"
#include "bench/support/WindowChild.h"
#include "store/DownloadListStore.h"
#include "store/SongStore.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using benchsupport::bound;
using benchsupport::Clock;
using benchsupport::median;
using benchsupport::nowNs;
using benchsupport::numbers;
using benchsupport::peakResidentMiB;
using benchsupport::secondsSince;
using benchsupport::spread;

const QString kSearchEnded = QStringLiteral("所有歌曲都已经搜索完毕，请及时下载！过期可能会失效。");
constexpr int kChildLimitMs = 600000;
constexpr std::uint64_t kFastBytesPerSecond = 8u << 20;

// A store whose list holds `rows` finished songs, as a user's list after
// months of use: titles, addresses and paths shaped like the demo service's.
void generateStore(const std::string& path, int rows) {
    store::CreateEmptyStore(path);
    benchsupport::insertRows(path, store::DownloadListStore::kCreate, 1, [](sqlite3_stmt*, std::int64_t) {});
    // The download folder of a window working beside the store: rows the list trusts.
    const std::string folder = fs::absolute(fs::path(path).parent_path() / "downmp3").lexically_normal().string() + "/";
    benchsupport::insertRows(
        path, "insert into downloadlist values (?, ?, ?, ?, ?, 2, ?, ?, '', ?, '')", rows,
        [&](sqlite3_stmt* insert, std::int64_t row) {
            const std::int64_t i = row + 1;
            const std::string title = "月亮 第" + std::to_string(i / 10 + 1) + "首 song " + std::to_string(i);
            const std::string url = "http://127.0.0.1:8080/songs/yue-liang-" + std::to_string(i) + ".mp3";
            const std::int64_t size = 3000000 + i * 7;
            sqlite3_bind_int64(insert, 1, i);
            benchsupport::bindText(insert, 2, title);
            benchsupport::bindText(insert, 3, url);
            benchsupport::bindText(insert, 4, folder);
            benchsupport::bindText(insert, 5, title + ".mp3");
            sqlite3_bind_int64(insert, 6, size);
            sqlite3_bind_int64(insert, 7, size);
            benchsupport::bindText(insert, 8, folder + title + ".mp3");
        });
}

int runList(const std::string& storePath, std::int64_t forkedAtNs) {
    benchsupport::WindowProcess window(storePath, std::chrono::milliseconds(kChildLimitMs));
    window.form().PageControl1->setCurrentIndex(1);
    double shown = -1;
    int rows = -1;
    benchsupport::FirstPaint painted;
    painted.then = [&] {
        shown = (nowNs() - forkedAtNs) / 1e9;
        rows = window.form().downloadList().model().rowCount();
        QTimer::singleShot(300, [] { QCoreApplication::quit(); });
    };
    window.form().DownloadListView1->viewport()->installEventFilter(&painted);
    const int status = window.run();
    std::printf("LIST %.4f %.2f %d\n", shown, peakResidentMiB(), rows);
    return status;
}

// Searches taking turns: alone, then beside two slow songs of the list.
int runSearches(const std::string& storePath, const std::string& slowUrl, int searches) {
    benchsupport::WindowProcess window(storePath, std::chrono::milliseconds(kChildLimitMs));
    app::TForm1& form = window.form();
    app::DownloadList& list = form.downloadList();
    std::vector<double> alone, beside;
    int round = 0;
    Clock::time_point clickedAt;
    QTimer watch;
    std::function<void()> next;
    const auto downloading = [&] {
        int n = 0;
        for (int row = 0; row < list.model().rowCount(); ++row)
            n += list.model().entry(row).state == store::ListState::Downloading ? 1 : 0;
        return n;
    };
    const auto allRows = [&] {
        QList<int> rows;
        for (int row = 0; row < list.model().rowCount(); ++row) rows << row;
        return rows;
    };
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!form.logLines().contains(kSearchEnded)) return;
        watch.stop();
        const bool withDownloads = round % 2 == 1;
        const double took = secondsSince(clickedAt);
        if (withDownloads && downloading() != 2) {
            std::fprintf(stderr, "  the two songs ended during the search; not counted\n");
        } else {
            (withDownloads ? beside : alone).push_back(took);
        }
        list.remove(allRows());
        ++round;
        QTimer::singleShot(200, next);
    });
    next = [&] {
        if (static_cast<int>(alone.size()) >= searches && static_cast<int>(beside.size()) >= searches) {
            QCoreApplication::quit();
            return;
        }
        const auto search = [&] {
            form.Memo1->clear();
            clickedAt = Clock::now();
            form.Button1->click();
            watch.start(2);
        };
        if (round % 2 == 0) {
            search();
            return;
        }
        const QString at = QString::number(round);
        list.add({{QStringLiteral("慢歌甲") + at, QString::fromStdString(slowUrl + "a" + at.toStdString() + ".mp3")},
                  {QStringLiteral("慢歌乙") + at, QString::fromStdString(slowUrl + "b" + at.toStdString() + ".mp3")}});
        // Both under way for a while before the search starts.
        auto* started = new QTimer(&form);
        QObject::connect(started, &QTimer::timeout, [&, started, search] {
            if (downloading() < 2) return;
            started->deleteLater();
            QTimer::singleShot(500, search);
        });
        started->start(5);
    };
    QTimer::singleShot(300, next);
    const int status = window.run();
    std::printf("ALONE");
    for (double s : alone) std::printf(" %.4f", s);
    std::printf("\nBESIDE");
    for (double s : beside) std::printf(" %.4f", s);
    std::printf("\n");
    return status;
}

// One fast song: every repaint of its row, timed.
int runRefresh(const std::string& storePath, const std::string& url) {
    benchsupport::WindowProcess window(storePath, std::chrono::milliseconds(kChildLimitMs));
    app::DownloadList& list = window.form().downloadList();
    app::DownloadListModel& model = list.model();
    std::vector<double> paints;
    Clock::time_point started;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex&) {
        if (from.row() == 0) paints.push_back(secondsSince(started));
    });
    double took = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (model.rowCount() == 0) return;
        const store::ListState state = model.entry(0).state;
        if (state == store::ListState::Waiting || state == store::ListState::Downloading) return;
        if (took < 0) took = secondsSince(started);
        // The last state's repaint, then the end.
        QTimer::singleShot(2 * app::DownloadListModel::kRefreshMs, [] { QCoreApplication::quit(); });
        watch.stop();
    });
    QTimer::singleShot(300, [&] {
        window.form().PageControl1->setCurrentIndex(1);
        started = Clock::now();
        list.add({{QStringLiteral("快歌"), QString::fromStdString(url)}});
        watch.start(2);
    });
    const int status = window.run();
    int most = 0;
    double closest = 1e9;
    for (std::size_t i = 0; i < paints.size(); ++i) {
        int within = 0;
        for (std::size_t j = i; j < paints.size() && paints[j] < paints[i] + 1.0; ++j) ++within;
        most = std::max(most, within);
        if (i > 0) closest = std::min(closest, paints[i] - paints[i - 1]);
    }
    const bool finished = model.rowCount() == 1 && model.entry(0).state == store::ListState::Finished;
    std::printf("REFRESH %.4f %llu %zu %d %.4f %d\n", took, static_cast<unsigned long long>(model.progressReports()),
                paints.size(), most, paints.size() > 1 ? closest : -1.0, finished ? 1 : 0);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto child = benchsupport::windowChildArgs(argc, argv)) {
        const std::vector<std::string>& args = child->args;
        const std::string mode = args.empty() ? "" : args[0];
        if (mode == "list" && args.size() == 2) return runList(args[1], child->forkedAtNs);
        if (mode == "search" && args.size() == 4) return runSearches(args[1], args[2], std::atoi(args[3].c_str()));
        if (mode == "refresh" && args.size() == 3) return runRefresh(args[1], args[2]);
        return 2;
    }
    // --searches 0 and --fast-mib 0 leave those parts out.
    int rows = 10000, rounds = 3, searches = 8, fastMiB = 48;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--searches") == 0) searches = std::max(0, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--fast-mib") == 0) fastMiB = std::max(0, std::atoi(argv[i + 1]));
    }

    const benchsupport::WindowChildren children("bench_downloads_list");
    if (!children.ready()) return 1;
    const int port = children.port();
    int failures = 0;
    testsupport::TempDir dir;
    const std::string work = dir.path().string();
    const std::string storePath = dir.file("mysong.mdb");
    // What a window child printed, or nothing when it failed.
    const auto child = [&](const std::vector<std::string>& args) -> std::optional<std::string> {
        const auto run = children.run(args, work);
        return run.ok ? std::optional<std::string>(run.output) : std::nullopt;
    };
    const auto freshStore = [&](int listRows) {
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(storePath + suffix);
        generateStore(storePath, listRows);
    };

    // ---- a long list
    std::printf("the window opened on a list of N finished songs; %d round%s, median (smallest-largest)\n", rounds,
                rounds == 1 ? "" : "s");
    std::printf("%-8s | %-24s | %s\n", "rows", "list shown (s)", "peak memory (MiB)");
    double shownLarge = -1, peakEmpty = -1, peakLarge = -1;
    for (int n : {0, rows}) {
        std::vector<double> shown, peak;
        for (int round = 0; round < rounds; ++round) {
            freshStore(n);
            const auto text = child({"list", storePath});
            const std::vector<double> f = text ? numbers(*text, "LIST") : std::vector<double>{};
            if (f.size() != 3 || f[0] < 0 || static_cast<int>(f[2]) != n) {
                ++failures;
                continue;
            }
            shown.push_back(f[0]);
            peak.push_back(f[1]);
        }
        std::printf("%-8d | %-24s | %s\n", n, spread(shown, "%.3f").c_str(), spread(peak, "%.1f").c_str());
        std::fflush(stdout);
        (n == 0 ? peakEmpty : peakLarge) = median(peak);
        if (n == rows) shownLarge = median(shown);
    }
    failures += bound(shownLarge >= 0 && shownLarge < 0.5, "the list shown in 0.5 s or more");
    failures += bound(peakLarge >= 0 && peakEmpty >= 0 && peakLarge - peakEmpty <= 20,
                      "the list's memory over 20 MiB");

    // ---- searches beside two downloads
    if (searches > 0) {
    freshStore(0);
    const std::string slowUrl = "http://127.0.0.1:" + std::to_string(port) + "/songs/slow-bench-";
    const auto text = child({"search", storePath, slowUrl, std::to_string(searches)});
    const std::vector<double> alone = text ? numbers(*text, "ALONE") : std::vector<double>{};
    const std::vector<double> beside = text ? numbers(*text, "BESIDE") : std::vector<double>{};
    std::printf("\na search on the demo service (nine result pages), taking turns alone and while the list downloads "
                "two slow songs (160 KiB/s each); %d of each, median (smallest-largest)\n",
                searches);
    std::printf("  alone %s s; beside two downloads %s s; ratio %.3f\n", spread(alone, "%.3f").c_str(),
                spread(beside, "%.3f").c_str(), median(beside) / median(alone));
    failures += bound(!alone.empty() && !beside.empty() && median(beside) <= 1.10 * median(alone),
                      "searches more than 10 % slower beside two downloads");
    }

    // ---- refreshes under a fast download
    if (fastMiB > 0) {
        testsupport::RangeServer::Setup setup;
        setup.file = {testsupport::patternBody(static_cast<std::size_t>(fastMiB) << 20), "", ""};
        setup.bytesPerSecond = kFastBytesPerSecond;
        testsupport::RangeServer server(setup);
        freshStore(0);
        const auto refresh = child({"refresh", storePath, server.url("/fast.mp3")});
        const std::vector<double> f = refresh ? numbers(*refresh, "REFRESH") : std::vector<double>{};
        std::printf("\none song of %d MiB from a loopback server sending %d MiB/s:\n", fastMiB,
                    static_cast<int>(kFastBytesPerSecond >> 20));
        if (f.size() != 6 || f[5] != 1) {
            std::printf("  the download failed\n");
            ++failures;
        } else {
            std::printf("  took %.3f s; %.0f progress reports reached the list; its row repainted %.0f times, at most "
                        "%.0f within any second, never closer than %.3f s\n",
                        f[0], f[1], f[2], f[3], f[4]);
            failures += bound(f[3] <= 4, "a row repainted more than 4 times within a second");
        }
        fs::remove_all(dir.path() / "downmp3");
    }
    return failures == 0 ? 0 : 1;
}
