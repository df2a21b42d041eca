#include "tests/support/ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace testsupport {
namespace {

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
    : ScriptedTcpServer(std::vector<ServerScript>{std::move(script)}, true) {}

ScriptedTcpServer::ScriptedTcpServer(std::vector<ServerScript> scripts) : ScriptedTcpServer(std::move(scripts), false) {}

ScriptedTcpServer::ScriptedTcpServer(std::vector<ServerScript> scripts, bool repeat)
    : scripts_(std::move(scripts)),
      repeat_(repeat),
      server_([this](LoopbackConnection& connection) { runConnection(connection); }) {}

ScriptedTcpServer::~ScriptedTcpServer() { stop(); }

void ScriptedTcpServer::stop() { server_.stop(); }

void ScriptedTcpServer::recordFailure(std::size_t index, const std::string& what) {
    std::lock_guard lock(mutex_);
    failures_.push_back("connection " + std::to_string(index) + ": " + what);
}

void ScriptedTcpServer::runConnection(LoopbackConnection& connection) {
    const std::size_t index = connection.index();
    {
        std::lock_guard lock(mutex_);
        if (received_.size() <= index) received_.resize(index + 1);
    }
    const ServerScript* script = nullptr;
    if (index < scripts_.size())
        script = &scripts_[index];
    else if (repeat_)
        script = &scripts_.back();
    if (!script) return;

    bool open = true;
    bool peerClosed = false;
    std::string pending;  // received, not yet matched by an expectation

    // Reads whatever is there (waiting until `deadline`); false when nothing
    // more can come.
    auto readMore = [&](Clock::time_point deadline, bool failOnTimeout) {
        if (peerClosed) return false;
        std::string got;
        const Wait w = connection.receive(got, deadline);
        if (w == Wait::TimedOut && failOnTimeout) recordFailure(index, "timed out waiting for bytes");
        if (w == Wait::Closed) peerClosed = true;
        if (w != Wait::Ready) return false;
        pending += got;
        std::lock_guard lock(mutex_);
        received_[index] += got;
        return true;
    };

    const auto timeout = script->timeout();
    for (const auto& step : script->steps()) {
        if (connection.stopping() || !open) break;
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
                ok = connection.sendAll(*step.bytes, timeout);
                break;
            case ServerScript::Kind::Pause: {
                // Keep recording while pausing; end early only to stop.
                const auto until = Clock::now() + step.duration;
                while (!connection.stopping() && Clock::now() < until) {
                    if (peerClosed) {
                        connection.pause(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
                        break;
                    }
                    readMore(until, false);
                }
                break;
            }
            case ServerScript::Kind::ShutdownWrite:
                connection.shutdownWrite();
                break;
            case ServerScript::Kind::Close:
                open = false;
                break;
            case ServerScript::Kind::Reset:
                connection.resetOnClose();
                open = false;
                break;
            case ServerScript::Kind::WaitForClose:
                while (readMore(deadline, true)) {}
                if (!peerClosed && !connection.stopping()) ok = false;
                break;
            case ServerScript::Kind::Stall:
                connection.pause(std::chrono::hours(1));
                break;
            case ServerScript::Kind::Hold:
                while (!connection.stopping() && !peerClosed) readMore(kUntilStopped, false);
                break;
        }
        if (!ok) break;
    }
}

std::size_t ScriptedTcpServer::connectionCount() const { return server_.connectionCount(); }

bool ScriptedTcpServer::waitForConnections(std::size_t count, std::chrono::milliseconds timeout) const {
    return server_.waitForConnections(count, timeout);
}

bool ScriptedTcpServer::waitUntilDone(std::chrono::milliseconds timeout) const {
    return server_.waitUntilAllEnded(timeout);
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
    listener_ = listenOnLoopback(0, port_);
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
