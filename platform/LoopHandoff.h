#pragma once
// A tool's hand-off (platform/Handoff.h) on a plain EventLoop: the loop's
// thread is the hand-off thread.
#include <functional>

#include "platform/EventLoop.h"
#include "platform/Handoff.h"

namespace platform {

class LoopHandoff : public Handoff {
public:
    // On the loop's thread; the loop outlives the hand-off.
    explicit LoopHandoff(EventLoop& loop);
    ~LoopHandoff() override;

    bool onUiThread() const override { return loop_.onLoopThread(); }
    void post(std::function<void()> fn) override { loop_.post(std::move(fn)); }
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override {
        loop_.postAfter(delay, std::move(fn));
    }

protected:
    // The loop may hold the wake-up past the hand-off's end: serveLater's.
    void wake() override { loop_.post(serveLater()); }

private:
    EventLoop& loop_;
};

}  // namespace platform
