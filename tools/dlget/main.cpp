// dlget [--dir DIR] [--name NAME] [--size-limit BYTES] [--older DAYS]
//       [--check-only] [--load-images] [--connect-timeout SECONDS]
//       [--data-timeout SECONDS] [--no-continue] URL
// The download component without its window, for scripts and black-box
// tests: it runs the same asynchronous run the progress window starts (one
// download thread, the component's handlers reached through the notifier on
// this thread's event loop, page mode included), then prints one line per
// item of the collection:
//   state TAB ErrorCode TAB ErrorMessage TAB LocalFileName TAB URL TAB continued
// with state "finished" or "failed", LocalFileName empty when no file was
// written, and continued the item's Continuations (how often the download
// picked up where it had stopped). Exit status 0 when every item finished with code 0 and its file
// written (with --check-only: finished with code 0) and the lines were
// written, else 1; 2 for a wrong argument (--help prints the usage and
// exits with 0).
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <QCoreApplication>
#include <QTimer>

#include "download/component/DownloadComponent.h"
#include "download/engine/TDlDownloads.h"
#include "platform/ui/TerminationSignals.h"
#include "platform/ui/UiHandoff.h"
#include "tools/common/StandardStreams.h"

namespace {

constexpr int kUsageError = 2;
constexpr const char* kUsage =
    "usage: dlget [--dir DIR] [--name NAME] [--size-limit BYTES] [--older DAYS]\n"
    "             [--check-only] [--load-images] [--connect-timeout SECONDS]\n"
    "             [--data-timeout SECONDS] [--no-continue] URL\n"
    "  Downloads URL as BrelvoMP3's download component does, without its window,\n"
    "  into DIR (default downmp3/, made when missing) under NAME (default: the\n"
    "  host, \"_\" and the last part of the URL, made safe). An HTML answer is\n"
    "  saved with \".htm\" and its frames and backgrounds (with --load-images also\n"
    "  its images) beside it. --size-limit fails a download longer than BYTES,\n"
    "  --older one last modified more than DAYS ago; --check-only fetches the\n"
    "  headers only. --connect-timeout limits connecting (default 30 s),\n"
    "  --data-timeout the silence of a server once connected (0, the default:\n"
    "  30 s). A download that stops in the middle (the line drops, or the\n"
    "  server falls silent) asks for the rest, up to 3 times; one that fails or\n"
    "  is interrupted keeps its part file, and the next download of the same\n"
    "  URL to the same name continues it. --no-continue turns both off.\n"
    "  Prints one line per item fetched:\n"
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
    std::string url;
    bool continuing = true;
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

std::optional<double> dayCount(const char* text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

// The arguments, or the exit status of a usage error.
std::variant<Arguments, int> parse(int argc, char** argv) {
    Arguments args;
    bool haveUrl = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool takesValue = arg == "--dir" || arg == "--name" || arg == "--size-limit" || arg == "--older" ||
                                arg == "--connect-timeout" || arg == "--data-timeout";
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
        } else if (arg == "--size-limit") {
            const auto limit = byteCount(argv[++i]);
            if (!limit) return usageError("--size-limit takes a byte count from 0 to 4294967295");
            args.params.SizeLimit = *limit;
        } else if (arg == "--older") {
            const auto days = dayCount(argv[++i]);
            if (!days) return usageError("--older takes a number of days, 0 or more");
            args.params.Older = *days;
        } else if (arg == "--connect-timeout" || arg == "--data-timeout") {
            const auto seconds = secondCount(argv[++i]);
            if (!seconds) return usageError(std::string(arg) + " takes a number of seconds");
            (arg == "--connect-timeout" ? args.connectTimeout : args.dataTimeout) = *seconds;
        } else if (arg == "--check-only") {
            args.params.CheckOnly = true;
        } else if (arg == "--load-images") {
            args.params.LoadImages = true;
        } else if (arg == "--no-continue") {
            args.continuing = false;
        } else if (arg.size() > 1 && arg.front() == '-') {
            return usageError("unknown option " + std::string(arg));
        } else if (haveUrl) {
            return usageError("one URL only");
        } else {
            args.url = arg;
            haveUrl = true;
        }
    }
    if (!args.help && !haveUrl) return usageError("no URL");
    return args;
}

// One line per item: tabs and line breaks inside a field become blanks.
std::string field(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    tools::guardStandardStreams();
    const auto parsed = parse(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const Arguments& args = std::get<Arguments>(parsed);
    if (args.help) {
        std::fputs(kUsage, stdout);
        return tools::finishStandardOutput("dlget") ? 0 : 1;
    }

    QCoreApplication application(argc, argv);
    platform::UiHandoff handoff;
    dl::DownloadComponent get;
    get.URL = args.url;
    get.DownloadDir = args.dir;
    get.DestinationName = args.name;
    get.DownloadParams = args.params;
    get.ContinueDownloads = args.continuing;
    if (args.connectTimeout || args.dataTimeout) {
        dl::TDlInternetOptions options = get.InternetOptions();
        if (args.connectTimeout) options.ConnectTimeout = *args.connectTimeout;
        if (args.dataTimeout) options.DataTimeout = *args.dataTimeout;
        get.SetInternetOptions(options);
    }
    // The run the progress window starts: one download thread.
    get.Downloads().ThreadCount = 1;
    get.OnProcessed = [](dl::DownloadComponent&) { QCoreApplication::quit(); };
    // Interrupted, the run is stopped like a Cancel: nothing more is written.
    // A signal that comes before the run has begun stops it at its first report.
    bool interrupted = false;
    platform::TerminationSignals termination([&get, &interrupted](int) {
        interrupted = true;
        get.Downloads().Stop();
    });
    get.OnProgress = [&interrupted](dl::DownloadComponent& sender, dl::TDlDownloadItem&) {
        if (interrupted && !sender.Downloads().Stopping) sender.Downloads().Stop();
    };
    QTimer::singleShot(0, &application, [&get, &interrupted] {
        // Interrupted before it began: there is nothing to start.
        if (interrupted)
            QCoreApplication::quit();
        else
            get.Download(false, true);
    });
    application.exec();
    get.Downloads().WaitForRun();

    // Interrupted before anything was fetched: no line, and no success.
    bool allFinished = !interrupted || get.Downloads().Count() > 0;
    dl::TDlDownloads& downloads = get.Downloads();
    for (int i = 0; i < downloads.Count(); ++i) {
        const dl::TDlDownloadItem& item = downloads.Items(i);
        const bool finished = item.State == dl::dsFinished && item.ErrorCode == 0;
        // A download counts only once its file is there.
        const bool written = args.params.CheckOnly || !item.LocalFileName.empty();
        allFinished = allFinished && finished && written;
        std::printf("%s\t%d\t%s\t%s\t%s\t%d\n", item.State == dl::dsFinished ? "finished" : "failed",
                    item.ErrorCode, field(item.ErrorMessage).c_str(), field(item.LocalFileName).c_str(),
                    field(item.URL).c_str(), item.Continuations);
    }
    // A result nobody can read is no success.
    const bool written = tools::finishStandardOutput("dlget");
    return allFinished && written ? 0 : 1;
}
