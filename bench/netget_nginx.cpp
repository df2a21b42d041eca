// netget against curl on a loopback nginx (sendfile), whole processes taking
// turns:
//   bench_netget_nginx NETGET_PATH [MIB=256] [ROUNDS=7]
// Each round runs, the order turned every round,
//   netget URL > FILE            and   curl -s -o FILE URL
//   netget URL > /dev/null       and   curl -s -o /dev/null URL
//   netget URL | (a reader)
// and prints wall time, CPU time and peak resident memory of each; then the
// medians and ratios. Exits non-zero when netget into a file takes more than
// 1.1 x curl's wall time, or when its peak, into a file or into a pipe (where
// the body waits whole in memory until it is complete), is above the body
// plus 16 MiB.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/Figures.h"
#include "bench/support/NginxServer.h"
#include "bench/support/TimedCommand.h"
#include "tests/support/RangeServer.h"

namespace fs = std::filesystem;
using benchsupport::median;
using benchsupport::TimedCommand;

namespace {

struct Series {
    std::vector<double> seconds, cpu, peak;
    void add(const TimedCommand& r) {
        seconds.push_back(r.seconds);
        cpu.push_back(r.cpuSeconds);
        peak.push_back(r.peakMiB);
    }
    std::string text() const {
        char line[128];
        std::snprintf(line, sizeof line, "%.3f s, cpu %.3f s, peak %.1f MiB", median(seconds), median(cpu),
                      median(peak));
        return line;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NETGET_PATH [MIB=256] [ROUNDS=7]\n", argv[0]);
        return 2;
    }
    const std::string netget = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
    if (!benchsupport::onPath("curl")) {
        std::fprintf(stderr, "curl is not installed\n");
        return 2;
    }
    const fs::path tmp = fs::temp_directory_path() / ("bench_netget_nginx." + std::to_string(::getpid()));
    fs::create_directories(tmp / "www");
    {
        const auto body = testsupport::patternBody(mib << 20, 7);
        std::ofstream(tmp / "www" / "big.bin", std::ios::binary)
            .write(body->data(), static_cast<std::streamsize>(body->size()));
    }
    int failures = 0;
    {
        benchsupport::NginxServer server(tmp / "www", 8 << 20);
        const std::string url = server.url("/big.bin");
        const std::string file = (tmp / "out.bin").string();
        Series netgetFile, curlFile, netgetNull, curlNull, netgetPipe;
        for (int i = 0; i < rounds; ++i) {
            const auto one = [&](Series& series, const char* what, const TimedCommand& r) {
                std::printf("round %d: %s %.3f s, cpu %.3f s, peak %.1f MiB%s\n", i + 1, what, r.seconds,
                            r.cpuSeconds, r.peakMiB, r.ok ? "" : " (failed)");
                if (!r.ok) ++failures;
                series.add(r);
            };
            const auto netgetToFile = [&] {
                one(netgetFile, "netget > FILE", benchsupport::runTimed({netget, url}, file));
                std::error_code e;
                if (fs::file_size(file, e) != (mib << 20)) {
                    std::fprintf(stderr, "round %d: netget's file is not whole\n", i + 1);
                    ++failures;
                }
            };
            const auto curlToFile = [&] {
                one(curlFile, "curl -o FILE", benchsupport::runTimed({"curl", "-s", "-o", file, url}, "/dev/null"));
            };
            if (i % 2 == 0) {
                netgetToFile();
                curlToFile();
                one(netgetNull, "netget > /dev/null", benchsupport::runTimed({netget, url}, "/dev/null"));
                one(curlNull, "curl -o /dev/null", benchsupport::runTimed({"curl", "-s", "-o", "/dev/null", url}, "/dev/null"));
            } else {
                curlToFile();
                netgetToFile();
                one(curlNull, "curl -o /dev/null", benchsupport::runTimed({"curl", "-s", "-o", "/dev/null", url}, "/dev/null"));
                one(netgetNull, "netget > /dev/null", benchsupport::runTimed({netget, url}, "/dev/null"));
            }
            one(netgetPipe, "netget | reader", benchsupport::runTimedIntoPipe({netget, url}));
            std::error_code ignored;
            fs::remove(file, ignored);
        }
        const double ratioFile = median(netgetFile.seconds) / median(curlFile.seconds);
        const double ratioNull = median(netgetNull.seconds) / median(curlNull.seconds);
        const double peakLimit = static_cast<double>(mib) + 16;
        std::printf("%zu MiB body into a file, median of %d: netget %s; curl %s; time ratio %.2f, cpu ratio %.2f\n", mib,
                    rounds, netgetFile.text().c_str(), curlFile.text().c_str(), ratioFile,
                    median(netgetFile.cpu) / median(curlFile.cpu));
        std::printf("%zu MiB body into /dev/null, median of %d: netget %s; curl %s; time ratio %.2f\n", mib, rounds,
                    netgetNull.text().c_str(), curlNull.text().c_str(), ratioNull);
        std::printf("%zu MiB body into a pipe, median of %d: netget %s\n", mib, rounds, netgetPipe.text().c_str());
        failures += benchsupport::bound(ratioFile <= 1.1, "netget into a file within 1.1 x curl's wall time");
        failures += benchsupport::bound(median(netgetFile.peak) <= peakLimit, "netget into a file within body + 16 MiB");
        failures += benchsupport::bound(median(netgetPipe.peak) <= peakLimit, "netget into a pipe within body + 16 MiB");
    }
    std::error_code ignored;
    fs::remove_all(tmp, ignored);
    return failures == 0 ? 0 : 1;
}
