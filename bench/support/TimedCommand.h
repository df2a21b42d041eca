#pragma once
// A program run to its end with what it cost: wall time, CPU time and peak
// resident memory. The peak is taken by /usr/bin/time, a small process of
// its own, so that it is the program's and not the benchmark's (a child
// forked from a process that holds much memory would count its pages too).
#include <string>
#include <vector>

namespace benchsupport {

struct TimedCommand {
    bool ok = false;       // ran and exited with status 0
    double seconds = 0;    // wall time
    double cpuSeconds = 0; // user + system
    double peakMiB = 0;
};

// Runs argv with standard output to `stdoutPath` (a file, or /dev/null).
TimedCommand runTimed(const std::vector<std::string>& argv, const std::string& stdoutPath);

// The same with standard output into a pipe that is read and dropped.
TimedCommand runTimedIntoPipe(const std::vector<std::string>& argv);

}  // namespace benchsupport
