#include "tools/dlget/ProbeMode.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>


#include "download/inet/LinkProber.h"
#include "platform/EventLoop.h"
#include "platform/TerminationSignalPipe.h"
#include "tools/common/StandardStreams.h"
#include "tools/dlget/OutputField.h"

namespace dlget {
namespace {

constexpr const char* kProbeUsage =
    "usage: dlget --probe URL...\n"
    "  Probes each URL as BrelvoMP3 checks a song link: one GET of its first\n"
    "  16 KiB (and of the 16 KiB where the audio starts when a tag is longer),\n"
    "  16 links at once and 4 per host, 5 s to connect and 10 s in all; never\n"
    "  more than 128 KiB of a song. Prints one line per URL, in the order given:\n"
    "    VERDICT TAB code TAB reason TAB bytes TAB kbps TAB seconds TAB URL\n"
    "  VERDICT is audio (MPEG audio), notaudio (a web page, an empty body,\n"
    "  anything else) or dead (HTTP 404, 410, 403, a name not found, refused,\n"
    "  timed out; also 429 and 5xx, which may pass); code is the HTTP status or\n"
    "  the error number; bytes the whole file's size, kbps and seconds the\n"
    "  song's, each - when unknown. Exit status 0 when every URL is audio and\n"
    "  the lines were written, else 1; 2 for a wrong argument.\n";

template <typename T>
std::string orDash(const std::optional<T>& value) {
    return value ? std::to_string(*value) : std::string("-");
}

std::string secondsText(const std::optional<double>& seconds) {
    if (!seconds) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *seconds);
    return text;
}

}  // namespace

int runProbe(int argc, char** argv) {
    std::vector<std::string> urls;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kProbeUsage, stdout);
            return tools::finishStandardOutput("dlget") ? 0 : 1;
        }
        if (arg.size() > 1 && arg.front() == '-') {
            std::fprintf(stderr, "dlget: --probe takes URLs only, not %s\n%s", argv[i], kProbeUsage);
            return 2;
        }
        urls.emplace_back(arg);
    }
    if (urls.empty()) {
        std::fprintf(stderr, "dlget: --probe needs a URL\n%s", kProbeUsage);
        return 2;
    }

    // The probes run on a thread of their own, so that a signal, read on
    // this thread's event loop, can stop them: what was not judged by then
    // prints as dead (12017).
    platform::EventLoop loop;
    inet::LinkProber prober;
    platform::TerminationSignalPipe termination([&prober](int) { prober.stop(); });
    loop.watch(termination.fd(), [&termination] { termination.readSignals(); });
    std::vector<inet::ProbeOutcome> outcomes;
    std::thread probing([&] {
        outcomes = prober.probeAll(urls);
        loop.quit();
    });
    loop.exec();
    probing.join();
    bool allAudio = true;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const probe::LinkVerdict& v = outcomes[i].verdict;
        allAudio = allAudio && v.state == probe::LinkState::Audio;
        std::printf("%s\t%d\t%s\t%s\t%s\t%s\t%s\n", probe::stateWord(v.state), v.code, field(v.reason).c_str(),
                    orDash(v.size).c_str(), orDash(v.kbps).c_str(), secondsText(v.seconds).c_str(),
                    field(urls[i]).c_str());
    }
    const bool written = tools::finishStandardOutput("dlget");
    return allAudio && written ? 0 : 1;
}

}  // namespace dlget
