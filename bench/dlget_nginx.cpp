// dlget against curl and aria2c on a loopback nginx (sendfile), whole
// processes taking turns:
//   bench_dlget_nginx DLGET_PATH [MIB=256] [ROUNDS=7] [SONGS=8] [SONG_MIB=16] [RATE_MIB_S=8] [JOB_ROUNDS=3]
// One file of MIB MiB at full speed, each round in turned order:
//   dlget --dir DIR/ URL      and      curl -s -o FILE URL
// then SONGS songs of SONG_MIB MiB, each connection held to RATE MiB/s, for
// N = 2 and 8 at once:
//   dlget --jobs N --dir DIR/ URL...
//   curl -s --parallel --parallel-immediate --parallel-max N -o FILE URL ...
//   aria2c -q -Z -j N -d DIR URL...
// Prints wall time and peak resident memory of each, then the medians.
// Exits non-zero when a run failed or a file is not whole, when dlget takes
// more than 1.1 x curl's wall time or peaks above 14 MiB for the one file, or
// when --jobs 8 peaks above 1.1 x aria2c -j8.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

void writeFile(const fs::path& path, std::size_t bytes, unsigned seed) {
    const auto body = testsupport::patternBody(bytes, seed);
    std::ofstream(path, std::ios::binary).write(body->data(), static_cast<std::streamsize>(body->size()));
}

bool whole(const std::vector<fs::path>& files, std::uintmax_t bytes) {
    for (const fs::path& f : files) {
        std::error_code e;
        if (fs::file_size(f, e) != bytes) return false;
    }
    return true;
}

struct Series {
    std::vector<double> seconds, peak;
    void add(const TimedCommand& r) {
        seconds.push_back(r.seconds);
        peak.push_back(r.peakMiB);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s DLGET_PATH [MIB=256] [ROUNDS=7] [SONGS=8] [SONG_MIB=16] [RATE_MIB_S=8] [JOB_ROUNDS=3]\n",
                     argv[0]);
        return 2;
    }
    const std::string dlget = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
    const int songs = argc > 4 ? std::atoi(argv[4]) : 8;
    const std::size_t songMib = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 16;
    const std::size_t rate = argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 8;
    const int jobRounds = argc > 7 ? std::atoi(argv[7]) : 3;
    for (const char* program : {"curl", "aria2c"}) {
        if (!benchsupport::onPath(program)) {
            std::fprintf(stderr, "%s is not installed (scripts/install-deps.sh installs it)\n", program);
            return 2;
        }
    }
    const fs::path tmp = fs::temp_directory_path() / ("bench_dlget_nginx." + std::to_string(::getpid()));
    fs::create_directories(tmp / "www");
    writeFile(tmp / "www" / "big.bin", mib << 20, 3);
    for (int n = 1; n <= songs; ++n) writeFile(tmp / "www" / (std::to_string(n) + ".mp3"), songMib << 20, 10 + n);

    int failures = 0;
    {
        benchsupport::NginxServer server(tmp / "www", rate << 20);
        const auto check = [&](const char* what, int round, const TimedCommand& r, bool complete) {
            std::printf("round %d: %s %.3f s, peak %.1f MiB%s\n", round, what, r.seconds, r.peakMiB,
                        r.ok && complete ? "" : " (failed or not whole)");
            if (!r.ok || !complete) ++failures;
        };

        // One large file at full speed.
        Series dl, curl;
        const fs::path dir = tmp / "out";
        for (int i = 0; i < rounds; ++i) {
            const auto runDlget = [&] {
                fs::create_directories(dir);
                const TimedCommand r = benchsupport::runTimed({dlget, "--dir", dir.string() + "/", server.url("/big.bin")},
                                                              "/dev/null");
                check("dlget", i + 1, r, whole({dir / "127.0.0.1_big.bin"}, mib << 20));
                dl.add(r);
                fs::remove_all(dir);
            };
            const auto runCurl = [&] {
                const fs::path file = tmp / "curl.bin";
                const TimedCommand r = benchsupport::runTimed({"curl", "-s", "-o", file.string(), server.url("/big.bin")},
                                                              "/dev/null");
                check("curl", i + 1, r, whole({file}, mib << 20));
                curl.add(r);
                fs::remove(file);
            };
            if (i % 2 == 0) {
                runDlget();
                runCurl();
            } else {
                runCurl();
                runDlget();
            }
        }
        const double ratio = median(dl.seconds) / median(curl.seconds);
        std::printf("%zu MiB file, median of %d: dlget %.3f s, peak %.1f MiB; curl %.3f s, peak %.1f MiB; time ratio %.2f\n",
                    mib, rounds, median(dl.seconds), median(dl.peak), median(curl.seconds), median(curl.peak), ratio);
        failures += benchsupport::bound(ratio <= 1.1, "dlget within 1.1 x curl's wall time");
        failures += benchsupport::bound(median(dl.peak) <= 14, "dlget's peak within 14 MiB");

        // Several songs at once, each connection held to the rate.
        double peak2 = 0;
        for (const int jobs : {2, 8}) {
            Series d, c, a;
            const std::string n = std::to_string(jobs);
            for (int i = 0; i < jobRounds; ++i) {
                std::vector<std::string> urls;
                for (int s = 1; s <= songs; ++s) urls.push_back(server.url("/slow/" + std::to_string(s) + ".mp3"));
                const auto runDlget = [&] {
                    fs::create_directories(dir);
                    std::vector<std::string> args = {dlget, "--jobs", n, "--dir", dir.string() + "/"};
                    std::vector<fs::path> files;
                    for (int s = 1; s <= songs; ++s) files.push_back(dir / ("127.0.0.1_" + std::to_string(s) + ".mp3"));
                    args.insert(args.end(), urls.begin(), urls.end());
                    const TimedCommand r = benchsupport::runTimed(args, "/dev/null");
                    check(("dlget --jobs " + n).c_str(), i + 1, r, whole(files, songMib << 20));
                    d.add(r);
                    fs::remove_all(dir);
                };
                const auto runCurl = [&] {
                    fs::create_directories(dir);
                    std::vector<std::string> args = {"curl", "-s", "--parallel", "--parallel-immediate", "--parallel-max", n};
                    std::vector<fs::path> files;
                    for (int s = 1; s <= songs; ++s) {
                        files.push_back(dir / ("c" + std::to_string(s)));
                        args.insert(args.end(), {"-o", files.back().string(), urls[s - 1]});
                    }
                    const TimedCommand r = benchsupport::runTimed(args, "/dev/null");
                    check(("curl --parallel-max " + n).c_str(), i + 1, r, whole(files, songMib << 20));
                    c.add(r);
                    fs::remove_all(dir);
                };
                const auto runAria = [&] {
                    fs::create_directories(dir);
                    std::vector<std::string> args = {"aria2c", "-q", "-Z", "-j", n, "--allow-overwrite=true", "-d", dir.string()};
                    std::vector<fs::path> files;
                    for (int s = 1; s <= songs; ++s) files.push_back(dir / (std::to_string(s) + ".mp3"));
                    args.insert(args.end(), urls.begin(), urls.end());
                    const TimedCommand r = benchsupport::runTimed(args, "/dev/null");
                    check(("aria2c -j" + n).c_str(), i + 1, r, whole(files, songMib << 20));
                    a.add(r);
                    fs::remove_all(dir);
                };
                std::vector<std::function<void()>> order = {runDlget, runCurl, runAria};
                std::rotate(order.begin(), order.begin() + i % 3, order.end());
                for (auto& step : order) step();
            }
            std::printf("%d songs of %zu MiB at %zu MiB/s, %d at once, median of %d: dlget --jobs %d %.3f s, peak %.1f MiB; "
                        "curl --parallel-max %d %.3f s, peak %.1f MiB; aria2c -j%d %.3f s, peak %.1f MiB; "
                        "time ratio to aria2c %.2f, peak ratio to aria2c %.2f\n",
                        songs, songMib, rate, jobs, jobRounds, jobs, median(d.seconds), median(d.peak), jobs,
                        median(c.seconds), median(c.peak), jobs, median(a.seconds), median(a.peak),
                        median(d.seconds) / median(a.seconds), median(d.peak) / median(a.peak));
            if (jobs == 2) peak2 = median(d.peak);
            if (jobs == 8) {
                std::printf("each song at once beyond 2 costs dlget %.2f MiB\n", (median(d.peak) - peak2) / 6);
                failures += benchsupport::bound(median(d.peak) <= 1.1 * median(a.peak),
                                                "dlget --jobs 8 peaks within 1.1 x aria2c -j8");
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(tmp, ignored);
    return failures == 0 ? 0 : 1;
}
