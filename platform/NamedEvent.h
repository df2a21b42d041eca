#pragma once
// Manual-reset events, optionally registered under a process-wide name so that
// opening the same name twice yields the same object.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

enum class WaitResult { Signaled, Timeout, Abandoned };

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // Waits until the event is set, the timeout passes, or `abandon` (checked
    // whenever the waiter wakes) returns true. Call wake() after changing what
    // `abandon` looks at so that a blocked waiter rechecks it at once.
    WaitResult wait(std::chrono::milliseconds timeout,
                    const std::function<bool()>& abandon = {}) const;
    void wake() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_;
};

// Creates the named event non-signalled on first use; later opens return the
// same object, whatever its state.
std::shared_ptr<ManualResetEvent> openNamedEvent(const std::string& name);

}  // namespace platform
