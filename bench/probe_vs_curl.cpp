// Probing many links against curl on the same links:
//   bench_probe_vs_curl [HOSTS=15] [LINKS=300] [DELAY_MS=1000]
// Starts HOSTS loopback servers (one port each, so each a host of its own)
// that answer every request after DELAY_MS with a 128 kbps MP3 of 100 KiB,
// honouring the range; spreads LINKS links over them. Then times
//   the program's probe of every link (16 at once, 4 per host)   and
//   curl --parallel --parallel-max 16 -r 0-16383 -s -o /dev/null ... on the same links
// and prints both, their ratio and the body bytes each read. Exits non-zero
// when the probe takes more than 1.2 times curl's time, or a link is not
// judged audio.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/Figures.h"
#include "download/inet/LinkProber.h"
#include "tests/support/MpegFrames.h"
#include "tests/support/ProbeServer.h"
#include "tests/support/ToolRun.h"

int main(int argc, char** argv) {
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 15;
    const int links = argc > 2 ? std::atoi(argv[2]) : 300;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 1000;

    testsupport::ProbeServer::Route song;
    for (int i = 0; i < 250; ++i) song.body += probetest::frame(probetest::FrameSpec{}, 417);
    song.delay = std::chrono::milliseconds(delayMs);
    std::vector<std::unique_ptr<testsupport::ProbeServer>> servers;
    for (int h = 0; h < hosts; ++h) {
        std::map<std::string, testsupport::ProbeServer::Route> routes;
        for (int l = h; l < links; l += hosts) routes["/song" + std::to_string(l) + ".mp3"] = song;
        servers.push_back(std::make_unique<testsupport::ProbeServer>(std::move(routes)));
    }
    std::vector<std::string> urls;
    for (int l = 0; l < links; ++l) urls.push_back(servers[l % hosts]->url("/song" + std::to_string(l) + ".mp3"));

    auto start = benchsupport::Clock::now();
    inet::LinkProber prober;
    const auto outcomes = prober.probeAll(urls);
    const double probeSeconds = benchsupport::secondsSince(start);
    int audio = 0;
    std::uint64_t probeBytes = 0;
    for (const auto& o : outcomes) {
        audio += o.verdict.state == probe::LinkState::Audio;
        probeBytes += o.bodyBytes;
    }

    std::vector<std::string> args = {"--parallel", "--parallel-max", "16", "-r", "0-16383", "-s"};
    for (const auto& url : urls) {
        args.push_back("-o");
        args.push_back("/dev/null");
        args.push_back(url);
    }
    start = benchsupport::Clock::now();
    const auto curl = testsupport::runTool("/usr/bin/curl", args, std::chrono::seconds(600));
    const double curlSeconds = benchsupport::secondsSince(start);
    if (!curl.finished || curl.exitCode != 0) {
        std::printf("curl failed (%d): %s\n", curl.exitCode, curl.err.c_str());
        return 1;
    }
    const double ratio = probeSeconds / curlSeconds;
    std::printf("%d links over %d hosts answering after %d ms\n", links, hosts, delayMs);
    std::printf("  probe: %.2f s, %d of %d audio, %.1f KiB of bodies read\n", probeSeconds, audio, links,
                probeBytes / 1024.0);
    std::printf("  curl --parallel --parallel-max 16 -r 0-16383: %.2f s\n", curlSeconds);
    std::printf("  ratio: %.3f\n", ratio);
    return benchsupport::bound(ratio <= 1.2, "a probe slower than 1.2 times curl") +
                   benchsupport::bound(audio == links, "a link not judged audio")
               ? 1
               : 0;
}
