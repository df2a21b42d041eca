#pragma once
// The manager thread of an asynchronous run: created suspended, its body is
// one call of the collection's Run. Destroying it waits for it to end.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace dl {

class TDlDownloads;

class TDlProcessThread {
public:
    explicit TDlProcessThread(TDlDownloads& downloads);
    ~TDlProcessThread();
    TDlProcessThread(const TDlProcessThread&) = delete;
    TDlProcessThread& operator=(const TDlProcessThread&) = delete;

    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Finished() const;
    // True when the thread has ended (or never started) within `timeout`.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    TDlDownloads& downloads_;
    std::atomic<bool> terminated_{false};
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace dl
