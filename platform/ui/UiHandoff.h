#pragma once
// Runs callables on the UI thread for worker threads and waits for them.
// Exceptions thrown by the callable travel back to the caller. When the UI
// side is shutting down, waiting callers are released with UiHandoffAbandoned
// instead of hanging.
#include <functional>
#include <memory>
#include <stdexcept>

#include <QObject>

namespace platform {

class UiHandoffAbandoned : public std::runtime_error {
public:
    UiHandoffAbandoned() : std::runtime_error("UI thread no longer accepts hand-offs") {}
};

class UiHandoff : public QObject {
    Q_OBJECT
public:
    // Must be created on the UI thread; there is one per process.
    UiHandoff();
    ~UiHandoff() override;

    static UiHandoff* instance();

    // Runs `fn` on the UI thread and waits for it to finish. Called on the UI
    // thread it runs `fn` directly. When `abandon` turns true before `fn` has
    // started, the wait ends with UiHandoffAbandoned and `fn` never runs; once
    // started, `fn` is always waited for, since it may use the caller's locals.
    void run(const std::function<void()>& fn, const std::function<bool()>& abandon = {});

    // Releases every waiting worker and refuses later hand-offs.
    void shutdown();

    // True on the thread that runs the hand-offs.
    bool onUiThread() const;
    // On the UI thread: runs the hand-offs queued so far, and nothing else of
    // the event queue. A UI-thread wait on a worker that may itself be waiting
    // for a hand-off calls this while it waits.
    void serveQueued();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// Convenience: hands `fn` to the process's UiHandoff, or runs it directly when
// none exists (tools and tests without a UI).
void runOnUiThread(const std::function<void()>& fn, const std::function<bool()>& abandon = {});

}  // namespace platform
