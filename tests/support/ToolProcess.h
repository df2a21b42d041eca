#pragma once
// A command-line tool built next to the test binary, running while the test
// watches it: standard output and error go to files, the test may signal it,
// and every wait for it is bounded (a tool still running when the object
// goes is killed).
#include <sys/types.h>

#include <chrono>
#include <thread>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

namespace testsupport {

// Where a standard stream of the tool goes.
enum class ToolStream {
    Captured,    // a file, read by out() or err()
    DevFull,     // /dev/full: every write fails with ENOSPC
    ClosedPipe,  // a pipe nobody reads: EPIPE (and SIGPIPE)
    Closed,      // no descriptor at all
};

struct ToolStreams {
    ToolStream out = ToolStream::Captured;
    ToolStream err = ToolStream::Captured;
};

class ToolProcess {
public:
    // Starts `tool` with `args`; `env` entries ("NAME=value") are added to
    // the test's own environment; `cwd`, when given, is its working folder.
    // The tool starts with SIGPIPE at its default, as from a shell.
    // started() tells whether it runs.
    ToolProcess(const std::filesystem::path& tool, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {}, const std::filesystem::path& cwd = {},
                ToolStreams streams = {});
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int number) const;
    // Waits for the tool to end; false when it has not within `limit`.
    bool waitForExit(std::chrono::milliseconds limit);
    // After waitForExit: how it ended.
    bool exited() const;
    int exitCode() const;
    int termSignal() const;
    std::string out() const;
    std::string err() const;

private:
    TempDir dir_;
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

// Waits until `done()` or `limit` passes, looking every few milliseconds;
// returns `done()`.
template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace testsupport
