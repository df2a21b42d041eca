#include "download/engine/ItemHandles.h"

#include "download/inet/InetConnection.h"
#include "download/inet/InetSession.h"

namespace dl {

ItemHandles::~ItemHandles() { Close(); }

std::shared_ptr<inet::Session> ItemHandles::Session() const {
    std::lock_guard lock(mutex_);
    return session_;
}

std::shared_ptr<inet::Connection> ItemHandles::Connection() const {
    std::lock_guard lock(mutex_);
    return connection_;
}

void ItemHandles::SetSession(std::shared_ptr<inet::Session> handle) {
    std::lock_guard lock(mutex_);
    session_ = std::move(handle);
    // Stop sets the mark before it takes the lock: either it sees the
    // handle, or the handle sees the mark.
    if (stopped_ && session_) session_->close();
}

void ItemHandles::SetConnection(std::shared_ptr<inet::Connection> handle) {
    std::lock_guard lock(mutex_);
    connection_ = std::move(handle);
    if (stopped_ && connection_) connection_->close();
}

void ItemHandles::Close() {
    std::lock_guard lock(mutex_);
    if (connection_) connection_->close();
    connection_.reset();
    if (session_) session_->close();
    session_.reset();
}

void ItemHandles::Stop() {
    stopped_ = true;
    Close();
    std::lock_guard lock(mutex_);
    stoppedChanged_.notify_all();
}

bool ItemHandles::PauseUnlessStopped(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    return stoppedChanged_.wait_for(lock, pause, [this] { return stopped_.load(); });
}

}  // namespace dl
