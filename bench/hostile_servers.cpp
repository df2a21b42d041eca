// Whole-process figures against hostile servers on loopback:
//   bench_hostile_servers [NETGET_PATH] [SECONDS=20]
//
// 1. The program's main window (with the program's HTTP client, run with
//    the offscreen platform) searching against a server whose header lines
//    never end, for SECONDS: the process's peak resident memory.
// 2. The same window against a server that answers every page with 80,000
//    Set-Cookie lines, closed after 3 s, in the middle of such an answer: how
//    long from closing the window to the end of the program.
// 3. The client alone against 80,000 Set-Cookie lines: in one answer, and as
//    80 answers of 1,000 lines each (every cookie taken into the store).
// 4. With NETGET_PATH: netget's peak resident memory and time against the
//    endless head, an endless body with --max-size and a silent server with
//    --max-time.
//
// Each program run and each server is a process of its own, so that one's
// memory does not count for another.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QTimer>
#include <QToolButton>

#include "app/TForm1.h"
#include "http/NetHTTP.h"
#include "platform/ui/UiHandoff.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/SongStore.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in MiB.
double peakResidentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return -1;
}

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;

// What a server does with each request on a connection; false ends the
// connection.
using Answer = std::function<bool(LoopbackConnection&)>;

bool endlessHead(LoopbackConnection& connection) {
    if (!connection.sendAll("HTTP/1.1 200 OK\r\n")) return false;
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "X-Line-" + std::to_string(i) + ": " + std::string(40, 'h') + "\r\n";
    while (connection.sendAll(lines)) {
    }
    return false;
}

std::string cookieLines(int first, int count) {
    std::string lines;
    for (int i = first; i < first + count; ++i) lines += "Set-Cookie: c" + std::to_string(i) + "=v; path=/\r\n";
    return lines;
}

bool cookieFlood(LoopbackConnection& connection) {
    static const std::string answer =
        "HTTP/1.1 200 OK\r\n" + cookieLines(0, 80000) + "Content-Length: 2\r\n\r\nok";
    return connection.sendAll(answer);
}

bool endlessBody(LoopbackConnection& connection) {
    if (!connection.sendAll("HTTP/1.1 200 OK\r\n\r\n")) return false;
    const std::string piece(1 << 20, 'b');
    while (connection.sendAll(piece)) {
    }
    return false;
}

bool silence(LoopbackConnection& connection) {
    connection.drainUntilClosed();
    return false;
}

// A server process answering every request with `answer`, one connection at
// a time, until it is stopped.
class ServerProcess {
public:
    explicit ServerProcess(const Answer& answer) {
        int portPipe[2];
        if (::pipe(portPipe) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(portPipe[0]);
            LoopbackServer server(
                [&answer](LoopbackConnection& connection) {
                    std::string head;
                    while (connection.receiveUntil(head, "\r\n\r\n", testsupport::kUntilStopped) && answer(connection))
                        head.clear();
                },
                LoopbackServer::Serving::OneAtATime);
            const int port = server.port();
            (void)!::write(portPipe[1], &port, sizeof port);
            for (;;) ::pause();  // until killed
        }
        ::close(portPipe[1]);
        pollfd p{portPipe[0], POLLIN, 0};
        if (::poll(&p, 1, 30000) != 1 || ::read(portPipe[0], &port_, sizeof port_) != sizeof port_) {
            std::fprintf(stderr, "the server process did not start\n");
            std::exit(2);
        }
        ::close(portPipe[0]);
    }
    ~ServerProcess() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    int port_ = 0;
    pid_t pid_ = -1;
};

// Runs `body` in a child process; what it prints is the figure.
void inChild(const std::function<void()>& body) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  (the run failed)\n");
}

struct WindowRun {
    double peakMiB = 0;
    double closeSeconds = 0;
    int failedFetches = 0;
};

// The program's window searching against port for `seconds`, then closed:
// what main() does, with a click on Search and a close.
WindowRun runWindow(int port, double seconds) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("BRELVOMP3_SEARCH_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    int argc = 1;
    char name[] = "brelvomp3";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    platform::UiHandoff handoff;
    testsupport::TempDir dir;
    // The window keeps its size when it closes: here, never in the user's settings.
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const std::string store = dir.file("mysong.mdb");
    store::CreateEmptyStore(store);
    auto form = std::make_unique<app::TForm1>(store, std::make_unique<search::NetHttpPageFetcher>());
    form->show();

    WindowRun run;
    Clock::time_point closedAt;
    QTimer::singleShot(0, [&] { form->Button1->click(); });
    QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
        run.failedFetches = form->logLines().count(QStringLiteral("读取网页时出错!"));
        closedAt = Clock::now();
        form->close();
    });
    application.exec();
    handoff.shutdown();
    form.reset();
    run.closeSeconds = secondsSince(closedAt);
    run.peakMiB = peakResidentMiB();
    return run;
}

void measureWindowAgainstEndlessHead(double seconds) {
    std::printf("window searching %.0f s against header lines that never end:\n", seconds);
    ServerProcess server(endlessHead);
    inChild([&] {
        const WindowRun run = runWindow(server.port(), seconds);
        std::printf("  peak resident memory %.1f MiB, %d failed fetches, closed in %.3f s\n", run.peakMiB,
                    run.failedFetches, run.closeSeconds);
    });
}

void measureWindowClosedDuringCookieFlood() {
    std::printf("window closed 3 s into a search against 80,000 Set-Cookie lines per answer:\n");
    ServerProcess server(cookieFlood);
    inChild([&] {
        const WindowRun run = runWindow(server.port(), 3.0);
        std::printf("  program ended %.3f s after the close (%d answers refused before it, peak %.1f MiB)\n",
                    run.closeSeconds, run.failedFetches, run.peakMiB);
    });
}

void measureClientWithCookies() {
    std::printf("the client against 80,000 Set-Cookie lines:\n");
    {
        ServerProcess server(cookieFlood);
        inChild([&] {
            net::TNetHTTP http;
            net::ApplyProgramSettings(http);
            const auto start = Clock::now();
            std::string outcome = "taken";
            try {
                http.Get(server.url());
            } catch (const net::ENetException& e) {
                outcome = e.Message();
            }
            std::printf("  in one answer: %.3f s (%s)\n", secondsSince(start), outcome.c_str());
        });
    }
    {
        ServerProcess server([next = 0](LoopbackConnection& connection) mutable {
            const std::string answer = "HTTP/1.1 200 OK\r\n" + cookieLines(next, 999) + "Content-Length: 2\r\n\r\nok";
            next += 999;
            return connection.sendAll(answer);
        });
        inChild([&] {
            net::TNetHTTP http;
            net::ApplyProgramSettings(http);
            const auto start = Clock::now();
            int answers = 0;
            for (; answers * 999 < 80000; ++answers) http.Get(server.url());
            std::printf("  as %d answers of 999: %.3f s, %d cookies stored at the end, peak %.1f MiB\n", answers,
                        secondsSince(start), http.CookieManager()->CookieCollection().count(), peakResidentMiB());
        });
    }
}

struct ToolFigures {
    double seconds = 0;
    double peakMiB = 0;
    int exitCode = -1;
};

ToolFigures runTool(const std::vector<std::string>& args) {
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    ToolFigures figures;
    figures.seconds = secondsSince(start);
    figures.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

void measureNetget(const std::string& netget) {
    std::printf("netget:\n");
    const struct {
        const char* what;
        Answer answer;
        std::vector<std::string> options;
    } cases[] = {
        {"header lines that never end", endlessHead, {}},
        {"an endless body, --max-size 16777216", endlessBody, {"--max-size", "16777216"}},
        {"a silent server, --max-time 2", silence, {"--max-time", "2"}},
    };
    for (const auto& c : cases) {
        ServerProcess server(c.answer);
        std::vector<std::string> args{netget};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(server.url());
        const ToolFigures f = runTool(args);
        std::printf("  %s: exit %d after %.3f s, peak resident memory %.1f MiB\n", c.what, f.exitCode, f.seconds,
                    f.peakMiB);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string netget = argc > 1 ? argv[1] : "";
    const double seconds = argc > 2 ? std::strtod(argv[2], nullptr) : 20.0;
    measureWindowAgainstEndlessHead(seconds);
    measureWindowClosedDuringCookieFlood();
    measureClientWithCookies();
    if (!netget.empty()) measureNetget(netget);
    return 0;
}
