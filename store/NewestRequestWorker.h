#pragma once
// A thread of its own that serves the newest request asked of it: a request
// asked while another waits takes its place, and the one being served can
// see it has been superseded and end early. Its owner declares it last, so
// that the thread has ended before anything it serves with goes.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace store {

// Request: a value with a `std::uint64_t number`, set here to the number
// `ask` returns.
template <typename Request>
class NewestRequestWorker {
public:
    // Called on the worker's thread, one request at a time.
    using Serve = std::function<void(const Request& request)>;

    explicit NewestRequestWorker(Serve serve) : serve_(std::move(serve)), thread_([this] { loop(); }) {}
    // Drops what waits, tells the running request it is superseded, and
    // waits for the thread.
    ~NewestRequestWorker() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            waiting_.reset();
        }
        changed_.notify_all();
        thread_.join();
    }
    NewestRequestWorker(const NewestRequestWorker&) = delete;
    NewestRequestWorker& operator=(const NewestRequestWorker&) = delete;

    // The request's number; earlier requests are superseded.
    std::uint64_t ask(Request request) {
        std::uint64_t number = 0;
        {
            std::lock_guard lock(mutex_);
            number = latest_.load() + 1;
            request.number = number;
            waiting_ = std::move(request);
            // Seen by the running request within its next check.
            latest_ = number;
        }
        changed_.notify_all();
        return number;
    }
    // Drops every request; the running one is superseded.
    void cancel() {
        {
            std::lock_guard lock(mutex_);
            waiting_.reset();
            ++latest_;
        }
        changed_.notify_all();
    }
    // Whether nothing was asked or running before `limit`.
    bool waitUntilIdle(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return !running_ && !waiting_; });
    }
    // Any thread: whether request `number` is no longer the one wanted.
    bool superseded(std::uint64_t number) const { return stopping_ || latest_.load() != number; }
    bool stopping() const { return stopping_.load(); }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || waiting_; });
            if (stopping_) return;
            const Request request = std::move(*waiting_);
            waiting_.reset();
            running_ = true;
            lock.unlock();
            serve_(request);
            lock.lock();
            running_ = false;
            changed_.notify_all();
        }
    }

    Serve serve_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Request> waiting_;
    bool running_ = false;
    std::atomic<std::uint64_t> latest_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace store
