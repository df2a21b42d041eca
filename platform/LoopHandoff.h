#pragma once
// A tool's hand-off (platform/Handoff.h) on a plain EventLoop: the loop's
// thread is the hand-off thread. Hand-offs wait in a queue of their own, so
// serveQueued runs them and nothing else the loop holds.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/EventLoop.h"
#include "platform/Handoff.h"

namespace platform {

class LoopHandoff : public Handoff {
public:
    // On the loop's thread; the loop outlives the hand-off.
    explicit LoopHandoff(EventLoop& loop);
    ~LoopHandoff() override;

    bool onUiThread() const override { return loop_.onLoopThread(); }
    void serveQueued() override;
    void post(std::function<void()> fn) override { loop_.post(std::move(fn)); }
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override {
        loop_.postAfter(delay, std::move(fn));
    }

protected:
    void deliver(std::function<void()> call) override;

private:
    struct Calls {
        std::mutex mutex;
        std::deque<std::function<void()>> queue;
        void serve();
    };
    EventLoop& loop_;
    // Shared with the loop's wake-up calls, which may outlive the hand-off.
    std::shared_ptr<Calls> calls_ = std::make_shared<Calls>();
};

}  // namespace platform
