#pragma once
// Runs callables on one chosen thread (the UI thread) for worker threads and
// waits for them. Exceptions thrown by the callable travel back to the
// caller. When the hand-off thread is shutting down, waiting callers are
// released with UiHandoffAbandoned instead of hanging. There is one per
// process: the program's rides on Qt's event loop (platform/ui/UiHandoff), a
// tool's on a plain one (platform/LoopHandoff).
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

namespace platform {

class UiHandoffAbandoned : public std::runtime_error {
public:
    UiHandoffAbandoned() : std::runtime_error("UI thread no longer accepts hand-offs") {}
};

class Handoff {
public:
    virtual ~Handoff();
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

    // The process's hand-off; nullptr when there is none.
    static Handoff* instance();

    // Runs `fn` on the hand-off thread and waits for it to finish. Called on
    // that thread it runs `fn` directly. When `abandon` turns true before `fn`
    // has started, the wait ends with UiHandoffAbandoned and `fn` never runs;
    // once started, `fn` is always waited for, since it may use the caller's
    // locals.
    void run(const std::function<void()>& fn, const std::function<bool()>& abandon = {});

    // Releases every waiting worker and refuses later hand-offs.
    void shutdown();

    // True on the thread that runs the hand-offs.
    virtual bool onUiThread() const = 0;
    // On the hand-off thread: runs the hand-offs queued so far, and nothing
    // else of its event queue. A wait there on a worker that may itself be
    // waiting for a hand-off calls this while it waits.
    void serveQueued();

    // Any thread: `fn` runs later on the hand-off thread's event loop, without
    // anyone waiting for it (and not from serveQueued). Dropped when the loop
    // ends first.
    virtual void post(std::function<void()> fn) = 0;
    // On the hand-off thread: as post, once `delay` has passed.
    virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) = 0;

protected:
    // Create on the hand-off thread; it becomes the process's instance.
    Handoff();
    // A hand-off was queued: the hand-off thread's event loop is to call
    // serveCalls (or what serveLater gives) soon. Any thread.
    virtual void wake() = 0;
    // On the hand-off thread: runs the queued hand-offs, in arrival order.
    void serveCalls();
    // The same, as a call that does nothing once the hand-off is gone.
    std::function<void()> serveLater() const;
    // Shuts down and stops being the process's instance. A derived class
    // calls it first in its destructor, so that nobody reaches it half gone.
    void retire();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// Hands `fn` to the process's hand-off, or runs it directly when none exists
// (tools and tests without a UI).
void runOnUiThread(const std::function<void()>& fn, const std::function<bool()>& abandon = {});

}  // namespace platform
