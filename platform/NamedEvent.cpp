#include "platform/NamedEvent.h"

#include <map>

namespace platform {

void ManualResetEvent::set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool ManualResetEvent::isSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

WaitResult ManualResetEvent::wait(std::chrono::milliseconds timeout,
                                  const std::function<bool()>& abandon) const {
    std::unique_lock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (abandon && abandon()) return WaitResult::Abandoned;
        if (set_) return WaitResult::Signaled;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (abandon && abandon()) return WaitResult::Abandoned;
            return set_ ? WaitResult::Signaled : WaitResult::Timeout;
        }
    }
}

void ManualResetEvent::wake() const {
    // Taking the lock orders the caller's flag change before the waiter's recheck.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

std::shared_ptr<ManualResetEvent> openNamedEvent(const std::string& name) {
    static std::mutex registryMutex;
    // Named events live as long as the process, like their system counterparts
    // while any handle is open.
    static std::map<std::string, std::shared_ptr<ManualResetEvent>> registry;
    std::lock_guard lock(registryMutex);
    auto& slot = registry[name];
    if (!slot) slot = std::make_shared<ManualResetEvent>(false);
    return slot;
}

}  // namespace platform
