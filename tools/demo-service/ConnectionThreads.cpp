#include "tools/demo-service/ConnectionThreads.h"

namespace demo {

void ConnectionThreads::enqueue(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    joinEnded();
    if (running_ == limit_) {
        waiting_.push_back(std::move(job));
        return;
    }
    ++running_;
    std::thread thread([this, job = std::move(job)]() mutable { work(std::move(job)); });
    const std::thread::id id = thread.get_id();
    threads_.emplace(id, std::move(thread));
}

void ConnectionThreads::work(std::function<void()> job) {
    for (;;) {
        job();
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) {
            --running_;
            // Joined by the next enqueue or by shutdown: a thread cannot join itself.
            ended_.push_back(std::this_thread::get_id());
            return;
        }
        job = std::move(waiting_.front());
        waiting_.pop_front();
    }
}

void ConnectionThreads::joinEnded() {
    for (const std::thread::id id : ended_) {
        const auto thread = threads_.find(id);
        if (thread == threads_.end()) continue;
        thread->second.join();
        threads_.erase(thread);
    }
    ended_.clear();
}

void ConnectionThreads::shutdown() {
    std::map<std::thread::id, std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(threads_);
        ended_.clear();
    }
    for (auto& [id, thread] : threads) thread.join();
}

}  // namespace demo
