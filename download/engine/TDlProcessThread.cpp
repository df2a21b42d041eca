#include "download/engine/TDlProcessThread.h"

#include "download/engine/TDlDownloads.h"

namespace dl {

TDlProcessThread::TDlProcessThread(TDlDownloads& downloads) : downloads_(downloads) {}

TDlProcessThread::~TDlProcessThread() {
    if (thread_.joinable()) thread_.join();
}

void TDlProcessThread::Resume() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] {
        try {
            downloads_.Run();
        } catch (...) {
            // A run reports its failures in its items.
        }
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        ended_.notify_all();
    });
}

bool TDlProcessThread::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool TDlProcessThread::WaitFor(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return finished_; });
}

}  // namespace dl
