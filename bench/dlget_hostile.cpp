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
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// One connection at a time; `answer` runs after the request head has come
// and returns when the client has gone or the server stops.
class Server {
public:
    explicit Server(std::function<void(int fd, const std::atomic<bool>& stop)> answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t length = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        ::listen(listener_, 8);
        thread_ = std::thread([this] { run(); });
    }
    ~Server() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/song.mp3"; }

private:
    void run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            answer_(fd, stop_);
            ::close(fd);
        }
    }

    std::function<void(int, const std::atomic<bool>&)> answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
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
        std::function<void(int, const std::atomic<bool>&)> answer;
    };
    const auto holdOpen = [](int fd, const std::atomic<bool>& stop) {
        char buffer[4096];
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
        }
    };
    const std::vector<Case> cases = {
        {"Content-Length 4294967295 that never comes",
         [&](int fd, const std::atomic<bool>& stop) {
             sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n");
             holdOpen(fd, stop);
         }},
        {"an endless body without a length",
         [](int fd, const std::atomic<bool>& stop) {
             if (!sendAll(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
             const std::string piece(1 << 20, 'e');
             while (!stop && sendAll(fd, piece)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
         }},
        {"endless trailer lines",
         [](int fd, const std::atomic<bool>& stop) {
             if (!sendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n")) return;
             std::string lines;
             for (int i = 0; i < 1000; ++i) lines += "X-Trailer: tttttttttttttttttttttttttttttt\r\n";
             while (!stop && sendAll(fd, lines)) {
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
