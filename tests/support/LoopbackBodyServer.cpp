#include "tests/support/LoopbackBodyServer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace testsupport {

namespace {

std::string repeatingPattern() {
    std::string pattern(1 << 20, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>('a' + i % 26);
    return pattern;
}

}  // namespace

LoopbackBodyServer::LoopbackBodyServer(std::size_t bodySize)
    : bodySize_(bodySize),
      pattern_(repeatingPattern()),
      server_([this](LoopbackConnection& connection) { serve(connection); }, LoopbackServer::Serving::OneAtATime) {}

void LoopbackBodyServer::serve(LoopbackConnection& connection) {
    // Read the request head (up to the blank line) before answering.
    std::string head;
    if (!connection.receiveUntil(head, "\r\n\r\n", Clock::now() + std::chrono::seconds(60))) return;
    const std::string status = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                               "Content-Length: " + std::to_string(bodySize_) + "\r\nConnection: close\r\n\r\n";
    if (!connection.sendAll(status)) return;
    std::size_t left = bodySize_;
    while (left > 0) {
        const std::size_t n = std::min(left, pattern_.size());
        if (!connection.sendAll(std::string_view(pattern_).substr(0, n))) return;
        left -= n;
    }
    connection.shutdownWrite();
    // Let the client finish reading before the socket goes away.
    connection.drainUntilClosed();
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
