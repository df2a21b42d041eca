// Adding many songs to the downloads list, through the program's real window:
//   bench_list_add [SONGS...] [--signal-after MS]
//       (default: 10000 1000000; SIGTERM 4000 ms after the largest one's window starts)
//
// For each count it generates a store of SONGS rows in tab1, then runs the
// main window in a process of its own, as the program's main() builds it
// (offscreen platform, the termination signals taken). Once the grid shows
// every row, the child selects them all (as Ctrl+A does), lets the window
// show the selection, and chooses 加入下载列表, its question answered Yes:
//   - total: from the choice to the log line that the last song is in;
//   - the choice's own slice: the handler, until it hands the UI thread back
//     (the selection read, the first songs added);
//   - longest UI stall: the largest gap between the ticks of a 5 ms timer on
//     the UI thread, from the choice to the end, less the 5 ms;
//   - of which the UI thread's own work: the most CPU time the UI thread took
//     between two ticks (the gap less what it waited for a core: on a busy
//     machine the wall-clock gap also holds other programs' turns);
//   - the songs in the list, and the process's peak resident memory.
// The songs' addresses are on a loopback port that takes connections and
// never answers, so the two downloads the list starts meanwhile neither end
// nor report: what is measured is the add. (Songs that fail at once stall
// the UI thread by themselves, in the engine, for about 0.1 s each.)
// Then the largest add once more, the program sent SIGTERM in the middle of
// it: how long it takes to end.
//
// Bounds: 10,000 songs in under 1 s, 1,000,000 in under 30 s, no UI stall
// over 50 ms, and the end within 1 s of SIGTERM.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <sqlite3.h>

#include "app/DownloadList.h"
#include "app/MessageLog.h"
#include "app/TForm1.h"
#include "bench/support/Figures.h"
#include "bench/support/GeneratedStore.h"
#include "bench/support/WindowChild.h"
#include "store/SongStore.h"
#include "store/view/TDBGrid3D.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using benchsupport::bound;
using benchsupport::peakResidentMiB;

constexpr int kTickMs = 5;
constexpr int kChildLimitMs = 300000;

// The CPU time the calling thread has taken, in seconds.
double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A loopback port that takes connections and never answers; closed with it.
class SilentPort {
public:
    SilentPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    ~SilentPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

void generateStore(const std::string& path, int rows, int port) {
    store::CreateEmptyStore(path);
    benchsupport::insertRows(path, "insert into tab1 (title,url2,keys) values (?,?,?)", rows,
                             [port](sqlite3_stmt* insert, std::int64_t i) {
                                 const std::string title = "月亮 第" + std::to_string(i / 10 + 1) + "首 song " +
                                                           std::to_string(i);
                                 const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/mp3/" +
                                                         std::to_string(i) + ".mp3";
                                 benchsupport::bindText(insert, 1, title);
                                 benchsupport::bindText(insert, 2, url);
                                 benchsupport::bindText(insert, 3, "月亮");
                             });
}

// The child: selects every row and adds them; prints one line of figures.
// `untilSignal`: it goes on until a signal ends the program.
int runWindow(const std::string& storePath, int rows, bool untilSignal) {
    double total = -1, ownSlice = -1, stall = 0, busiest = 0, lastCpu = 0;
    int inList = -1;
    int status = 0;
    {
        benchsupport::WindowProcess window(storePath, std::chrono::milliseconds(kChildLimitMs));
        app::TForm1& form = window.form();
        app::DownloadList& list = form.downloadList();
        form.setAsker([](const QString&, const QString&) { return true; });
        QElapsedTimer clock;
        qint64 lastTick = 0, choseAt = 0;
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            const double cpu = threadCpuSeconds();
            if (lastTick) {
                stall = std::max(stall, (now - lastTick) / 1e9 - kTickMs / 1000.0);
                busiest = std::max(busiest, cpu - lastCpu);
            }
            lastTick = now;
            lastCpu = cpu;
            if (total < 0 && !list.adding()) {
                total = (now - choseAt) / 1e9;
                inList = list.model().rowCount();
                // Some more ticks after the end, then the figures.
                if (!untilSignal) QTimer::singleShot(300, [] { QCoreApplication::quit(); });
            }
        });
        QTimer gridWatch;
        QObject::connect(&gridWatch, &QTimer::timeout, [&] {
            if (form.DBGrid1->model()->rowCount() != rows) return;
            gridWatch.stop();
            form.DBGrid1->setFocus();
            form.DBGrid1->selectAll();
            // Shown selected before the choice, as the menu that makes it
            // comes after Ctrl+A has been painted.
            QCoreApplication::processEvents();
            clock.start();
            choseAt = clock.nsecsElapsed();
            const double cpuBefore = threadCpuSeconds();
            form.AddToList1Click();
            ownSlice = (clock.nsecsElapsed() - choseAt) / 1e9;
            stall = ownSlice;
            lastCpu = threadCpuSeconds();
            busiest = lastCpu - cpuBefore;
            lastTick = clock.nsecsElapsed();
            ticks.start(kTickMs);
        });
        gridWatch.start(20);
        status = window.run();
        // Closing ended the add: what the list holds then.
        if (untilSignal) inList = list.model().rowCount();
    }
    std::printf("FIGURES %.4f %.4f %.4f %d %.2f %.4f\n", total, ownSlice, stall, inList, peakResidentMiB(), busiest);
    std::fflush(stdout);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto child = benchsupport::windowChildArgs(argc, argv)) {
        if (child->args.size() != 3) return 2;
        return runWindow(child->args[0], std::atoi(child->args[1].c_str()), child->args[2] == "signal");
    }
    std::vector<int> sizes;
    int signalAfterMs = 4000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--signal-after") == 0 && i + 1 < argc) {
            signalAfterMs = std::atoi(argv[++i]);
        } else {
            sizes.push_back(std::atoi(argv[i]));
        }
    }
    if (sizes.empty()) sizes = {10000, 1000000};

    const benchsupport::WindowChildren children("bench_list_add");
    if (!children.ready()) return 1;
    const SilentPort silent;
    if (silent.port() == 0) return 1;
    std::printf("加入下载列表 on every row of a grid of N songs, in the main window\n");
    std::printf("%-9s | %-10s | %-18s | %-20s | %-12s | %-17s | %s\n", "songs", "total (s)", "choice's slice (s)",
                "longest UI stall (s)", "in the list", "peak memory (MiB)", "UI thread's own (s)");
    int failures = 0;
    testsupport::TempDir dir;
    const std::string generated = dir.file("generated.mdb");
    const std::string storePath = dir.file("mysong.mdb");
    const auto freshStore = [&] {
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(storePath + suffix);
        fs::copy_file(generated, storePath);
    };
    for (int songs : sizes) {
        fs::remove(generated);
        generateStore(generated, songs, silent.port());
        freshStore();
        // In a folder of its own: the list's download folder is beside it.
        const auto run = children.run({storePath, std::to_string(songs), "add"}, dir.path().string());
        const std::vector<double> v = benchsupport::numbers(run.output, "FIGURES");
        if (!run.ok || v.size() != 6) {
            ++failures;
            continue;
        }
        std::printf("%-9d | %-10.3f | %-18.4f | %-20.4f | %-12.0f | %-17.1f | %.4f\n", songs, v[0], v[1], v[2], v[3],
                    v[4], v[5]);
        std::fflush(stdout);
        failures += bound(v[3] == songs, "a song missing from the list");
        failures += bound(v[2] <= 0.05, "a UI stall over 50 ms");
        if (songs == 10000) failures += bound(v[0] < 1.0, "10,000 songs in 1 s");
        if (songs == 1000000) failures += bound(v[0] < 30.0, "1,000,000 songs in 30 s");
    }
    const int largest = *std::max_element(sizes.begin(), sizes.end());
    freshStore();
    fs::remove(generated);
    generateStore(generated, largest, silent.port());
    freshStore();
    const auto run = children.run({storePath, std::to_string(largest), "signal"}, dir.path().string(),
                                  std::chrono::milliseconds(signalAfterMs));
    const std::vector<double> v = benchsupport::numbers(run.output, "FIGURES");
    if (v.size() != 6) {
        ++failures;
    } else {
        std::printf("\n%d songs, SIGTERM %d ms after the window started: the program ended %.3f s after it, the add "
                    "%s with %.0f songs in the list\n",
                    largest, signalAfterMs, run.endAfterSignal, v[3] < largest ? "cut short" : "over", v[3]);
        failures += bound(run.endAfterSignal >= 0 && run.endAfterSignal <= 1.0, "the end more than 1 s after SIGTERM");
    }
    return failures == 0 ? 0 : 1;
}
