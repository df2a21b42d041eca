#pragma once
// A loopback HTTP/1.1 server whose every answer waits until the test lets
// it go: a link whose probe is under way for as long as the test needs it
// to be. It answers 200 with the body given, or closes when stop() comes
// first. Plain C++; every wait is bounded or ended by stop().
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

class HeldAnswerServer {
public:
    explicit HeldAnswerServer(std::string body, std::string contentType = "audio/mpeg");
    ~HeldAnswerServer();
    HeldAnswerServer(const HeldAnswerServer&) = delete;
    HeldAnswerServer& operator=(const HeldAnswerServer&) = delete;

    std::string url(const std::string& path) const { return server_.url(path); }
    // The answers waiting and those to come go out.
    void release();
    void stop() { server_.stop(); }
    // Whether a request had come within `limit`.
    bool waitForRequest(std::chrono::milliseconds limit);
    int requests();

private:
    void serve(LoopbackConnection& connection);

    const std::string body_;
    const std::string contentType_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int requests_ = 0;
    bool released_ = false;
    LoopbackServer server_;  // last: serves with the members above
};

}  // namespace testsupport
