#include "ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace nettest {

namespace {

constexpr int kPollMs = 20;

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ScriptedHttpServer::ScriptedHttpServer(std::vector<Reply> replies)
    : replies_(replies.begin(), replies.end()) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 16) != 0)
        throw std::runtime_error("cannot listen on loopback");
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::string ScriptedHttpServer::url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

std::vector<std::string> ScriptedHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<int> ScriptedHttpServer::requestConnections() const {
    std::lock_guard lock(mutex_);
    return requestConnections_;
}

bool ScriptedHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void ScriptedHttpServer::run() {
    while (!stopping()) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) continue;
        serve(fd, ++connections_);
        ::close(fd);
    }
}

bool ScriptedHttpServer::readHead(int fd, std::string& head) {
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (stopping()) return false;
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        head.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

// Serves one connection until a reply closes it, the client closes it, or
// the server stops. Bytes after a head (a pipelined request) are kept.
void ScriptedHttpServer::serve(int fd, int connection) {
    std::string pending;
    for (;;) {
        if (!readHead(fd, pending)) return;
        const std::size_t end = pending.find("\r\n\r\n") + 4;
        Reply reply;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(pending.substr(0, end));
            requestConnections_.push_back(connection);
            if (!replies_.empty()) {
                reply = std::move(replies_.front());
                replies_.pop_front();
            } else {
                reply.silent = true;
            }
        }
        changed_.notify_all();
        pending.erase(0, end);
        const auto sleepFor = [&](std::chrono::milliseconds d) {
            const auto until = std::chrono::steady_clock::now() + d;
            while (!stopping() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        if (reply.silent) {
            // Hold the connection without a word until the client or the
            // server gives up.
            char buf[256];
            while (!stopping()) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, kPollMs) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) return;
            }
            return;
        }
        sleepFor(reply.pause);
        if (!sendAll(fd, reply.bytes)) return;
        if (!reply.secondPart.empty()) {
            sleepFor(reply.secondPause);
            if (!sendAll(fd, reply.secondPart)) return;
        }
        if (reply.closeAfter) {
            ::shutdown(fd, SHUT_WR);
            return;
        }
    }
}

}  // namespace nettest
