#pragma once
// The cross-thread notifier: an engine thread hands it a method, the method
// runs on the UI thread while the engine thread waits, and whatever the method
// throws is thrown again in the engine thread. Requests run one at a time in
// the order they arrive. It stands on the process's UI-thread hand-off
// (platform/Handoff: Qt's event loop in the program, a plain one in the
// tools); without one (a tool with no UI) requests run on
// the calling thread, one at a time.
#include <atomic>
#include <functional>

namespace dl {

class TDlSyncObject {
public:
    // Create on the UI thread.
    TDlSyncObject();
    TDlSyncObject(const TDlSyncObject&) = delete;
    TDlSyncObject& operator=(const TDlSyncObject&) = delete;

    // When true, requests run on the calling thread under one process-wide
    // lock instead of on the UI thread. Starts as DirectCallDefault().
    bool DirectCall;
    static bool DirectCallDefault();
    static void SetDirectCallDefault(bool value);

    // Any thread: runs `method` on the UI thread and returns when it has run;
    // rethrows what it threw. On the UI thread it runs at once. Throws
    // platform::UiHandoffAbandoned when the request is dropped (Abandon, or
    // the UI shutting down) before it started.
    void Synchronize(const std::function<void()>& method);

    // True while a request of this notifier is waiting for the UI thread.
    bool HasPendingRequest() const { return pending_.load() > 0; }

    // Drops every request of this notifier that has not started and refuses
    // later ones; for an owner that is going away while engine threads may
    // still report.
    void Abandon() { abandoned_.store(true); }
    bool Abandoned() const { return abandoned_.load(); }

    // The number of the last request made in the process; the first request
    // is number 2.
    static int LastRequestId();

    // True on the UI thread (also when there is no UI hand-off at all).
    static bool OnUiThread();
    // On the UI thread: runs the hand-offs queued so far. A UI-thread wait on
    // an engine thread calls this so that the thread's report cannot hold the
    // wait up for good.
    static void ServeQueued();

private:
    std::atomic<int> pending_{0};
    std::atomic<bool> abandoned_{false};
};

}  // namespace dl
