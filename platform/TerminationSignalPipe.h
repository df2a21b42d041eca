#pragma once
// Takes SIGINT, SIGTERM and SIGHUP for the process and turns each into a
// byte on a socket, so that an event loop can see it and call `onSignal`
// outside the signal handler: a program asked to end from outside then ends
// the way it ends by itself. One instance at a time. The event loop side is
// the caller's: Qt's (platform/ui/TerminationSignals) or a plain one
// (EventLoop::watch on fd(), calling readSignals).
#include <functional>

namespace platform {

class TerminationSignalPipe {
public:
    // Throws std::runtime_error when the signals cannot be taken (another
    // instance holds them, or no socket pair is to be had).
    explicit TerminationSignalPipe(std::function<void(int signal)> onSignal);
    // The signals' earlier handling comes back.
    ~TerminationSignalPipe();
    TerminationSignalPipe(const TerminationSignalPipe&) = delete;
    TerminationSignalPipe& operator=(const TerminationSignalPipe&) = delete;

    // Readable while a signal waits to be told.
    int fd() const { return fds_[1]; }
    // Calls `onSignal` once for each signal delivered since the last call.
    void readSignals();

private:
    std::function<void(int)> onSignal_;
    int fds_[2] = {-1, -1};
};

}  // namespace platform
