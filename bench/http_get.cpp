// Whole-process comparison of `netget` against curl on one large body served
// from loopback:
//   bench_http_get NETGET_PATH [MIB=100] [ROUNDS=5]
// Serves "HTTP/1.1 200 OK" with a Content-Length body of MIB MiB on
// 127.0.0.1 (ephemeral port), then alternately runs
//   netget URL > /dev/null      and      curl -s -o TMPFILE URL
// and prints each run's wall time, the medians and their ratio.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/LoopbackBodyServer.h"

using testsupport::median;
using testsupport::timedRun;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NETGET_PATH [MIB=100] [ROUNDS=5]\n", argv[0]);
        return 2;
    }
    const std::string netget = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

    testsupport::LoopbackBodyServer server(mib << 20);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/big.bin";
    const auto tmpDir = std::filesystem::temp_directory_path() /
                        ("bench_http_get." + std::to_string(::getpid()));
    std::filesystem::create_directories(tmpDir);
    const std::string curlFile = (tmpDir / "body.bin").string();

    std::vector<double> netgetTimes, curlTimes;
    for (int i = 0; i < rounds; ++i) {
        const double tn = timedRun({netget, url}, "/dev/null");
        const double tc = timedRun({"curl", "-s", "-o", curlFile, url}, "/dev/null");
        if (tn < 0 || tc < 0) {
            std::fprintf(stderr, "round %d: a run failed (netget %.3f, curl %.3f)\n", i + 1, tn, tc);
            std::filesystem::remove_all(tmpDir);
            return 1;
        }
        std::printf("round %d: netget %.3f s, curl %.3f s\n", i + 1, tn, tc);
        netgetTimes.push_back(tn);
        curlTimes.push_back(tc);
    }
    std::filesystem::remove_all(tmpDir);
    const double mn = median(netgetTimes), mc = median(curlTimes);
    std::printf("%zu MiB body, median of %d: netget %.3f s, curl %.3f s, ratio %.2f (target <= 1.25)\n",
                mib, rounds, mn, mc, mn / mc);
    return mn <= 1.25 * mc ? 0 : 1;
}
