#pragma once
// The core of every loopback test and bench server: it listens on 127.0.0.1
// on a port the system picks, accepts connections and hands each to a
// handler, one at a time or each on a thread of its own. Its connections do
// not block: every wait in them ends at a deadline or when stop() is called,
// so a server never outlives its test. Plain C++ and POSIX.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

using Clock = std::chrono::steady_clock;

// A deadline for waits that only stop() ends.
inline constexpr Clock::time_point kUntilStopped = Clock::time_point::max();
// How long a send waits for a peer that reads nothing before giving up.
inline constexpr std::chrono::milliseconds kSendStallLimit{60000};

// A socket listening on 127.0.0.1 with a port the system picks; throws when
// it cannot. The caller owns (and closes) the descriptor.
int listenOnLoopback(int backlog, int& port);

// How a bounded wait ended.
enum class Wait {
    Ready,     // the descriptor is ready (or bytes came)
    TimedOut,  // the deadline passed
    Stopped,   // the server is stopping
    Closed,    // the peer closed or reset the connection, or it failed
};

class LoopbackServer;

// One accepted connection, as its handler sees it. The server closes it
// when the handler returns, if the handler has not.
class LoopbackConnection {
public:
    LoopbackConnection(const LoopbackServer& server, int fd, std::size_t index);
    ~LoopbackConnection();
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    int fd() const { return fd_; }
    // 0 for the first connection the server accepted, and so on.
    std::size_t index() const { return index_; }
    bool stopping() const;

    // Waits for `events` (POLLIN, POLLOUT) on the connection.
    Wait wait(short events, Clock::time_point deadline) const;
    // Appends what has come (waiting for it until the deadline). Ready may
    // bring no byte (a wake-up without data): call again.
    Wait receive(std::string& into, Clock::time_point deadline);
    // Receives until `into` holds `terminator`; false when it did not come
    // by the deadline, `into` grew past `limit` bytes, the peer closed, or
    // the server stops.
    bool receiveUntil(std::string& into, std::string_view terminator, Clock::time_point deadline,
                      std::size_t limit = 1 << 20);
    // Sends every byte; false when the peer has gone, read nothing for
    // `stall`, or the server stops.
    bool sendAll(std::string_view bytes, std::chrono::milliseconds stall = kSendStallLimit);
    // Reads and drops what comes until the peer closes or the server stops.
    void drainUntilClosed();
    // Waits `duration`, or less when the server stops: false then.
    bool pause(std::chrono::milliseconds duration) const;

    // No more sending; the peer reads an orderly end.
    void shutdownWrite();
    // The close resets the connection (RST) instead of ending it.
    void resetOnClose();
    void close();

private:
    const LoopbackServer& server_;
    int fd_;
    std::size_t index_;
};

class LoopbackServer {
public:
    using Handler = std::function<void(LoopbackConnection&)>;
    enum class Serving {
        OneAtATime,    // on the accepting thread: the next waits until the handler returns
        Concurrently,  // each connection on a thread of its own
    };

    explicit LoopbackServer(Handler handler, Serving serving = Serving::Concurrently, int backlog = 16);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" and the path.
    std::string url(const std::string& path = "/") const;

    // Stops accepting, wakes every wait of every connection and joins the
    // threads once their handlers have returned. Called again, it does nothing.
    void stop();
    bool stopping() const { return stopping_.load(); }

    // Connections accepted so far, and those whose handler has returned and
    // whose socket is closed.
    std::size_t connectionCount() const;
    bool waitForConnections(std::size_t count, std::chrono::milliseconds limit) const;
    bool waitForEnded(std::size_t count, std::chrono::milliseconds limit) const;
    // Every connection accepted so far has ended.
    bool waitUntilAllEnded(std::chrono::milliseconds limit) const;

private:
    friend class LoopbackConnection;

    void acceptLoop();
    void serve(int fd, std::size_t index);
    // poll() on `fd` and the wake-up descriptor.
    Wait waitOn(int fd, short events, Clock::time_point deadline) const;

    Handler handler_;
    Serving serving_;
    int listener_ = -1;
    int wakeFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::size_t accepted_ = 0;
    std::size_t ended_ = 0;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;  // last: starts once the members it uses exist
};

}  // namespace testsupport
