#include "tests/support/HeldAnswerServer.h"

namespace testsupport {

HeldAnswerServer::HeldAnswerServer(std::string body, std::string contentType)
    : body_(std::move(body)),
      contentType_(std::move(contentType)),
      server_([this](LoopbackConnection& c) { serve(c); }) {}

HeldAnswerServer::~HeldAnswerServer() { server_.stop(); }

void HeldAnswerServer::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

bool HeldAnswerServer::waitForRequest(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return requests_ > 0; });
}

int HeldAnswerServer::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HeldAnswerServer::serve(LoopbackConnection& connection) {
    std::string head;
    if (!connection.receiveUntil(head, "\r\n\r\n", Clock::now() + std::chrono::seconds(30))) return;
    {
        std::unique_lock lock(mutex_);
        ++requests_;
        changed_.notify_all();
        // stop() is seen within a short wait.
        while (!released_ && !connection.stopping()) changed_.wait_for(lock, std::chrono::milliseconds(20));
        if (!released_) return;
    }
    connection.sendAll("HTTP/1.1 200 OK\r\nContent-Type: " + contentType_ + "\r\nContent-Length: " +
                       std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
}

}  // namespace testsupport
