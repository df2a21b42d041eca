#pragma once
// A worker of the search relay: waits for its input event, runs its step,
// sets its output event, until a wait ends any other way or it is halted.
// A halted stage does nothing further: no event, no log line, no store write.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/NamedEvent.h"

namespace search {

class TStageThread {
public:
    using EventPtr = std::shared_ptr<platform::ManualResetEvent>;

    TStageThread(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit);
    virtual ~TStageThread();
    TStageThread(const TStageThread&) = delete;
    TStageThread& operator=(const TStageThread&) = delete;

    void Start();
    // Thread-safe; returns once the stage can no longer write anything.
    void Halt();
    bool Halted() const { return halted_.load(); }
    // True from the moment Halt is called, before it has taken the stage's
    // lock: a step waiting inside that lock gives up on seeing it.
    bool HaltRequested() const { return haltRequested_.load(); }
    bool Finished() const { return finished_.load(); }
    // Waits for the thread to end. Never call it from the stage's own thread.
    void Join();

protected:
    virtual void Step() = 0;
    // Unblocks whatever the step may be blocked in; called by Halt.
    virtual void OnHalt() {}

    // Runs `fn` on the UI thread, unless the stage is halted by the time it
    // gets there. Throws UiHandoffAbandoned when halted while waiting.
    void OnUi(const std::function<void()>& fn);
    // Runs `fn` under the stage's lock unless halted; returns whether it ran.
    bool IfRunning(const std::function<void()>& fn);
    // Waits for `pause`, or less when the stage is halted meanwhile; returns
    // whether it is still running.
    bool PauseUnlessHalted(std::chrono::milliseconds pause);

private:
    void Loop();

    EventPtr input_;
    EventPtr output_;
    // Never set: a pause waits on it, and a halt wakes it.
    platform::ManualResetEvent pauseEvent_;
    std::chrono::milliseconds waitLimit_;
    std::mutex effectsMutex_;  // held for every effect a halt must not split
    std::atomic<bool> halted_{false};
    std::atomic<bool> haltRequested_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Lowers the calling thread to the lowest scheduling priority.
void lowerThreadPriority();

}  // namespace search
