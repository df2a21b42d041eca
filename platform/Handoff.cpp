#include "platform/Handoff.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

namespace platform {

struct Handoff::Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool closed = false;
    // The hand-offs not yet served, under `mutex`: a lock both sides take, so
    // a call made on one thread and run on the other is ordered by it.
    std::deque<std::function<void()>> calls;

    void serve() {
        for (;;) {
            std::function<void()> call;
            {
                std::lock_guard lock(mutex);
                if (calls.empty()) return;
                call = std::move(calls.front());
                calls.pop_front();
            }
            call();
        }
    }
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

void Handoff::serveQueued() {
    if (onUiThread()) serveCalls();
}

void Handoff::serveCalls() { shared_->serve(); }

std::function<void()> Handoff::serveLater() const {
    return [shared = std::weak_ptr<Shared>(shared_)] {
        if (const auto alive = shared.lock()) alive->serve();
    };
}

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
        // Only serve() runs it, holding the state: a plain pointer, so that a
        // call never served does not keep the state alive through itself.
        shared->calls.push_back([state = shared.get(), call] {
            {
                std::lock_guard lock(state->mutex);
                if (call->cancelled || state->closed) return;
                call->running = true;
            }
            try {
                call->fn();
            } catch (...) {
                call->error = std::current_exception();
            }
            {
                std::lock_guard lock(state->mutex);
                call->finished = true;
            }
            state->done.notify_all();
        });
    }
    wake();
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
