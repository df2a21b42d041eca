#pragma once
// A loopback HTTP server for the client tests: answers each request head it
// receives with the next scripted reply, records every request head byte for
// byte, and counts connections. Every wait is bounded; the destructor stops it.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace nettest {

struct Reply {
    Reply() = default;
    Reply(std::string replyBytes) : bytes(std::move(replyBytes)) {}  // NOLINT: implicit on purpose

    std::string bytes;                       // sent as they stand
    bool closeAfter = false;                 // close the connection after sending
    std::chrono::milliseconds pause{0};      // wait before sending
    std::string secondPart;                  // sent after secondPause, if not empty
    std::chrono::milliseconds secondPause{0};
    bool silent = false;                     // send nothing, hold the connection
};

class ScriptedHttpServer {
public:
    explicit ScriptedHttpServer(std::vector<Reply> replies);
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    int port() const { return server_.port(); }
    std::string url(const std::string& pathAndQuery = "/") const { return server_.url(pathAndQuery); }

    // Raw request heads (through the blank line), in arrival order.
    std::vector<std::string> requests() const;
    // Connection on which each request arrived (1-based, same order).
    std::vector<int> requestConnections() const;
    int connectionCount() const { return static_cast<int>(server_.connectionCount()); }
    // Waits (at most `timeout`) until `count` requests have arrived.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    void serve(testsupport::LoopbackConnection& connection);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Reply> replies_;
    std::vector<std::string> requests_;
    std::vector<int> requestConnections_;
    testsupport::LoopbackServer server_;  // last: its thread uses the members above
};

}  // namespace nettest
