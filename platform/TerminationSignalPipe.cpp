#include "platform/TerminationSignalPipe.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <utility>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// The write end of the current instance's socket pair; -1 when none.
std::atomic<int> g_writeFd{-1};
struct sigaction g_previous[kSignalCount];

// Async-signal-safe: one byte with the signal's number, nothing else.
void forwardSignal(int signal) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const char byte = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t ignored = ::send(fd, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignalPipe::TerminationSignalPipe(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0)
        throw std::runtime_error("termination signals: no socket pair");
    int expected = -1;
    if (!g_writeFd.compare_exchange_strong(expected, fds_[0])) {
        ::close(fds_[0]);
        ::close(fds_[1]);
        throw std::runtime_error("termination signals are already taken");
    }
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

TerminationSignalPipe::~TerminationSignalPipe() {
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_writeFd.store(-1);
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TerminationSignalPipe::readSignals() {
    char bytes[16];
    for (;;) {
        const ssize_t n = ::recv(fds_[1], bytes, sizeof bytes, 0);
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i) {
            if (onSignal_) onSignal_(static_cast<unsigned char>(bytes[i]));
        }
    }
}

}  // namespace platform
