// Several songs at once, whole processes in the same run:
//   bench_dlget_jobs DLGET_PATH [SONGS=8] [MIB=16] [RATE_MIB_S=8] [ROUNDS=1]
// A loopback server holds each connection to RATE MiB/s and serves SONGS
// songs of MIB MiB (/song/N.mp3). Each round runs, taking turns at going
// first,
//   dlget --jobs 1 --dir TMP/1/ URL...
//   dlget --jobs 2 --dir TMP/2/ URL...
//   curl -s --parallel --parallel-immediate --parallel-max 2 -o TMP/c/N URL ...
// and prints each one's wall time, peak resident memory and the most
// connections the server saw open at once; then the medians and the ratio of
// --jobs 2 to --jobs 1. Exits non-zero when a run failed or a file is not
// whole, when --jobs 2 held more than 2 connections at once, or when it took
// more than 0.6 of the time of --jobs 1 (the rate limit makes it 0.5).
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/LoopbackBodyServer.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using testsupport::RangeServer;

namespace {

struct Measured {
    testsupport::MeasuredRun run;
    std::size_t connections = 0;
};

// Every song is there, whole.
bool allThere(const std::vector<fs::path>& files, std::uintmax_t bytes) {
    for (const fs::path& file : files) {
        std::error_code ignored;
        if (fs::file_size(file, ignored) != bytes) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DLGET_PATH [SONGS=8] [MIB=16] [RATE_MIB_S=8] [ROUNDS=1]\n", argv[0]);
        return 2;
    }
    const std::string dlget = argv[1];
    const int songs = argc > 2 ? std::atoi(argv[2]) : 8;
    const std::size_t mib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 16;
    const std::size_t rate = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 8;
    const int rounds = argc > 5 ? std::atoi(argv[5]) : 1;
    const std::size_t bytes = mib << 20;
    const auto body = testsupport::patternBody(bytes, 11);

    const fs::path tmp = fs::temp_directory_path() / ("bench_dlget_jobs." + std::to_string(::getpid()));
    std::vector<std::string> urls;
    std::vector<double> one, two, curl;
    bool ok = true;
    for (int round = 0; round < rounds && ok; ++round) {
        // What each of the three ways does, on a server of its own (so that
        // the connections counted are its own).
        const auto measure = [&](const std::string& what) {
            RangeServer::Setup setup;
            setup.file = {body, "\"bench\"", ""};
            setup.bytesPerSecond = rate << 20;
            RangeServer server(setup);
            std::vector<std::string> argv;
            std::vector<fs::path> files;
            const fs::path dir = tmp / what;
            fs::create_directories(dir);
            if (what == "curl") {
                // At once: curl would otherwise wait to see whether a second
                // transfer can share the first one's connection.
                argv = {"curl", "-s", "--no-progress-meter", "--fail", "--parallel", "--parallel-immediate",
                        "--parallel-max", "2"};
                for (int n = 1; n <= songs; ++n) {
                    files.push_back(dir / ("c" + std::to_string(n)));
                    argv.insert(argv.end(), {"-o", files.back().string(), server.url("/song/" + std::to_string(n) + ".mp3")});
                }
            } else {
                argv = {dlget, "--jobs", what == "jobs1" ? "1" : "2", "--dir", dir.string() + "/"};
                for (int n = 1; n <= songs; ++n) {
                    argv.push_back(server.url("/song/" + std::to_string(n) + ".mp3"));
                    files.push_back(dir / ("127.0.0.1_" + std::to_string(n) + ".mp3"));
                }
            }
            Measured m;
            m.run = testsupport::measuredRun(argv, "/dev/null");
            m.connections = server.maxOpenConnections();
            if (m.run.seconds >= 0 && !allThere(files, bytes)) m.run.seconds = -1;
            std::error_code ignored;
            fs::remove_all(dir, ignored);
            return m;
        };
        std::vector<std::string> order = {"jobs1", "jobs2", "curl"};
        std::rotate(order.begin(), order.begin() + round % 3, order.end());
        for (const std::string& what : order) {
            const Measured m = measure(what);
            std::printf("round %d: %s %.3f s, %.1f MiB peak, %zu connections at once at most\n", round + 1,
                        what == "curl" ? "curl --parallel-max 2" : what == "jobs1" ? "dlget --jobs 1" : "dlget --jobs 2",
                        m.run.seconds, m.run.peakMiB, m.connections);
            if (m.run.seconds < 0) {
                std::fprintf(stderr, "round %d: %s failed or left a song short\n", round + 1, what.c_str());
                ok = false;
            }
            if (what == "jobs2" && m.connections > 2) {
                std::fprintf(stderr, "round %d: --jobs 2 held %zu connections at once\n", round + 1, m.connections);
                ok = false;
            }
            (what == "jobs1" ? one : what == "jobs2" ? two : curl).push_back(m.run.seconds);
        }
    }
    std::error_code ignored;
    fs::remove_all(tmp, ignored);
    if (!ok) return 1;
    const double t1 = testsupport::median(one), t2 = testsupport::median(two), tc = testsupport::median(curl);
    std::printf("%d songs of %zu MiB at %zu MiB/s per connection, median of %d: dlget --jobs 1 %.3f s, "
                "dlget --jobs 2 %.3f s, curl --parallel-max 2 %.3f s, ratio %.2f (target <= 0.60)\n",
                songs, mib, rate, rounds, t1, t2, tc, t2 / t1);
    return t2 / t1 <= 0.6 ? 0 : 1;
}
