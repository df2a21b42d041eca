#pragma once
// A loopback HTTP server for throughput benchmarks: answers every request
// with "200 OK" and a Content-Length body of a fixed size (a repeating
// pattern), one connection at a time, until destroyed.
#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

class LoopbackBodyServer {
public:
    explicit LoopbackBodyServer(std::size_t bodySize);
    LoopbackBodyServer(const LoopbackBodyServer&) = delete;
    LoopbackBodyServer& operator=(const LoopbackBodyServer&) = delete;

    int port() const { return server_.port(); }
    std::string url(const std::string& path) const { return server_.url(path); }

private:
    void serve(LoopbackConnection& connection);

    const std::size_t bodySize_;
    const std::string pattern_;
    LoopbackServer server_;  // last: its thread uses the members above
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
