#pragma once
// A plain event loop for the tools that run the download road without Qt:
// calls posted from any thread, calls after a delay, and file descriptors
// watched for reading, all run on the thread that runs exec(). Woken through
// an eventfd, so posting is cheap and needs no lock on the loop's side but the
// queue's own.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform {

class EventLoop {
public:
    // The thread that creates the loop is the one that runs it. Throws
    // std::system_error when no eventfd is to be had.
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Any thread: `fn` runs on the loop's thread, in the order posted.
    void post(std::function<void()> fn);
    // Any thread: `fn` runs on the loop's thread once `delay` has passed;
    // calls due at the same time run in the order posted.
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn);
    // On the loop's thread: `onReadable` runs whenever `fd` can be read,
    // until the loop ends. The caller keeps `fd` open that long.
    void watch(int fd, std::function<void()> onReadable);

    // Runs until quit(); what a call throws leaves exec() with it. What was
    // posted and not run when it returns is dropped with the loop.
    void exec();
    // Any thread: exec() returns once the call running now has returned.
    void quit();

    bool onLoopThread() const { return std::this_thread::get_id() == owner_; }

private:
    using Clock = std::chrono::steady_clock;
    void wake();
    // The calls due now: posted ones first, then expired timers.
    std::vector<std::function<void()>> takeDue(Clock::time_point now, int& timeoutMs);

    const std::thread::id owner_;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::multimap<Clock::time_point, std::function<void()>> timers_;
    bool quit_ = false;
    std::vector<std::pair<int, std::function<void()>>> watched_;
};

}  // namespace platform
