#include "tests/support/LoopbackBodyServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace testsupport {

namespace {

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

LoopbackBodyServer::LoopbackBodyServer(std::size_t bodySize)
    : bodySize_(bodySize), listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 8) != 0) {
        std::perror("bind/listen");
        std::exit(2);
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    pattern_.resize(1 << 20);
    for (std::size_t i = 0; i < pattern_.size(); ++i) pattern_[i] = static_cast<char>('a' + i % 26);
    thread_ = std::thread([this] { run(); });
}

LoopbackBodyServer::~LoopbackBodyServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::string LoopbackBodyServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackBodyServer::run() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int conn = ::accept(listener_, nullptr, nullptr);
        if (conn < 0) continue;
        serve(conn);
        ::close(conn);
    }
}

void LoopbackBodyServer::serve(int fd) {
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

MeasuredRun measuredRun(const std::vector<std::string>& argv, const char* stdoutPath) {
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
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    MeasuredRun run;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    return run;
}

double timedRun(const std::vector<std::string>& argv, const char* stdoutPath) {
    return measuredRun(argv, stdoutPath).seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace testsupport
