#pragma once
// The demo service's connections, each on a thread of its own. The HTTP
// library serves a connection on one of its workers from the first request
// to the end of the last one it keeps alive, waiting for the next request
// on that worker; with its fixed pool of 8, eight idle connections held
// every worker and a new client waited until one of them timed out. Here
// an idle connection holds only its own thread, so it costs the others
// nothing. Past `limit` connections at a time, a new one waits for a free
// thread.
#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace demo {

class ConnectionThreads : public httplib::TaskQueue {
public:
    static constexpr std::size_t kDefaultLimit = 256;

    explicit ConnectionThreads(std::size_t limit = kDefaultLimit) : limit_(limit) {}
    ~ConnectionThreads() override { shutdown(); }
    ConnectionThreads(const ConnectionThreads&) = delete;
    ConnectionThreads& operator=(const ConnectionThreads&) = delete;

    void enqueue(std::function<void()> job) override;
    // Waits for every connection to end, the waiting ones served first.
    void shutdown() override;

private:
    // Runs `job`, then waiting jobs, until none waits.
    void work(std::function<void()> job);
    // Joins the threads that have ended. Called with the lock held.
    void joinEnded();

    const std::size_t limit_;
    std::mutex mutex_;
    std::deque<std::function<void()>> waiting_;
    std::map<std::thread::id, std::thread> threads_;
    std::vector<std::thread::id> ended_;
    std::size_t running_ = 0;
};

}  // namespace demo
