#pragma once
// A loopback HTTP server for throughput benchmarks: answers every request
// with "200 OK" and a Content-Length body of a fixed size (a repeating
// pattern), one connection at a time, until destroyed.
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class LoopbackBodyServer {
public:
    explicit LoopbackBodyServer(std::size_t bodySize);
    ~LoopbackBodyServer();
    LoopbackBodyServer(const LoopbackBodyServer&) = delete;
    LoopbackBodyServer& operator=(const LoopbackBodyServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;

private:
    void run();
    void serve(int fd);

    std::size_t bodySize_;
    int listener_ = -1;
    int port_ = 0;
    std::string pattern_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct MeasuredRun {
    double seconds = -1;  // wall time; negative when the program failed
    double peakMiB = 0;   // the child's peak resident memory, as /usr/bin/time -v reports it
};

// Runs argv with standard output sent to `stdoutPath`.
MeasuredRun measuredRun(const std::vector<std::string>& argv, const char* stdoutPath);

// The wall time of measuredRun alone.
double timedRun(const std::vector<std::string>& argv, const char* stdoutPath);

double median(std::vector<double> values);

}  // namespace testsupport
