#pragma once
// A lock that a thread waits for only as long as its Wait allows, seeing the
// Wait's cancellation while it waits. (Made of a mutex and a condition
// variable rather than std::timed_mutex, whose timed wait ThreadSanitizer
// cannot see.)
#include <condition_variable>
#include <mutex>

#include "store/StoreConnection.h"

namespace store {

class StoreLock {
public:
    void lock();
    void unlock();
    bool try_lock();
    // Takes the lock unless `wait` is over first.
    bool lockWithin(const Wait& wait);

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
};

}  // namespace store
