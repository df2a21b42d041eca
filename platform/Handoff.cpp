#include "platform/Handoff.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>

namespace platform {

struct Handoff::Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool closed = false;
};

namespace {
std::atomic<Handoff*> g_instance{nullptr};

struct Call {
    std::function<void()> fn;
    bool running = false;
    bool finished = false;
    bool cancelled = false;
    std::exception_ptr error;
};
}  // namespace

Handoff::Handoff() : shared_(std::make_shared<Shared>()) { g_instance.store(this); }

Handoff::~Handoff() { retire(); }

void Handoff::retire() {
    shutdown();
    Handoff* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

Handoff* Handoff::instance() { return g_instance.load(); }

void Handoff::shutdown() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
    }
    shared_->done.notify_all();
}

void Handoff::run(const std::function<void()>& fn, const std::function<bool()>& abandon) {
    if (onUiThread()) {
        fn();
        return;
    }
    auto shared = shared_;
    auto call = std::make_shared<Call>();
    call->fn = fn;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->closed) throw UiHandoffAbandoned();
    }
    deliver([shared, call] {
        {
            std::lock_guard lock(shared->mutex);
            if (call->cancelled || shared->closed) return;
            call->running = true;
        }
        try {
            call->fn();
        } catch (...) {
            call->error = std::current_exception();
        }
        {
            std::lock_guard lock(shared->mutex);
            call->finished = true;
        }
        shared->done.notify_all();
    });
    // Abandonment is polled: the predicate's owner has no handle on this wait.
    constexpr auto kAbandonPoll = std::chrono::milliseconds(20);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (call->finished) break;
        if (!call->running && (shared->closed || (abandon && abandon()))) break;
        shared->done.wait_for(lock, kAbandonPoll);
    }
    if (!call->finished) {
        // The queued call may still be delivered later; make it a no-op.
        call->cancelled = true;
        throw UiHandoffAbandoned();
    }
    // The caller takes the exception over: the hand-off thread's copy of the
    // call may outlive this wait, and must not be the one to free the
    // exception the caller is still reading.
    std::exception_ptr error = std::exchange(call->error, nullptr);
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

void runOnUiThread(const std::function<void()>& fn, const std::function<bool()>& abandon) {
    if (Handoff* handoff = Handoff::instance()) {
        handoff->run(fn, abandon);
    } else {
        fn();
    }
}

}  // namespace platform
