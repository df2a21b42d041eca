#include "tools/dlget/OneSongMode.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>
#include <vector>


#include "download/component/DownloadQueue.h"
#include "download/component/KeptPartHandover.h"
#include "download/component/SongLinks.h"
#include "download/files/DlFileNames.h"
#include "download/inet/LinkProber.h"
#include "download/texts/DownloadErrors.h"
#include "platform/EventLoop.h"
#include "platform/LoopHandoff.h"
#include "platform/TerminationSignalPipe.h"
#include "tools/common/StandardStreams.h"
#include "tools/dlget/OutputField.h"

namespace dlget {
namespace {

constexpr const char* kOneSongUsage =
    "usage: dlget --one-song [--dir DIR] [--name NAME] URL...\n"
    "  Downloads one song from its links, as the BrelvoMP3 downloads list does:\n"
    "  the first URL first; the others are probed at once (as --probe does) and,\n"
    "  when a link fails for good (dead, host unreachable, a server still failing\n"
    "  after its tries, or an answer that is not MPEG audio), the song takes the\n"
    "  next: audio first (higher kbps, then larger), then the others; links\n"
    "  found dead are left out; at most 4 further links. Only MPEG audio is\n"
    "  saved, into DIR (default downmp3/) as NAME (default: the name made from\n"
    "  the first URL). Bytes kept of a link go on from the next only when it\n"
    "  serves the same file (the same length and first 16 KiB). Prints one line:\n"
    "    state TAB ErrorCode TAB ErrorMessage TAB LocalFileName TAB URL TAB links\n"
    "  state finished or failed, URL the link that worked (or the last tried),\n"
    "  links how many were tried; a failure's message says why each failed.\n"
    "  Exit status 0 when the song was saved and the line written, else 1; 2 for\n"
    "  a wrong argument.\n";

struct OneSongArgs {
    std::string dir = "downmp3/";
    std::string name;
    std::vector<std::string> urls;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "dlget: %s\n%s", what.c_str(), kOneSongUsage);
    return 2;
}

std::string failureText(const dl::TransferOutcome& result) {
    if (result.statusCode != 0 && result.errorCode == dl::kErrServerRefused)
        return "HTTP " + std::to_string(result.statusCode);
    return result.message.empty() ? "error " + std::to_string(result.errorCode) : result.message;
}

}  // namespace

int runOneSong(int argc, char** argv) {
    OneSongArgs args;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kOneSongUsage, stdout);
            return tools::finishStandardOutput("dlget") ? 0 : 1;
        }
        if (arg == "--dir" || arg == "--name") {
            if (i + 1 >= argc) return usageError(std::string(arg) + " needs a value");
            (arg == "--dir" ? args.dir : args.name) = argv[++i];
            if (args.dir.empty()) return usageError("--dir needs a folder");
            continue;
        }
        if (arg.size() > 1 && arg.front() == '-') return usageError("unknown option " + std::string(arg));
        args.urls.emplace_back(arg);
    }
    if (args.urls.empty()) return usageError("--one-song needs a URL");
    if (args.name.empty()) args.name = dl::DefaultFileName(args.urls.front());

    platform::EventLoop loop;
    platform::LoopHandoff handoff(loop);
    inet::LinkProber prober(dl::HandoverProbeSettings());
    dl::DownloadQueue queue;
    queue.Parallel = 1;
    bool interrupted = false;
    platform::TerminationSignalPipe termination([&](int) {
        interrupted = true;
        prober.stop();
        queue.StopAll();
    });
    loop.watch(termination.fd(), [&termination] { termination.readSignals(); });

    // What the other links are, before the first may fail: probed on a
    // thread of their own while the first downloads.
    std::vector<dl::LinkCandidate> candidates;
    const std::vector<std::string> others(args.urls.begin() + 1, args.urls.end());
    std::thread probing;
    if (!others.empty()) {
        probing = std::thread([&] {
            const auto outcomes = prober.probeAll(others);
            const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
            for (std::size_t i = 0; i < others.size(); ++i) {
                // A probe cut short says nothing of its link.
                if (outcomes[i].verdict.code == dl::kErrOperationCancelled)
                    candidates.push_back({others[i], std::nullopt, 0});
                else
                    candidates.push_back({others[i], outcomes[i].verdict, now});
            }
        });
    }
    auto awaitProbes = [&] {
        if (probing.joinable()) probing.join();
    };

    std::vector<std::string> tried;
    std::vector<std::string> failures;
    dl::TransferOutcome last;
    auto start = [&](const std::string& url) {
        tried.push_back(url);
        dl::QueuedSong song{url, args.dir, args.name, std::string(), true};
        queue.Add(static_cast<dl::DownloadQueue::Id>(tried.size()), song);
    };
    queue.OnEnded = [&](dl::DownloadQueue::Id, const dl::TransferOutcome& result) {
        last = result;
        if (interrupted || result.end() != dl::TransferOutcome::End::Failed || !dl::MovesToNextLink(result)) {
            loop.quit();
            return;
        }
        failures.push_back("link " + std::to_string(tried.size()) + " " + failureText(result));
        awaitProbes();
        const std::vector<std::string> next =
            tried.size() > dl::kMaxFurtherLinks
                ? std::vector<std::string>()
                : dl::OrderNextLinks(candidates, tried, static_cast<std::int64_t>(std::time(nullptr)));
        if (next.empty() || interrupted) {
            loop.quit();
            return;
        }
        if (result.kept && result.failure != dl::FailureClass::NotAudio)
            dl::HandKeptPartTo(args.dir, result.url, args.name, next.front(), prober);
        start(next.front());
    };
    loop.post([&] {
        if (interrupted) {
            loop.quit();
            return;
        }
        start(args.urls.front());
    });
    loop.exec();
    prober.stop();
    awaitProbes();
    if (tried.empty()) return 1;

    const bool saved = last.end() == dl::TransferOutcome::End::Finished && !last.filePath.empty();
    std::string message = last.message;
    if (!saved && !failures.empty()) {
        if (last.end() == dl::TransferOutcome::End::Failed && !dl::MovesToNextLink(last))
            failures.push_back("link " + std::to_string(tried.size()) + " " + failureText(last));
        message.clear();
        for (const std::string& f : failures) message += (message.empty() ? "" : "; ") + f;
    }
    std::printf("%s\t%d\t%s\t%s\t%s\t%zu\n", saved ? "finished" : "failed", last.errorCode, field(message).c_str(),
                field(last.filePath).c_str(), field(tried.back()).c_str(), tried.size());
    const bool written = tools::finishStandardOutput("dlget");
    return saved && written ? 0 : 1;
}

}  // namespace dlget
