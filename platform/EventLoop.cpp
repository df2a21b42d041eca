#include "platform/EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>
#include <system_error>

namespace platform {

EventLoop::EventLoop() : owner_(std::this_thread::get_id()) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "event loop: no eventfd");
}

EventLoop::~EventLoop() { ::close(wakeFd_); }

void EventLoop::wake() {
    const std::uint64_t one = 1;
    // A full counter (never reached) or EAGAIN still leaves the fd readable.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
}

void EventLoop::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(fn));
    }
    wake();
}

void EventLoop::postAfter(std::chrono::milliseconds delay, std::function<void()> fn) {
    if (delay.count() < 0) delay = std::chrono::milliseconds(0);
    {
        std::lock_guard lock(mutex_);
        // multimap keeps equal keys in insertion order.
        timers_.emplace(Clock::now() + delay, std::move(fn));
    }
    wake();
}

void EventLoop::watch(int fd, std::function<void()> onReadable) { watched_.emplace_back(fd, std::move(onReadable)); }

void EventLoop::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake();
}

std::vector<std::function<void()>> EventLoop::takeDue(Clock::time_point now, int& timeoutMs) {
    std::vector<std::function<void()>> due;
    std::lock_guard lock(mutex_);
    for (auto& fn : posted_) due.push_back(std::move(fn));
    posted_.clear();
    const auto end = timers_.upper_bound(now);
    for (auto it = timers_.begin(); it != end; ++it) due.push_back(std::move(it->second));
    timers_.erase(timers_.begin(), end);
    timeoutMs = -1;
    if (!timers_.empty()) {
        // Rounded up, so a timer is never woken for before it is due.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(timers_.begin()->first - now).count();
        timeoutMs = static_cast<int>(std::min<long long>(left, std::numeric_limits<int>::max()));
    }
    return due;
}

void EventLoop::exec() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (quit_) {
                quit_ = false;
                return;
            }
        }
        int timeoutMs = -1;
        auto due = takeDue(Clock::now(), timeoutMs);
        if (!due.empty()) {
            for (std::size_t i = 0; i < due.size(); ++i) {
                due[i]();
                std::lock_guard lock(mutex_);
                if (quit_ && i + 1 < due.size()) {
                    // The rest stays for a later exec(), ahead of what came since.
                    posted_.insert(posted_.begin(), std::make_move_iterator(due.begin() + static_cast<std::ptrdiff_t>(i + 1)),
                                   std::make_move_iterator(due.end()));
                    break;
                }
            }
            continue;  // the calls may have posted more, or asked to quit
        }
        std::vector<pollfd> fds;
        fds.reserve(watched_.size() + 1);
        fds.push_back({wakeFd_, POLLIN, 0});
        for (const auto& [fd, fn] : watched_) fds.push_back({fd, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "event loop: poll");
        }
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0) watched_[i - 1].second();
        }
    }
}

}  // namespace platform
