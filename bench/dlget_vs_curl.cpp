// Whole-process comparison of `dlget` against curl on one large file served
// from loopback, in the same run:
//   bench_dlget_vs_curl DLGET_PATH [MIB=256] [ROUNDS=5]
// Serves "HTTP/1.1 200 OK" with a Content-Length body of MIB MiB on
// 127.0.0.1 (ephemeral port), then alternately runs
//   dlget --dir TMPDIR/dlget/ URL      and      curl -s -o TMPDIR/curl.bin URL
// and prints each run's wall time and peak resident memory (the kernel's
// count for the child, as /usr/bin/time -v reports it), the medians and
// their ratio. Exits non-zero when dlget's median time is above curl's or
// its peak above 64 MiB: the bytes go to the file as they arrive.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/LoopbackBodyServer.h"

namespace fs = std::filesystem;
using testsupport::median;

using Run = testsupport::MeasuredRun;

namespace {

Run measured(const std::vector<std::string>& argv) { return testsupport::measuredRun(argv, "/dev/null"); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DLGET_PATH [MIB=256] [ROUNDS=5]\n", argv[0]);
        return 2;
    }
    const std::string dlget = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::size_t bytes = mib << 20;

    testsupport::LoopbackBodyServer server(bytes);
    const std::string url = server.url("/song.mp3");
    const fs::path tmp = fs::temp_directory_path() / ("bench_dlget." + std::to_string(::getpid()));
    fs::create_directories(tmp);
    const std::string dlgetDir = (tmp / "dlget").string() + "/";
    const fs::path dlgetFile = tmp / "dlget" / ("127.0.0.1_song.mp3");
    const std::string curlFile = (tmp / "curl.bin").string();

    std::vector<double> dlgetTimes, curlTimes, dlgetPeaks, curlPeaks;
    bool ok = true;
    for (int i = 0; i < rounds && ok; ++i) {
        // Alternate who goes first, so neither always meets a warm page cache.
        Run d, c;
        if (i % 2 == 0) {
            d = measured({dlget, "--dir", dlgetDir, url});
            c = measured({"curl", "-s", "-o", curlFile, url});
        } else {
            c = measured({"curl", "-s", "-o", curlFile, url});
            d = measured({dlget, "--dir", dlgetDir, url});
        }
        std::error_code ignored;
        const auto dlgetSize = fs::file_size(dlgetFile, ignored);
        if (d.seconds < 0 || c.seconds < 0 || dlgetSize != bytes) {
            std::fprintf(stderr, "round %d: a run failed (dlget %.3f s, %ju bytes; curl %.3f s)\n", i + 1, d.seconds,
                         static_cast<std::uintmax_t>(dlgetSize), c.seconds);
            ok = false;
        } else {
            std::printf("round %d: dlget %.3f s, %.1f MiB peak; curl %.3f s, %.1f MiB peak\n", i + 1, d.seconds,
                        d.peakMiB, c.seconds, c.peakMiB);
            dlgetTimes.push_back(d.seconds);
            curlTimes.push_back(c.seconds);
            dlgetPeaks.push_back(d.peakMiB);
            curlPeaks.push_back(c.peakMiB);
        }
        fs::remove_all(tmp / "dlget", ignored);
        fs::remove(curlFile, ignored);
    }
    fs::remove_all(tmp);
    if (!ok) return 1;

    const double td = median(dlgetTimes), tc = median(curlTimes);
    const double peak = *std::max_element(dlgetPeaks.begin(), dlgetPeaks.end());
    const double peakLimit = 64;
    std::printf("%zu MiB file, median of %d: dlget %.3f s, curl %.3f s, ratio %.2f (target <= 1.00)\n", mib, rounds, td,
                tc, td / tc);
    std::printf("peak resident memory: dlget %.1f MiB at most (target <= %.1f MiB), curl %.1f MiB\n", peak, peakLimit,
                *std::max_element(curlPeaks.begin(), curlPeaks.end()));
    return td <= tc && peak <= peakLimit ? 0 : 1;
}
