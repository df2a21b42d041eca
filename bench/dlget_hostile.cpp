// Whole-process figures of `dlget` against servers that misbehave, each on
// loopback in this process:
//   bench_dlget_hostile DLGET_PATH [SECONDS=8] [HANGING_RESOLVER_SO]
// For each server dlget runs for SECONDS (or until it ends by itself), is
// then sent SIGTERM, and the bench prints its peak resident memory (the
// kernel's count for the child, as /usr/bin/time -v reports it), how it
// ended, and how long it took to end after the signal. The servers: a
// Content-Length of 4294967295 and silence; an endless body without a
// length (about 100 MB/s, so the disk is not filled); endless trailer lines;
// and, with the hanging resolver library given, a name lookup that never
// ends. Exits non-zero when a peak passes 64 MiB or an end takes more than
// 200 ms.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;

// One connection at a time; `answer` runs after the request head has come
// and returns when the client has gone or the server stops.
class Server {
public:
    explicit Server(std::function<void(LoopbackConnection&)> answer)
        : answer_(std::move(answer)),
          server_([this](LoopbackConnection& connection) { serve(connection); },
                  LoopbackServer::Serving::OneAtATime) {}
    std::string url() const { return server_.url("/song.mp3"); }

private:
    void serve(LoopbackConnection& connection) {
        std::string head;
        if (connection.receiveUntil(head, "\r\n\r\n", testsupport::kUntilStopped)) answer_(connection);
    }

    const std::function<void(LoopbackConnection&)> answer_;
    LoopbackServer server_;  // last: its thread uses answer_
};

struct Outcome {
    double peakMiB = 0;
    double endMs = -1;  // after the signal; -1: it ended by itself first
    std::string how;
};

Outcome runDlget(const std::vector<std::string>& argv, const std::vector<std::string>& env, double seconds) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    Outcome outcome;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    bool ended = false;
    while (Clock::now() < deadline) {
        if (::wait4(pid, &status, WNOHANG, &usage) == pid) {
            ended = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!ended) {
        const auto signalled = Clock::now();
        ::kill(pid, SIGTERM);
        ::wait4(pid, &status, 0, &usage);
        outcome.endMs = std::chrono::duration<double, std::milli>(Clock::now() - signalled).count();
    }
    outcome.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    outcome.how = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                    : "signal " + std::to_string(WTERMSIG(status));
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DLGET_PATH [SECONDS=8] [HANGING_RESOLVER_SO]\n", argv[0]);
        return 2;
    }
    const std::string dlget = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 8;
    const std::string resolver = argc > 3 ? argv[3] : "";
    const fs::path tmp = fs::temp_directory_path() / ("bench_dlget_hostile." + std::to_string(::getpid()));

    struct Case {
        const char* name;
        std::function<void(LoopbackConnection&)> answer;
    };
    const std::vector<Case> cases = {
        {"Content-Length 4294967295 that never comes",
         [](LoopbackConnection& connection) {
             if (connection.sendAll("HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n"))
                 connection.drainUntilClosed();
         }},
        {"an endless body without a length",
         [](LoopbackConnection& connection) {
             if (!connection.sendAll("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
             const std::string piece(1 << 20, 'e');
             while (connection.sendAll(piece) && connection.pause(std::chrono::milliseconds(10))) {
             }
         }},
        {"endless trailer lines",
         [](LoopbackConnection& connection) {
             if (!connection.sendAll("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n"))
                 return;
             std::string lines;
             for (int i = 0; i < 1000; ++i) lines += "X-Trailer: tttttttttttttttttttttttttttttt\r\n";
             while (connection.sendAll(lines)) {
             }
         }},
    };
    bool ok = true;
    for (const Case& c : cases) {
        Server server(c.answer);
        fs::remove_all(tmp);
        const Outcome o = runDlget({dlget, "--dir", (tmp / "dl").string() + "/", server.url()}, {}, seconds);
        std::printf("%-45s peak %6.1f MiB, %s, %s\n", c.name, o.peakMiB, o.how.c_str(),
                    o.endMs < 0 ? "ended by itself" : ("ended " + std::to_string(o.endMs) + " ms after SIGTERM").c_str());
        ok = ok && o.peakMiB <= 64 && o.endMs <= 200;
    }
    if (!resolver.empty()) {
        fs::remove_all(tmp);
        const Outcome o = runDlget({dlget, "--dir", (tmp / "dl").string() + "/", "http://song.hang.test/a.mp3"},
                                   {"LD_PRELOAD=" + resolver}, std::min(seconds, 2.0));
        std::printf("%-45s peak %6.1f MiB, %s, ended %.1f ms after SIGTERM\n", "a name lookup that never ends",
                    o.peakMiB, o.how.c_str(), o.endMs);
        ok = ok && o.peakMiB <= 64 && o.endMs >= 0 && o.endMs <= 200;
    }
    fs::remove_all(tmp);
    return ok ? 0 : 1;
}
