#include "bench/support/TimedCommand.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace benchsupport {

namespace {

TimedCommand run(const std::vector<std::string>& argv, const std::string* stdoutPath) {
    char report[] = "/tmp/bench_timed.XXXXXX";
    const int reportFd = ::mkstemp(report);
    if (reportFd < 0) return {};
    ::close(reportFd);
    std::vector<std::string> full = {"/usr/bin/time", "-q", "-f", "%U %S %M", "-o", report};
    full.insert(full.end(), argv.begin(), argv.end());
    int pipeFds[2] = {-1, -1};
    if (!stdoutPath && ::pipe(pipeFds) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = stdoutPath ? ::open(stdoutPath->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600) : pipeFds[1];
        if (out >= 0) ::dup2(out, 1);
        if (!stdoutPath) ::close(pipeFds[0]);
        std::vector<char*> args;
        for (const auto& a : full) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    if (!stdoutPath) {
        ::close(pipeFds[1]);
        static char sink[1 << 16];
        while (::read(pipeFds[0], sink, sizeof sink) > 0) {
        }
        ::close(pipeFds[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    TimedCommand result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double user = 0, system = 0, kib = 0;
    std::ifstream in(report);
    // A failed program has "Command exited with non-zero status" first.
    for (std::string line; std::getline(in, line);)
        if (std::sscanf(line.c_str(), "%lf %lf %lf", &user, &system, &kib) == 3) break;
    ::unlink(report);
    result.cpuSeconds = user + system;
    result.peakMiB = kib / 1024.0;
    result.ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

}  // namespace

TimedCommand runTimed(const std::vector<std::string>& argv, const std::string& stdoutPath) {
    return run(argv, &stdoutPath);
}

TimedCommand runTimedIntoPipe(const std::vector<std::string>& argv) { return run(argv, nullptr); }

}  // namespace benchsupport
