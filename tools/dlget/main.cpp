// dlget [--dir DIR] [--name NAME] [--size-limit BYTES] [--older DAYS]
//       [--check-only] [--load-images] [--connect-timeout SECONDS]
//       [--data-timeout SECONDS] [--speed-limit BYTES] [--speed-time SECONDS]
//       [--no-continue] [--no-retry] [--retry-delay SECONDS] [--jobs N] URL...
// dlget --probe URL...   (tools/dlget/ProbeMode.h)
// dlget --one-song [--dir DIR] [--name NAME] URL...   (tools/dlget/OneSongMode.h)
// The program's downloads without a window, for scripts and black-box
// tests: each URL is a song of the download queue (the songs a download
// thread each, N at a time, the handlers reached through the notifier on
// this thread's event loop, a plain one without Qt, page mode included),
// written as the download component writes one. Then, for each URL in the order given, as soon as it
// and every URL before it have ended, it prints one line for the song and
// one for each item its page brought:
//   state TAB ErrorCode TAB ErrorMessage TAB LocalFileName TAB URL TAB continued
// with state "finished" or "failed", LocalFileName empty when no file was
// written, and continued the item's Continuations (how often the download
// picked up where it had stopped). Exit status 0 when every item finished with code 0 and its file
// written (with --check-only: finished with code 0) and the lines were
// written, else 1; 2 for a wrong argument (--help prints the usage and
// exits with 0).
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "download/component/DownloadQueue.h"
#include "download/engine/TDlDownloads.h"
#include "platform/EventLoop.h"
#include "platform/LoopHandoff.h"
#include "platform/TerminationSignalPipe.h"
#include "tools/common/StandardStreams.h"
#include "tools/dlget/OutputField.h"
#include "tools/dlget/OneSongMode.h"
#include "tools/dlget/ProbeMode.h"

namespace {

using dlget::field;

constexpr int kUsageError = 2;
constexpr const char* kUsage =
    "usage: dlget [--dir DIR] [--name NAME] [--size-limit BYTES] [--older DAYS]\n"
    "             [--check-only] [--load-images] [--connect-timeout SECONDS]\n"
    "             [--data-timeout SECONDS] [--speed-limit BYTES] [--speed-time SECONDS]\n"
    "             [--no-continue] [--no-retry] [--retry-delay SECONDS] [--jobs N] URL...\n"
    "       dlget --probe URL...   (see dlget --probe --help)\n"
    "       dlget --one-song [--dir DIR] [--name NAME] URL...   (see dlget --one-song --help)\n"
    "  Downloads each URL as BrelvoMP3 downloads a song, without its window,\n"
    "  N at a time (--jobs, default 1, at most 30), into DIR (default downmp3/,\n"
    "  made when missing) under NAME (one URL only; default: the host, \"_\"\n"
    "  and the last part of the URL, made safe). An HTML answer is\n"
    "  saved with \".htm\" and its frames and backgrounds (with --load-images also\n"
    "  its images) beside it. --size-limit fails a download longer than BYTES,\n"
    "  --older one last modified more than DAYS ago; --check-only fetches the\n"
    "  headers only. --connect-timeout limits connecting (default 30 s),\n"
    "  --data-timeout the silence of a server once connected (0, the default:\n"
    "  30 s). A download that receives less than --speed-limit bytes a second\n"
    "  (default 1024) for --speed-time seconds on end (default 60) has stalled\n"
    "  as one whose server fell silent has (either 0: no such limit). A\n"
    "  download that stops in the middle (the line drops, or the server falls\n"
    "  silent or stalls) asks for the rest where the server allows it, and\n"
    "  starts over where it does not; one answered 408, 429, 500, 502, 503 or\n"
    "  504 is tried again: 3 further attempts in all, after 1, 3 and 9 s, or\n"
    "  after the Retry-After the server asks for when that is at most 60 s (a\n"
    "  longer one fails it at once). --retry-delay pauses SECONDS (0 to 60,\n"
    "  fractions allowed) before each instead of 1, 3 and 9 s; --no-retry\n"
    "  makes no further attempt. One\n"
    "  that fails or is interrupted keeps its part file (so does one that is\n"
    "  killed), and the next download of the same URL to the same name\n"
    "  continues it. --no-continue neither asks for the rest nor keeps.\n"
    "  Prints, for each URL in the order given, one line for it and one for\n"
    "  each item its page brought, as soon as it and the URLs before it ended:\n"
    "    finished|failed TAB code TAB message TAB file written TAB URL TAB continued\n"
    "  where continued is how often the download picked up where it stopped.\n"
    "  Exit status 0 when every item finished without error and its file was\n"
    "  written (with --check-only: without error) and the lines were written,\n"
    "  else 1.\n";

struct Arguments {
    std::string dir = "downmp3/";
    std::string name;
    dl::TDlDownloadParams params;
    std::optional<std::int32_t> connectTimeout;
    std::optional<std::int32_t> dataTimeout;
    std::optional<std::int32_t> speedLimit;
    std::optional<std::int32_t> speedTime;
    std::vector<std::string> urls;
    bool continuing = true;
    bool retrying = true;
    std::optional<double> retryDelay;
    int jobs = 1;
    bool help = false;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "dlget: %s\n%s", what.c_str(), kUsage);
    return kUsageError;
}

std::optional<std::uint32_t> byteCount(const char* text) {
    if (*text < '0' || *text > '9') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<std::int32_t> secondCount(const char* text) {
    const auto value = byteCount(text);
    if (!value || *value > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

std::optional<double> nonNegativeNumber(const char* text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

// The arguments, or the exit status of a usage error.
std::variant<Arguments, int> parse(int argc, char** argv) {
    Arguments args;
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool takesValue = arg == "--dir" || arg == "--name" || arg == "--size-limit" || arg == "--older" ||
                                arg == "--connect-timeout" || arg == "--data-timeout" || arg == "--jobs" ||
                                arg == "--retry-delay" || arg == "--speed-limit" || arg == "--speed-time";
        if (takesValue && i + 1 >= argc) return usageError(std::string(arg) + " needs a value");
        if (arg == "--help" || arg == "-h") {
            args.help = true;
        } else if (arg == "--dir") {
            args.dir = argv[++i];
            if (args.dir.empty()) return usageError("--dir needs a folder");
            // The component joins folder and name as they are.
            if (args.dir.back() != '/') args.dir += '/';
        } else if (arg == "--name") {
            args.name = argv[++i];
            named = true;
        } else if (arg == "--size-limit") {
            const auto limit = byteCount(argv[++i]);
            if (!limit) return usageError("--size-limit takes a byte count from 0 to 4294967295");
            args.params.SizeLimit = *limit;
        } else if (arg == "--older") {
            const auto days = nonNegativeNumber(argv[++i]);
            if (!days) return usageError("--older takes a number of days, 0 or more");
            args.params.Older = *days;
        } else if (arg == "--connect-timeout" || arg == "--data-timeout") {
            const auto seconds = secondCount(argv[++i]);
            if (!seconds) return usageError(std::string(arg) + " takes a number of seconds");
            (arg == "--connect-timeout" ? args.connectTimeout : args.dataTimeout) = *seconds;
        } else if (arg == "--speed-limit") {
            const auto bytes = secondCount(argv[++i]);
            if (!bytes) return usageError("--speed-limit takes a number of bytes a second, 0 or more");
            args.speedLimit = *bytes;
        } else if (arg == "--speed-time") {
            const auto seconds = secondCount(argv[++i]);
            if (!seconds) return usageError("--speed-time takes a number of seconds");
            args.speedTime = *seconds;
        } else if (arg == "--check-only") {
            args.params.CheckOnly = true;
        } else if (arg == "--load-images") {
            args.params.LoadImages = true;
        } else if (arg == "--no-continue") {
            args.continuing = false;
        } else if (arg == "--no-retry") {
            args.retrying = false;
        } else if (arg == "--retry-delay") {
            const auto seconds = nonNegativeNumber(argv[++i]);
            if (!seconds || *seconds > 60) return usageError("--retry-delay takes a number of seconds from 0 to 60");
            args.retryDelay = *seconds;
        } else if (arg == "--jobs") {
            const auto jobs = secondCount(argv[++i]);
            if (!jobs || *jobs < 1 || *jobs > dl::TDlDownloads::kMaxThreads)
                return usageError("--jobs takes a number from 1 to " + std::to_string(dl::TDlDownloads::kMaxThreads));
            args.jobs = *jobs;
        } else if (arg.size() > 1 && arg.front() == '-') {
            return usageError("unknown option " + std::string(arg));
        } else {
            args.urls.emplace_back(arg);
        }
    }
    if (args.help) return args;
    if (args.urls.empty()) return usageError("no URL");
    // Two songs under one name in one folder would write one file.
    if (named && args.urls.size() > 1) return usageError("--name names the file of one URL only");
    return args;
}

// The lines of one URL: its song, then what its page brought.
struct Printer {
    bool checkOnly = false;
    bool allFinished = true;

    void line(const dl::TransferOutcome& result) {
        const bool finished = result.errorCode == 0 && result.end() != dl::TransferOutcome::End::Failed;
        // A download counts only once its file is there.
        const bool written = checkOnly || !result.filePath.empty();
        allFinished = allFinished && finished && written && result.end() == dl::TransferOutcome::End::Finished;
        std::printf("%s\t%d\t%s\t%s\t%s\t%d\n", finished ? "finished" : "failed", result.errorCode,
                    field(result.message).c_str(), field(result.filePath).c_str(), field(result.url).c_str(),
                    result.continuations);
    }
    void song(const dl::TransferOutcome& result) {
        line(result);
        for (const dl::TransferOutcome& item : result.pageItems) line(item);
        // Each URL's lines as soon as they are there; what lost them is told at the end.
        errno = 0;
        if (std::fflush(stdout) != 0 && lostOutput == 0) lostOutput = errno != 0 ? errno : EIO;
    }

    int lostOutput = 0;  // the errno of the first lines that could not be written
};

}  // namespace

int main(int argc, char** argv) {
    tools::guardStandardStreams();
    // Probing is a mode of its own, with its own arguments and lines.
    if (argc > 1 && std::string_view(argv[1]) == "--probe") return dlget::runProbe(argc, argv);
    if (argc > 1 && std::string_view(argv[1]) == "--one-song") return dlget::runOneSong(argc, argv);
    const auto parsed = parse(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const Arguments& args = std::get<Arguments>(parsed);
    if (args.help) {
        std::fputs(kUsage, stdout);
        return tools::finishStandardOutput("dlget") ? 0 : 1;
    }

    platform::EventLoop loop;
    platform::LoopHandoff handoff(loop);
    dl::DownloadQueue queue;
    queue.Parallel = args.jobs;
    queue.DownloadParams = args.params;
    queue.ContinueDownloads = args.continuing;
    if (!args.retrying) queue.Downloads().Attempts.maxFurther = 0;
    if (args.retryDelay)
        queue.Downloads().Attempts.pauses.fill(
            std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(*args.retryDelay * 1000))));
    if (args.connectTimeout || args.dataTimeout || args.speedLimit || args.speedTime) {
        dl::TDlInternetOptions options = queue.Downloads().Options();
        if (args.connectTimeout) options.ConnectTimeout = *args.connectTimeout;
        if (args.dataTimeout) options.DataTimeout = *args.dataTimeout;
        if (args.speedLimit) options.LowSpeedLimit = *args.speedLimit;
        if (args.speedTime) options.LowSpeedTime = *args.speedTime;
        queue.Downloads().SetOptions(options);
    }

    // Each URL's lines in the order given, as soon as it and those before it ended.
    const std::size_t count = args.urls.size();
    // A song's id in the queue is its place among the URLs.
    std::vector<std::optional<dl::TransferOutcome>> results(count);
    std::size_t printed = 0;
    Printer printer;
    printer.checkOnly = args.params.CheckOnly;
    queue.OnEnded = [&](dl::DownloadQueue::Id id, const dl::TransferOutcome& result) {
        results[static_cast<std::size_t>(id)] = result;
        while (printed < count && results[printed]) printer.song(*results[printed++]);
        if (printed == count) loop.quit();
    };
    // Interrupted, every song is stopped like a Cancel: nothing more is
    // written, what arrived is kept as Cancel keeps it, and each still has
    // its lines.
    bool interrupted = false;
    platform::TerminationSignalPipe termination([&queue, &interrupted](int) {
        interrupted = true;
        queue.StopAll();
    });
    loop.watch(termination.fd(), [&termination] { termination.readSignals(); });
    loop.post([&] {
        // Interrupted before it began: there is nothing to start.
        if (interrupted) {
            loop.quit();
            return;
        }
        for (std::size_t i = 0; i < count; ++i)
            queue.Add(static_cast<dl::DownloadQueue::Id>(i), {args.urls[i], args.dir, args.name, std::string()});
    });
    loop.exec();

    // Interrupted before anything was fetched: no line, and no success.
    // A result nobody can read is no success.
    bool written = printer.lostOutput == 0;
    if (written)
        written = tools::finishStandardOutput("dlget");
    else
        std::fprintf(stderr, "dlget: %s\n", tools::outputFailure(printer.lostOutput).c_str());
    return printer.allFinished && printed == count && written ? 0 : 1;
}
