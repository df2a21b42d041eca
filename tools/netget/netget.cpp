// netget [--max-size BYTES] [--max-time SECONDS] URL...: fetches each URL in
// order with one client that has the program's settings (so a kept-alive
// connection and cookies carry from one URL to the next) and writes each body
// to standard output. A failure is reported on standard error and the next
// URL is tried; the exit status is the number of failed URLs (at most 100),
// a body that cannot be written to standard output failing its URL.
// --help prints the usage; a wrong argument prints it and exits with 2, as
// every tool of the program does.
//
// Like curl's options of the same names, both limits are off by default and
// apply to each URL: a body longer than --max-size (announced or received)
// and a fetch that takes longer than --max-time fail that URL. Into a file or
// /dev/null a body goes out as it arrives (BodyOutput); a failed one leaves
// nothing behind either way.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "http/NetHTTP.h"
#include "tools/netget/BodyOutput.h"
#include "tools/common/StandardStreams.h"

namespace {

constexpr int kUsageError = 2;
constexpr const char* kUsage =
    "usage: netget [--max-size BYTES] [--max-time SECONDS] URL...\n"
    "  Fetches each URL with one client configured like BrelvoMP3's and writes\n"
    "  the bodies to standard output. The exit status is the number of failed\n"
    "  URLs (at most 100); a body that cannot be written fails its URL. Both\n"
    "  limits are off by default and apply to each URL.\n";

struct Options {
    std::optional<std::int64_t> maxSize;
    std::optional<std::chrono::milliseconds> maxTime;
    std::vector<std::string> urls;
    bool help = false;
};

void reportFailure(const std::string& url, const std::string& what) {
    std::fprintf(stderr, "netget: %s: %s\n", url.c_str(), what.c_str());
}

// Interrupts the client's call in progress once `limit` has passed; ends
// (joining its thread) when destroyed.
class Deadline {
public:
    Deadline(net::TNetHTTP& http, std::chrono::milliseconds limit)
        : thread_([this, &http, until = std::chrono::steady_clock::now() + limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_until(lock, until, [this] { return finished_; })) {
                  expired_ = true;
                  http.Interrupt();
              }
          }) {}
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool expired() {
        std::lock_guard lock(mutex_);
        return expired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool expired_ = false;
    std::thread thread_;  // last: starts once the members it uses exist
};

std::string secondsText(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// What the failure in flight says, as one line.
std::string describeFailure() {
    try {
        throw;
    } catch (const tools::EOutputLost& e) {
        return tools::outputFailure(e.Error());
    } catch (const net::ENetStreamLimitExceeded& e) {
        return "body larger than --max-size " + std::to_string(e.Limit()) + " bytes";
    } catch (const net::ENetHTTPProtocolException& e) {
        return std::string(e.ClassName()) + ": " + e.Message() + " (ReplyCode " + std::to_string(e.ReplyCode()) + ")";
    } catch (const net::ENetException& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    } catch (const std::exception& e) {
        return std::string("exception: ") + e.what();
    } catch (...) {
        return "unknown failure";
    }
}

// Fetches one URL to standard output; false (after reporting) on failure.
bool fetch(net::TNetHTTP& http, const std::string& url, const Options& options) {
    tools::BodyOutput body(STDOUT_FILENO, options.maxSize.value_or(INT64_MAX));
    std::string failure;
    bool interrupted = false;
    bool expired = false;
    {
        std::optional<Deadline> deadline;
        if (options.maxTime) deadline.emplace(http, *options.maxTime);
        try {
            http.Get(url, body);
        } catch (const net::ENetInterrupted&) {
            interrupted = true;
            failure = describeFailure();
        } catch (...) {
            failure = describeFailure();
        }
        expired = deadline && deadline->expired();
    }
    // A deadline that struck just as the call ended must not fail the next.
    http.ClearInterrupt();
    if (interrupted && expired)
        failure = "no complete answer within --max-time " + secondsText(*options.maxTime) + " s";
    if (failure.empty()) {
        try {
            body.Finish();
        } catch (...) {
            failure = describeFailure();
        }
    }
    if (failure.empty()) return true;
    body.Discard();
    reportFailure(url, failure);
    return false;
}

bool parseMaxSize(const char* text, std::int64_t& bytes) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value <= 0) return false;
    bytes = value;
    return true;
}

bool parseMaxTime(const char* text, std::chrono::milliseconds& time) {
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    // Whole milliseconds from 1 ms to a year.
    if (errno != 0 || end == text || *end != '\0' || !(seconds >= 0.001 && seconds <= 31536000.0))
        return false;
    time = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    return true;
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool sizeOption = arg == "--max-size";
        const bool timeOption = arg == "--max-time";
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        if (!sizeOption && !timeOption && arg.starts_with("-")) {
            std::fprintf(stderr, "netget: unknown option %s\n", argv[i]);
            return std::nullopt;
        }
        if (!sizeOption && !timeOption) {
            options.urls.emplace_back(arg);
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "netget: %s needs a value\n", argv[i]);
            return std::nullopt;
        }
        const char* value = argv[++i];
        std::int64_t bytes = 0;
        std::chrono::milliseconds time{0};
        if (sizeOption && parseMaxSize(value, bytes)) {
            options.maxSize = bytes;
        } else if (timeOption && parseMaxTime(value, time)) {
            options.maxTime = time;
        } else {
            std::fprintf(stderr, "netget: %s: not a valid value: %s\n", argv[i - 1], value);
            return std::nullopt;
        }
    }
    if (options.urls.empty()) return std::nullopt;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    tools::guardStandardStreams();
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return tools::finishStandardOutput("netget") ? 0 : 1;
    }
    net::TNetHTTP http;
    net::ApplyProgramSettings(http);
    int failed = 0;
    for (const std::string& url : options->urls)
        if (!fetch(http, url, *options)) ++failed;
    return std::min(failed, 100);
}
