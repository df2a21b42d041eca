#pragma once
// A handler slot that may be set on the UI thread while an engine thread
// checks it: assignment, the presence test and the call are each safe from
// any thread, and a call runs on its own copy, so a handler may replace the
// slot's handler while it runs.
#include <functional>
#include <mutex>
#include <utility>

namespace dl {

template <typename... Args>
class TDlEvent {
public:
    using Handler = std::function<void(Args...)>;

    TDlEvent() = default;
    TDlEvent(const TDlEvent&) = delete;
    TDlEvent& operator=(const TDlEvent&) = delete;

    TDlEvent& operator=(Handler handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
        return *this;
    }
    explicit operator bool() const {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(handler_);
    }
    // A copy of the handler (for keeping and handing back later).
    Handler get() const {
        std::lock_guard lock(mutex_);
        return handler_;
    }
    void operator()(Args... args) const {
        if (Handler handler = get()) handler(std::forward<Args>(args)...);
    }

private:
    mutable std::mutex mutex_;
    Handler handler_;
};

}  // namespace dl
