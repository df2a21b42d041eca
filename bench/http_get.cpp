// Whole-process comparison of `netget` against curl on one large body served
// from loopback:
//   bench_http_get NETGET_PATH [MIB=100] [ROUNDS=5]
// Serves "HTTP/1.1 200 OK" with a Content-Length body of MIB MiB on
// 127.0.0.1 (ephemeral port), then alternately runs
//   netget URL > /dev/null      and      curl -s -o TMPFILE URL
// and prints each run's wall time, the medians and their ratio.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Serves the same response to every connection, one connection at a time,
// until stopped.
class BodyServer {
public:
    explicit BodyServer(std::size_t bodySize) : bodySize_(bodySize), listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_.get(), 8) != 0) {
            std::perror("bind/listen");
            std::exit(2);
        }
        socklen_t len = sizeof addr;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        pattern_.resize(1 << 20);
        for (std::size_t i = 0; i < pattern_.size(); ++i) pattern_[i] = static_cast<char>('a' + i % 26);
        thread_ = std::thread([this] { run(); });
    }
    ~BodyServer() {
        stop_ = true;
        thread_.join();
    }
    int port() const { return port_; }

private:
    void run() {
        while (!stop_) {
            pollfd p{listener_.get(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            FileDescriptor conn(::accept(listener_.get(), nullptr, nullptr));
            if (conn.get() < 0) continue;
            serve(conn.get());
        }
    }

    void serve(int fd) {
        // Read the request head (up to the blank line) before answering.
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            head.append(buf, static_cast<std::size_t>(n));
        }
        const std::string status = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                   "Content-Length: " + std::to_string(bodySize_) + "\r\nConnection: close\r\n\r\n";
        if (!sendAll(fd, status.data(), status.size())) return;
        std::size_t left = bodySize_;
        while (left > 0) {
            const std::size_t n = std::min(left, pattern_.size());
            if (!sendAll(fd, pattern_.data(), n)) return;
            left -= n;
        }
        ::shutdown(fd, SHUT_WR);
        // Let the client finish reading before the socket goes away.
        while (::recv(fd, buf, sizeof buf, 0) > 0) {
        }
    }

    static bool sendAll(int fd, const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    std::size_t bodySize_;
    FileDescriptor listener_;
    int port_ = 0;
    std::string pattern_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs argv with standard output sent to `stdoutPath`; returns the wall time in
// seconds, or a negative value when the program failed.
double timedRun(const std::vector<std::string>& argv, const char* stdoutPath) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) ::dup2(out, 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1.0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NETGET_PATH [MIB=100] [ROUNDS=5]\n", argv[0]);
        return 2;
    }
    const std::string netget = argv[1];
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

    BodyServer server(mib << 20);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/big.bin";
    const auto tmpDir = std::filesystem::temp_directory_path() /
                        ("bench_http_get." + std::to_string(::getpid()));
    std::filesystem::create_directories(tmpDir);
    const std::string curlFile = (tmpDir / "body.bin").string();

    std::vector<double> netgetTimes, curlTimes;
    for (int i = 0; i < rounds; ++i) {
        const double tn = timedRun({netget, url}, "/dev/null");
        const double tc = timedRun({"curl", "-s", "-o", curlFile, url}, "/dev/null");
        if (tn < 0 || tc < 0) {
            std::fprintf(stderr, "round %d: a run failed (netget %.3f, curl %.3f)\n", i + 1, tn, tc);
            std::filesystem::remove_all(tmpDir);
            return 1;
        }
        std::printf("round %d: netget %.3f s, curl %.3f s\n", i + 1, tn, tc);
        netgetTimes.push_back(tn);
        curlTimes.push_back(tc);
    }
    std::filesystem::remove_all(tmpDir);
    const double mn = median(netgetTimes), mc = median(curlTimes);
    std::printf("%zu MiB body, median of %d: netget %.3f s, curl %.3f s, ratio %.2f (target <= 1.25)\n",
                mib, rounds, mn, mc, mn / mc);
    return mn <= 1.25 * mc ? 0 : 1;
}
