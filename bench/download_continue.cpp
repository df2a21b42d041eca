// A song over a line that drops: MIB MiB served from loopback by a server
// that ends the connection at 30 %, 60 % and 90 % of the file and answers
// requests for the rest ("Range", "If-Range") with 206:
//   bench_download_continue [DLGET_PATH] [MIB=64] [ROUNDS=3]
// Each round downloads it with the download component as the program runs
// it (no window; the continuation pauses as in the program), then, with
// DLGET_PATH given, with dlget as a whole process; and, for comparison, the
// same file from a server that does not drop. Prints per round the time,
// the bytes received over the network (the run's BytesReceived; for dlget
// the bytes the server sent), the continuations and, for dlget, its peak
// resident memory (as /usr/bin/time reports it). Exits non-zero when a song did not arrive byte for byte
// as the server has it, or when more than 1 % beyond the song was read.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "download/component/DownloadComponent.h"
#include "platform/ui/UiHandoff.h"
#include "tests/support/LoopbackBodyServer.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using testsupport::RangeServer;

namespace {

struct Round {
    double seconds = -1;
    std::int64_t received = 0;
    int continuations = 0;
    double peakMiB = 0;
    bool whole = false;
};

bool sameBytes(const fs::path& path, const std::string& want) {
    std::ifstream in(path, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), {});
    return got == want;
}

RangeServer::Setup setup(const std::shared_ptr<const std::string>& body, bool drops) {
    RangeServer::Setup s;
    s.file = {body, "\"bench-song\"", "Sun, 06 Nov 1994 08:49:37 GMT"};
    if (drops) s.dropAt = {body->size() * 3 / 10, body->size() * 6 / 10, body->size() * 9 / 10};
    return s;
}

Round componentRound(const std::shared_ptr<const std::string>& body, bool drops, const fs::path& dir) {
    RangeServer server(setup(body, drops));
    dl::DownloadComponent get;
    get.URL = server.url("/song.mp3");
    get.DownloadDir = dir.string() + "/";
    get.DestinationName = "song.mp3";
    get.Downloads().ThreadCount = 1;
    bool done = false;
    get.OnProcessed = [&done](dl::DownloadComponent&) { done = true; };
    Round round;
    const auto start = std::chrono::steady_clock::now();
    get.Download(false, true);
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    get.Downloads().WaitForRun();
    round.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const dl::TDlDownloadItem& item = *get.CurrentItem();
    round.received = get.Downloads().BytesReceived.load();
    round.continuations = get.CurrentOutcome(false).value_or(dl::TransferOutcome{}).continuations;
    round.whole =
        item.Progress.State == dl::dsFinished && item.Progress.ErrorCode == 0 && sameBytes(dir / "song.mp3", *body);
    if (!round.whole)
        std::fprintf(stderr, "component: state %d, code %d (%s)\n", static_cast<int>(item.Progress.State.load()),
                     item.Progress.ErrorCode, item.Progress.ErrorMessage.c_str());
    fs::remove_all(dir);
    return round;
}

Round dlgetRound(const std::string& dlget, const std::shared_ptr<const std::string>& body, bool drops,
                 const fs::path& dir) {
    RangeServer server(setup(body, drops));
    const fs::path out = dir.string() + ".out";
    const fs::path peak = dir.string() + ".peak";
    // Through /usr/bin/time: a child forked from here would count this
    // process's copy of the song as its own.
    const testsupport::MeasuredRun run = testsupport::measuredRun(
        {"/usr/bin/time", "-f", "%M", "-o", peak.string(), dlget, "--dir", dir.string() + "/", "--name", "song.mp3",
         server.url("/song.mp3")},
        out.c_str());
    Round round;
    round.seconds = run.seconds;
    std::ifstream kib(peak);
    double peakKiB = 0;
    kib >> peakKiB;
    round.peakMiB = peakKiB / 1024;
    round.received = static_cast<std::int64_t>(server.bodyBytesSent());
    std::ifstream lines(out);
    std::string line;
    std::getline(lines, line);
    round.continuations = std::atoi(line.substr(line.rfind('\t') + 1).c_str());
    round.whole = run.seconds >= 0 && sameBytes(dir / "song.mp3", *body);
    if (!round.whole) std::fprintf(stderr, "dlget: %s\n", line.c_str());
    fs::remove_all(dir);
    fs::remove(out);
    fs::remove(peak);
    return round;
}

void print(const char* what, int i, const Round& r) {
    std::printf("round %d, %-22s %7.3f s, %10lld bytes received, %d continuations", i, what, r.seconds,
                static_cast<long long>(r.received), r.continuations);
    if (r.peakMiB > 0) std::printf(", %.1f MiB peak", r.peakMiB);
    std::printf("%s\n", r.whole ? "" : "  NOT WHOLE");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    platform::UiHandoff handoff;
    int arg = 1;
    std::string dlget;
    if (argc > arg && !std::isdigit(static_cast<unsigned char>(argv[arg][0]))) dlget = argv[arg++];
    const std::size_t mib = argc > arg ? std::strtoul(argv[arg++], nullptr, 10) : 64;
    const int rounds = argc > arg ? std::atoi(argv[arg]) : 3;
    const auto body = testsupport::patternBody(mib << 20, 7);
    const fs::path tmp = fs::temp_directory_path() / ("bench_continue." + std::to_string(::getpid()));
    bool ok = true;
    const auto check = [&](const Round& r, bool drops) {
        ok = ok && r.whole && r.received <= static_cast<std::int64_t>(body->size() * 101 / 100) &&
             r.continuations == (drops ? 3 : 0);
    };
    for (int i = 1; i <= rounds; ++i) {
        const Round plain = componentRound(body, false, tmp / "plain");
        const Round dropped = componentRound(body, true, tmp / "component");
        print("component, no drops:", i, plain);
        print("component, 3 drops:", i, dropped);
        check(plain, false);
        check(dropped, true);
        if (!dlget.empty()) {
            const Round d = dlgetRound(dlget, body, true, tmp / "dlget");
            print("dlget, 3 drops:", i, d);
            check(d, true);
        }
    }
    handoff.shutdown();
    fs::remove_all(tmp);
    std::printf("%zu MiB song, drops at 30, 60 and 90 %%: %s\n", mib,
                ok ? "arrived whole each time, about the song's bytes read" : "FAILED");
    return ok ? 0 : 1;
}
