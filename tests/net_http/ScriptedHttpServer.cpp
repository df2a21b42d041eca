#include "ScriptedHttpServer.h"

namespace nettest {

using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;

// One connection at a time, as a plain server without threads of its own would.
ScriptedHttpServer::ScriptedHttpServer(std::vector<Reply> replies)
    : replies_(replies.begin(), replies.end()),
      server_([this](LoopbackConnection& connection) { serve(connection); }, LoopbackServer::Serving::OneAtATime) {}

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

// Serves one connection until a reply closes it, the client closes it, or
// the server stops. Bytes after a head (a pipelined request) are kept.
void ScriptedHttpServer::serve(LoopbackConnection& connection) {
    std::string pending;
    for (;;) {
        if (!connection.receiveUntil(pending, "\r\n\r\n", testsupport::kUntilStopped)) return;
        const std::size_t end = pending.find("\r\n\r\n") + 4;
        Reply reply;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(pending.substr(0, end));
            requestConnections_.push_back(static_cast<int>(connection.index()) + 1);
            if (!replies_.empty()) {
                reply = std::move(replies_.front());
                replies_.pop_front();
            } else {
                reply.silent = true;
            }
        }
        changed_.notify_all();
        pending.erase(0, end);
        if (reply.silent) {
            // Hold the connection without a word until the client or the
            // server gives up.
            connection.drainUntilClosed();
            return;
        }
        if (!connection.pause(reply.pause) || !connection.sendAll(reply.bytes)) return;
        if (!reply.secondPart.empty()) {
            if (!connection.pause(reply.secondPause) || !connection.sendAll(reply.secondPart)) return;
        }
        if (reply.closeAfter) {
            connection.shutdownWrite();
            return;
        }
    }
}

}  // namespace nettest
