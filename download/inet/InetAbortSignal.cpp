#include "download/inet/InetAbortSignal.h"

#include <algorithm>

#include <curl/curl.h>

namespace inet {

void AbortSignal::abort() {
    std::lock_guard lock(mutex_);
    aborted_.store(true, std::memory_order_release);
    // Under the lock: a waiter cannot detach and clean up its handle meanwhile.
    for (void* multi : waiters_) curl_multi_wakeup(multi);
    abortedChanged_.notify_all();
}

bool AbortSignal::waitFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return abortedChanged_.wait_for(lock, duration, [this] { return aborted(); });
}

void AbortSignal::attach(void* multi) {
    std::lock_guard lock(mutex_);
    waiters_.push_back(multi);
}

void AbortSignal::detach(void* multi) {
    std::lock_guard lock(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), multi), waiters_.end());
}

}  // namespace inet
