#pragma once
// The handles of one item's running transfer and the mark that stops it.
// The handles are open only during a transfer and kept here so that a stop
// from any thread can close them: the call the download thread is blocked in
// then returns, and a pause before another attempt ends at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace inet {
class Connection;
class Session;
}  // namespace inet

namespace dl {

class ItemHandles {
public:
    ItemHandles() = default;
    ~ItemHandles();
    ItemHandles(const ItemHandles&) = delete;
    ItemHandles& operator=(const ItemHandles&) = delete;

    // A handle kept after the transfer was stopped is closed at once.
    std::shared_ptr<inet::Session> Session() const;
    std::shared_ptr<inet::Connection> Connection() const;
    void SetSession(std::shared_ptr<inet::Session> handle);
    void SetConnection(std::shared_ptr<inet::Connection> handle);
    // Closes and forgets both.
    void Close();

    // The transfer is to end at its next check.
    bool Stopped() const { return stopped_.load(); }
    void SetStopped(bool value) { stopped_ = value; }
    // Marks it stopped, closes both handles and ends a pause. Any thread.
    void Stop();
    // Waits `pause` unless it is stopped meanwhile; true when it was.
    bool PauseUnlessStopped(std::chrono::milliseconds pause);

    // Stopped for good: every transfer of the item ends as stopped.
    bool CancelRequested() const { return cancelRequested_.load(); }
    void RequestCancel() { cancelRequested_ = true; }

private:
    mutable std::mutex mutex_;
    std::condition_variable stoppedChanged_;  // with mutex_: Stop ends a pause
    std::shared_ptr<inet::Session> session_;
    std::shared_ptr<inet::Connection> connection_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> cancelRequested_{false};
};

}  // namespace dl
