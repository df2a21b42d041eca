// One item of MIB MiB through a whole run of the download engine over
// loopback (manager and download thread, reports handed to the UI thread,
// the bytes into the item's memory), beside `curl -s -o /dev/null` on the
// same server in the same run:
//   bench_download_run [MIB=256] [ROUNDS=11]
// Prints each round, the medians in MB/s and their ratio; exits non-zero
// when the engine's rate is below 0.8 of curl's.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "download/engine/TDlDownloads.h"
#include "platform/ui/UiHandoff.h"
#include "tests/support/LoopbackBodyServer.h"

namespace {

struct EngineRound {
    double seconds = -1;
    int reports = 0;
};

EngineRound engineRound(const std::string& url, std::size_t bytes) {
    dl::TDlDownloads downloads;
    downloads.ThreadCount = 1;
    EngineRound round;
    bool done = false;
    downloads.OnItemProgress = [&](dl::TDlDownloadItem&) { ++round.reports; };
    downloads.OnAllDone = [&](dl::TDlDownloads&) { done = true; };
    dl::TDlDownloadItem& item = downloads.AddItem();
    item.Request.URL = url;
    const auto start = std::chrono::steady_clock::now();
    downloads.StartAsync();
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const auto end = std::chrono::steady_clock::now();
    downloads.WaitForRun();
    if (item.Progress.State != dl::dsFinished || item.Progress.Data.Size() != bytes) {
        std::fprintf(stderr, "engine: item ended with state %d, code %d (%s), %zu bytes\n",
                     static_cast<int>(item.Progress.State.load()), item.Progress.ErrorCode,
                     item.Progress.ErrorMessage.c_str(), item.Progress.Data.Size());
        return round;
    }
    round.seconds = std::chrono::duration<double>(end - start).count();
    return round;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    platform::UiHandoff handoff;
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 11;
    const std::size_t bytes = mib << 20;
    testsupport::LoopbackBodyServer server(bytes);
    const std::string url = server.url("/song.mp3");

    std::vector<double> engineTimes, curlTimes;
    for (int i = 0; i < rounds; ++i) {
        const EngineRound engine = engineRound(url, bytes);
        const double curl = testsupport::timedRun({"curl", "-s", "-o", "/dev/null", url}, "/dev/null");
        if (engine.seconds < 0 || curl < 0) {
            std::fprintf(stderr, "round %d: a run failed (engine %.3f s, curl %.3f s)\n", i + 1, engine.seconds, curl);
            handoff.shutdown();
            return 1;
        }
        std::printf("round %d: engine %.3f s (%d reports), curl %.3f s\n", i + 1, engine.seconds, engine.reports,
                    curl);
        engineTimes.push_back(engine.seconds);
        curlTimes.push_back(curl);
    }
    handoff.shutdown();
    // The first round writes into fresh memory; later ones may reuse the
    // mapping the round before released.
    std::printf("first round: engine %.0f MB/s, curl %.0f MB/s\n", bytes / 1e6 / engineTimes.front(),
                bytes / 1e6 / curlTimes.front());
    const double mbEngine = bytes / 1e6 / testsupport::median(engineTimes);
    const double mbCurl = bytes / 1e6 / testsupport::median(curlTimes);
    std::printf("%zu MiB, median of %d: engine %.0f MB/s, curl -s -o /dev/null %.0f MB/s, ratio %.2f (target >= 0.8)\n",
                mib, rounds, mbEngine, mbCurl, mbEngine / mbCurl);
    return mbEngine >= 0.8 * mbCurl ? 0 : 1;
}
