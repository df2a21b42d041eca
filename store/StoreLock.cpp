#include "store/StoreLock.h"

#include <algorithm>

namespace store {

void StoreLock::lock() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !held_; });
    held_ = true;
}

bool StoreLock::try_lock() {
    std::lock_guard lock(mutex_);
    if (held_) return false;
    held_ = true;
    return true;
}

void StoreLock::unlock() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    released_.notify_one();
}

bool StoreLock::lockWithin(const Wait& wait) {
    std::unique_lock lock(mutex_);
    while (held_) {
        if (wait.over()) return false;
        // Short slices: a cancellation is seen within one of them.
        const auto slice = std::min<Clock::duration>(std::chrono::milliseconds(5), wait.until - Clock::now());
        released_.wait_for(lock, std::max<Clock::duration>(slice, Clock::duration::zero()));
    }
    held_ = true;
    return true;
}

}  // namespace store
