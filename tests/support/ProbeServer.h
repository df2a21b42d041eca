#pragma once
// A loopback HTTP/1.1 server of a few paths, for probing links: each path
// answers with its status and body, honouring "Range: bytes=A-B" or
// ignoring it, after a pause when asked. Each connection carries one
// request. It records the requests (target and the headers a probe must
// send) and the body bytes it wrote. Plain C++; every wait is bounded.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

class ProbeServer {
public:
    struct Route {
        int status = 200;
        std::string body;
        bool honourRange = true;
        // A 206 names the range asked for, even past the file's end ("bytes 0-16383/193").
        bool rangeAsAsked = false;
        std::chrono::milliseconds delay{0};  // before the answer's head
        std::string contentType = "audio/mpeg";
        std::string etag;
        std::string lastModified;
    };
    struct Request {
        std::string target;
        std::optional<std::string> range;
        std::optional<std::string> acceptEncoding;
        std::string method;
    };

    // Requests waiting for their answer at once, counted over every server
    // that shares it.
    struct Concurrency {
        std::mutex mutex;
        int open = 0;
        int most = 0;
    };

    explicit ProbeServer(std::map<std::string, Route> routes, std::shared_ptr<Concurrency> shared = nullptr);
    ~ProbeServer();
    ProbeServer(const ProbeServer&) = delete;
    ProbeServer& operator=(const ProbeServer&) = delete;

    std::string url(const std::string& path) const { return server_.url(path); }
    int port() const { return server_.port(); }
    void stop() { server_.stop(); }

    std::vector<Request> requests() const;
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;
    std::uint64_t bodyBytesSent() const;
    // The most requests this server held waiting at once.
    int mostOpen() const {
        std::lock_guard lock(own_->mutex);
        return own_->most;
    }

private:
    void serve(LoopbackConnection& connection);

    const std::map<std::string, Route> routes_;
    std::shared_ptr<Concurrency> own_ = std::make_shared<Concurrency>();
    std::shared_ptr<Concurrency> shared_;
    mutable std::mutex mutex_;
    mutable std::condition_variable requested_;
    std::vector<Request> requests_;
    std::uint64_t bodyBytesSent_ = 0;
    LoopbackServer server_;  // last: serves once the members it uses exist
};

}  // namespace testsupport
