#include "tests/support/ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

enum class WaitResult { Ready, TimedOut, Stopped, Closed };

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Waits for `events` on fd, giving up at the deadline or when wakeFd fires.
WaitResult waitFor(int fd, short events, int wakeFd, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return WaitResult::TimedOut;
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(p, 2, static_cast<int>(std::min<long long>(left, 1 << 30)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Closed;
        }
        if (r == 0) return WaitResult::TimedOut;
        if (p[1].revents) return WaitResult::Stopped;
        if (p[0].revents & (POLLNVAL)) return WaitResult::Closed;
        return WaitResult::Ready;
    }
}

int openLoopbackListener(int backlog, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket() failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes.substr(0, 200)) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

// ---- ServerScript

ServerScript& ServerScript::expect(std::string bytes) {
    steps_.push_back({Kind::Expect, std::make_shared<const std::string>(std::move(bytes))});
    return *this;
}

ServerScript& ServerScript::expectUntil(std::string terminator) {
    steps_.push_back({Kind::ExpectUntil, std::make_shared<const std::string>(std::move(terminator))});
    return *this;
}

ServerScript& ServerScript::expectCount(std::size_t count) {
    Step step{Kind::ExpectCount, nullptr};
    step.count = count;
    steps_.push_back(step);
    return *this;
}

ServerScript& ServerScript::send(std::string bytes) {
    return send(std::make_shared<const std::string>(std::move(bytes)));
}

ServerScript& ServerScript::send(std::shared_ptr<const std::string> bytes) {
    steps_.push_back({Kind::Send, std::move(bytes)});
    return *this;
}

ServerScript& ServerScript::pause(std::chrono::milliseconds duration) {
    Step step{Kind::Pause, nullptr};
    step.duration = duration;
    steps_.push_back(step);
    return *this;
}

ServerScript& ServerScript::shutdownWrite() {
    steps_.push_back({Kind::ShutdownWrite, nullptr});
    return *this;
}

ServerScript& ServerScript::close() {
    steps_.push_back({Kind::Close, nullptr});
    return *this;
}

ServerScript& ServerScript::reset() {
    steps_.push_back({Kind::Reset, nullptr});
    return *this;
}

ServerScript& ServerScript::waitForClose() {
    steps_.push_back({Kind::WaitForClose, nullptr});
    return *this;
}

ServerScript& ServerScript::hold() {
    steps_.push_back({Kind::Hold, nullptr});
    return *this;
}

ServerScript& ServerScript::stall() {
    steps_.push_back({Kind::Stall, nullptr});
    return *this;
}

ServerScript& ServerScript::stepTimeout(std::chrono::milliseconds timeout) {
    timeout_ = timeout;
    return *this;
}

// ---- ScriptedTcpServer

ScriptedTcpServer::ScriptedTcpServer(ServerScript script)
    : ScriptedTcpServer(std::vector<ServerScript>{std::move(script)}) {
    repeat_ = true;
}

ScriptedTcpServer::ScriptedTcpServer(std::vector<ServerScript> scripts)
    : scripts_(std::move(scripts)) {
    listener_ = openLoopbackListener(16, port_);
    setNonBlocking(listener_);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        ::close(listener_);
        throw std::runtime_error("eventfd() failed");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedTcpServer::~ScriptedTcpServer() { stop(); }

void ScriptedTcpServer::stop() {
    if (stopping_.exchange(true)) return;
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connectionThreads_);
    }
    for (auto& t : threads) t.join();
    ::close(listener_);
    ::close(wakeFd_);
}

void ScriptedTcpServer::acceptLoop() {
    for (;;) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        setNonBlocking(fd);
        std::lock_guard lock(mutex_);
        const std::size_t index = received_.size();
        received_.emplace_back();
        done_.push_back(false);
        connectionThreads_.emplace_back([this, index, fd] { runConnection(index, fd); });
        changed_.notify_all();
    }
}

void ScriptedTcpServer::recordFailure(std::size_t index, const std::string& what) {
    std::lock_guard lock(mutex_);
    failures_.push_back("connection " + std::to_string(index) + ": " + what);
}

void ScriptedTcpServer::runConnection(std::size_t index, int fd) {
    const ServerScript* script = nullptr;
    if (index < scripts_.size())
        script = &scripts_[index];
    else if (repeat_)
        script = &scripts_.back();

    bool open = true;
    bool peerClosed = false;
    std::string pending;  // received, not yet matched by an expectation

    // Reads whatever is there (waiting until `deadline`); false when nothing
    // more can come.
    auto readMore = [&](Clock::time_point deadline, bool failOnTimeout) {
        if (peerClosed) return false;
        const WaitResult w = waitFor(fd, POLLIN, wakeFd_, deadline);
        if (w == WaitResult::TimedOut && failOnTimeout) recordFailure(index, "timed out waiting for bytes");
        if (w != WaitResult::Ready) return false;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
            peerClosed = true;
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(mutex_);
        received_[index].append(buffer, static_cast<std::size_t>(n));
        return true;
    };

    auto sendAll = [&](const std::string& bytes, std::chrono::milliseconds timeout) {
        std::size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (waitFor(fd, POLLOUT, wakeFd_, Clock::now() + timeout) != WaitResult::Ready)
                    return false;
                continue;
            }
            return false;  // the client went away
        }
        return true;
    };

    if (script) {
        const auto timeout = script->timeout();
        for (const auto& step : script->steps()) {
            if (stopping_ || !open) break;
            const auto deadline = Clock::now() + timeout;
            bool ok = true;
            switch (step.kind) {
                case ServerScript::Kind::Expect: {
                    const std::string& want = *step.bytes;
                    while (pending.size() < want.size() && readMore(deadline, true)) {}
                    if (pending.compare(0, want.size(), want) != 0) {
                        recordFailure(index, "expected \"" + printable(want) + "\", got \"" +
                                                 printable(pending.substr(0, want.size())) + "\"");
                        ok = false;
                    } else {
                        pending.erase(0, want.size());
                    }
                    break;
                }
                case ServerScript::Kind::ExpectUntil: {
                    const std::string& term = *step.bytes;
                    std::size_t at;
                    while ((at = pending.find(term)) == std::string::npos && readMore(deadline, true)) {}
                    if (at == std::string::npos) {
                        recordFailure(index, "never received \"" + printable(term) + "\"");
                        ok = false;
                    } else {
                        pending.erase(0, at + term.size());
                    }
                    break;
                }
                case ServerScript::Kind::ExpectCount:
                    while (pending.size() < step.count && readMore(deadline, true)) {}
                    if (pending.size() < step.count) {
                        recordFailure(index, "received fewer bytes than expected");
                        ok = false;
                    } else {
                        pending.erase(0, step.count);
                    }
                    break;
                case ServerScript::Kind::Send:
                    ok = sendAll(*step.bytes, timeout);
                    break;
                case ServerScript::Kind::Pause: {
                    // Keep recording while pausing; end early only to stop.
                    const auto until = Clock::now() + step.duration;
                    while (!stopping_ && Clock::now() < until) {
                        if (peerClosed) {
                            waitFor(wakeFd_, POLLIN, wakeFd_, until);
                            break;
                        }
                        readMore(until, false);
                    }
                    break;
                }
                case ServerScript::Kind::ShutdownWrite:
                    ::shutdown(fd, SHUT_WR);
                    break;
                case ServerScript::Kind::Close:
                    open = false;
                    break;
                case ServerScript::Kind::Reset: {
                    const linger abortive{1, 0};
                    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
                    open = false;
                    break;
                }
                case ServerScript::Kind::WaitForClose:
                    while (readMore(deadline, true)) {}
                    if (!peerClosed && !stopping_) ok = false;
                    break;
                case ServerScript::Kind::Stall:
                    waitFor(wakeFd_, POLLIN, wakeFd_, Clock::now() + std::chrono::hours(1));
                    break;
                case ServerScript::Kind::Hold:
                    while (!stopping_ && !peerClosed) readMore(Clock::now() + std::chrono::hours(1), false);
                    break;
            }
            if (!ok) break;
        }
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    done_[index] = true;
    changed_.notify_all();
}

std::size_t ScriptedTcpServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

bool ScriptedTcpServer::waitForConnections(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

bool ScriptedTcpServer::waitUntilDone(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (bool d : done_)
            if (!d) return false;
        return true;
    });
}

std::string ScriptedTcpServer::received(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < received_.size() ? received_[index] : std::string();
}

std::vector<std::string> ScriptedTcpServer::failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

// ---- UnansweredListener

UnansweredListener::UnansweredListener() {
    listener_ = openLoopbackListener(0, port_);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port_));
    // Fill the accept queue until a connection request stays unanswered.
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) continue;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 200) == 0) return;  // this one hangs: the queue is full
    }
    throw std::runtime_error("could not fill the listener's accept queue");
}

UnansweredListener::~UnansweredListener() {
    for (int fd : fillers_) ::close(fd);
    ::close(listener_);
}

}  // namespace testsupport
