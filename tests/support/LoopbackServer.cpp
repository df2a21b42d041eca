#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <stdexcept>

namespace testsupport {

namespace {

// Milliseconds left until the deadline, as poll() takes them.
int millisecondsLeft(Clock::time_point deadline) {
    if (deadline == kUntilStopped) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

int listenOnLoopback(int backlog, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw std::runtime_error("socket() failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// ---- LoopbackConnection

LoopbackConnection::LoopbackConnection(const LoopbackServer& server, int fd, std::size_t index)
    : server_(server), fd_(fd), index_(index) {}

LoopbackConnection::~LoopbackConnection() { close(); }

bool LoopbackConnection::stopping() const { return server_.stopping(); }

Wait LoopbackConnection::wait(short events, Clock::time_point deadline) const {
    return server_.waitOn(fd_, events, deadline);
}

Wait LoopbackConnection::receive(std::string& into, Clock::time_point deadline) {
    const Wait ready = wait(POLLIN, deadline);
    if (ready != Wait::Ready) return ready;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return Wait::Ready;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return Wait::Ready;
    return Wait::Closed;
}

bool LoopbackConnection::receiveUntil(std::string& into, std::string_view terminator, Clock::time_point deadline,
                                      std::size_t limit) {
    while (into.find(terminator) == std::string::npos) {
        if (into.size() > limit || receive(into, deadline) != Wait::Ready) return false;
    }
    return true;
}

bool LoopbackConnection::sendAll(std::string_view bytes, std::chrono::milliseconds stall) {
    while (!bytes.empty()) {
        if (stopping()) return false;
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (wait(POLLOUT, Clock::now() + stall) != Wait::Ready) return false;
        } else {
            return false;  // the peer has gone
        }
    }
    return true;
}

void LoopbackConnection::drainUntilClosed() {
    std::string dropped;
    while (receive(dropped, kUntilStopped) == Wait::Ready) dropped.clear();
}

bool LoopbackConnection::pause(std::chrono::milliseconds duration) const {
    const auto deadline = Clock::now() + duration;
    return server_.waitOn(-1, 0, deadline) != Wait::Stopped;
}

void LoopbackConnection::shutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void LoopbackConnection::resetOnClose() {
    const linger abortive{1, 0};
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

void LoopbackConnection::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// ---- LoopbackServer

LoopbackServer::LoopbackServer(Handler handler, Serving serving, int backlog)
    : handler_(std::move(handler)), serving_(serving) {
    listener_ = listenOnLoopback(backlog, port_);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        ::close(listener_);
        throw std::runtime_error("eventfd() failed");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() { stop(); }

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::stop() {
    if (stopping_.exchange(true)) return;
    // Never read: once written, every poll on it returns at once.
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) thread.join();
    ::close(listener_);
    ::close(wakeFd_);
}

std::size_t LoopbackServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

bool LoopbackServer::waitForConnections(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return accepted_ >= count; });
}

bool LoopbackServer::waitForEnded(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ended_ >= count; });
}

bool LoopbackServer::waitUntilAllEnded(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ended_ == accepted_; });
}

Wait LoopbackServer::waitOn(int fd, short events, Clock::time_point deadline) const {
    for (;;) {
        // A negative descriptor is skipped by poll(): a pause waits on the wake-up only.
        pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd, events, 0}};
        const int r = ::poll(p, 2, millisecondsLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Wait::Closed;
        if (p[0].revents) return Wait::Stopped;
        if (r == 0) return Wait::TimedOut;
        if (p[1].revents & POLLNVAL) return Wait::Closed;
        return Wait::Ready;
    }
}

void LoopbackServer::acceptLoop() {
    for (;;) {
        if (waitOn(listener_, POLLIN, kUntilStopped) == Wait::Stopped) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        std::size_t index = 0;
        {
            std::lock_guard lock(mutex_);
            index = accepted_++;
            changed_.notify_all();
            if (serving_ == Serving::Concurrently) threads_.emplace_back([this, fd, index] { serve(fd, index); });
        }
        if (serving_ == Serving::OneAtATime) serve(fd, index);
    }
}

void LoopbackServer::serve(int fd, std::size_t index) {
    {
        LoopbackConnection connection(*this, fd, index);
        handler_(connection);
    }
    std::lock_guard lock(mutex_);
    ++ended_;
    changed_.notify_all();
}

}  // namespace testsupport
