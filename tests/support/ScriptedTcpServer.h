#pragma once
// A loopback TCP server that plays a fixed script on each accepted
// connection (expect bytes, send bytes with pauses, close or reset) and
// records every byte it receives. Plain C++ so that tests, benchmarks and
// fuzz targets can all use it. Every wait is bounded.
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

class ServerScript {
public:
    enum class Kind { Expect, ExpectUntil, ExpectCount, Send, Pause, ShutdownWrite, Close, Reset, WaitForClose, Hold, Stall };
    struct Step {
        Kind kind;
        std::shared_ptr<const std::string> bytes;  // Expect, ExpectUntil, Send
        std::size_t count = 0;                     // ExpectCount
        std::chrono::milliseconds duration{0};     // Pause
    };

    // The next bytes from the client must be exactly these.
    ServerScript& expect(std::string bytes);
    // Reads up to and including the first `terminator` (e.g. "\r\n\r\n").
    ServerScript& expectUntil(std::string terminator);
    // Reads exactly `count` bytes, whatever they are.
    ServerScript& expectCount(std::size_t count);
    ServerScript& send(std::string bytes);
    // Sends a shared (possibly large) payload without copying it per connection.
    ServerScript& send(std::shared_ptr<const std::string> bytes);
    ServerScript& pause(std::chrono::milliseconds duration);
    // Half-close: no more sending, keeps reading.
    ServerScript& shutdownWrite();
    // Orderly close (FIN). A script that ends without Close or Reset closes too.
    ServerScript& close();
    // Abortive close (RST).
    ServerScript& reset();
    // Reads (and records) until the client closes.
    ServerScript& waitForClose();
    // Stays connected and silent until the client closes or the server stops.
    ServerScript& hold();
    // Stays connected without reading anything until the server stops, so the
    // client's sends back up.
    ServerScript& stall();
    // Bound on each single wait of the script (default 10 s).
    ServerScript& stepTimeout(std::chrono::milliseconds timeout);

    const std::vector<Step>& steps() const { return steps_; }
    std::chrono::milliseconds timeout() const { return timeout_; }

private:
    std::vector<Step> steps_;
    std::chrono::milliseconds timeout_{10000};
};

class ScriptedTcpServer {
public:
    // Every accepted connection runs `script`.
    explicit ScriptedTcpServer(ServerScript script);
    // Connection i runs scripts[i]; connections beyond the list are closed at once.
    explicit ScriptedTcpServer(std::vector<ServerScript> scripts);
    ~ScriptedTcpServer();
    ScriptedTcpServer(const ScriptedTcpServer&) = delete;
    ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

    int port() const { return server_.port(); }
    // Stops accepting, ends every connection and joins the threads.
    void stop();

    std::size_t connectionCount() const;
    bool waitForConnections(std::size_t count, std::chrono::milliseconds timeout) const;
    // Waits until every accepted connection has finished its script.
    bool waitUntilDone(std::chrono::milliseconds timeout) const;
    // Raw bytes received on connection `index` so far.
    std::string received(std::size_t index = 0) const;
    // Expectation mismatches and time-outs, one line each.
    std::vector<std::string> failures() const;

private:
    ScriptedTcpServer(std::vector<ServerScript> scripts, bool repeat);
    void runConnection(LoopbackConnection& connection);
    void recordFailure(std::size_t index, const std::string& what);

    const std::vector<ServerScript> scripts_;
    const bool repeat_;

    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::vector<std::string> failures_;
    LoopbackServer server_;  // last: its threads use the members above
};

// A loopback port whose connects never complete: a listener whose accept
// queue is full, so the system drops further connection requests. Lets tests
// provoke connect time-outs without sending anything off the machine.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;

    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

}  // namespace testsupport
