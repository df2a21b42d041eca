#include "platform/LoopHandoff.h"

#include <utility>

namespace platform {

LoopHandoff::LoopHandoff(EventLoop& loop) : loop_(loop) {}

LoopHandoff::~LoopHandoff() { retire(); }

void LoopHandoff::Calls::serve() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex);
            if (queue.empty()) return;
            call = std::move(queue.front());
            queue.pop_front();
        }
        call();
    }
}

void LoopHandoff::serveQueued() {
    if (onUiThread()) calls_->serve();
}

void LoopHandoff::deliver(std::function<void()> call) {
    {
        std::lock_guard lock(calls_->mutex);
        calls_->queue.push_back(std::move(call));
    }
    // Served from the loop unless serveQueued got there first.
    loop_.post([calls = std::weak_ptr<Calls>(calls_)] {
        if (const auto alive = calls.lock()) alive->serve();
    });
}

}  // namespace platform
