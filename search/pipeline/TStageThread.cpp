#include "search/pipeline/TStageThread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/ui/UiHandoff.h"

namespace search {

void lowerThreadPriority() {
    // Per-thread nice value: the lowest priority an unprivileged thread has.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
}

TStageThread::TStageThread(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit)
    : input_(std::move(input)), output_(std::move(output)), waitLimit_(waitLimit) {}

TStageThread::~TStageThread() {
    Halt();
    Join();
}

void TStageThread::Start() {
    thread_ = std::thread([this] {
        lowerThreadPriority();
        Loop();
        finished_.store(true);
    });
}

void TStageThread::Halt() {
    haltRequested_.store(true);
    {
        std::lock_guard lock(effectsMutex_);
        if (halted_.exchange(true)) return;
    }
    input_->wake();
    pauseEvent_.wake();
    OnHalt();
}

void TStageThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TStageThread::OnUi(const std::function<void()>& fn) {
    platform::runOnUiThread(
        [&] {
            if (!Halted()) fn();
        },
        [this] { return Halted(); });
}

bool TStageThread::IfRunning(const std::function<void()>& fn) {
    std::lock_guard lock(effectsMutex_);
    if (Halted()) return false;
    fn();
    return true;
}

bool TStageThread::PauseUnlessHalted(std::chrono::milliseconds pause) {
    pauseEvent_.wait(pause, [this] { return Halted(); });
    return !Halted();
}

void TStageThread::Loop() {
    for (;;) {
        if (input_->wait(waitLimit_, [this] { return Halted(); }) != platform::WaitResult::Signaled) return;
        if (!IfRunning([this] { input_->reset(); })) return;
        try {
            Step();
        } catch (...) {
            // A step's own failures are handled inside it; anything reaching
            // here (a halted hand-off, an unexpected store failure) ends the stage.
            return;
        }
        if (!IfRunning([this] { output_->set(); })) return;
    }
}

}  // namespace search
