#pragma once
// The "closed" state of an internet or connection handle. Closing may happen
// on any thread while another thread is blocked in a call made through the
// handle; every curl multi handle working for such a call is registered here
// and woken, so the call notices at once instead of at curl's next timer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace inet {

class AbortSignal {
public:
    AbortSignal() = default;
    AbortSignal(const AbortSignal&) = delete;
    AbortSignal& operator=(const AbortSignal&) = delete;

    // Marks the handle closed and wakes every registered waiter. Idempotent.
    void abort();
    bool aborted() const { return aborted_.load(std::memory_order_acquire); }
    // Waits until the handle is closed or `duration` has passed; true when
    // it was closed (also before the wait began).
    bool waitFor(std::chrono::milliseconds duration);

    // Registers a curl multi handle (CURLM*) to be woken; it must be detached
    // before it is cleaned up.
    void attach(void* multi);
    void detach(void* multi);

private:
    mutable std::mutex mutex_;
    std::condition_variable abortedChanged_;
    std::atomic<bool> aborted_{false};
    std::vector<void*> waiters_;
};

}  // namespace inet
