#include "http/NetBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "http/NetSocketErrors.h"

namespace net {
namespace {

std::int64_t roundUpToStep(std::int64_t n) {
    const std::int64_t step = TNetSimpleBuffer::kCapacityStep;
    return (n + step - 1) / step * step;
}

}  // namespace

std::int64_t TNetSimpleBuffer::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || rawPosition_ >= rawSize_) return 0;
    const std::int64_t n = std::min(count, rawSize_ - rawPosition_);
    std::memcpy(buffer, data_.get() + rawPosition_, static_cast<std::size_t>(n));
    rawPosition_ += n;
    return n;
}

std::int64_t TNetSimpleBuffer::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    const std::int64_t oldSize = rawSize_;
    const std::int64_t end = rawPosition_ + count;
    if (end > rawSize_) setRawSize(end);
    if (rawPosition_ > oldSize)
        std::memset(data_.get() + oldSize, 0, static_cast<std::size_t>(rawPosition_ - oldSize));
    std::memcpy(data_.get() + rawPosition_, buffer, static_cast<std::size_t>(count));
    rawPosition_ = end;
    return count;
}

void TNetSimpleBuffer::SetSize(std::int64_t size) {
    if (size < 0) throw std::invalid_argument("negative buffer size");
    const std::int64_t oldRaw = rawSize_;
    const std::int64_t newRaw = offset_ + size;
    if (newRaw == offset_ && offset_ > 0) {
        // Nothing unread remains: drop the consumed prefix as well.
        offset_ = 0;
        rawPosition_ = 0;
        setRawSize(0);
        return;
    }
    setRawSize(newRaw);
    if (newRaw > oldRaw)
        std::memset(data_.get() + oldRaw, 0, static_cast<std::size_t>(newRaw - oldRaw));
    rawPosition_ = std::min(rawPosition_, rawSize_);
}

void TNetSimpleBuffer::SetPosition(std::int64_t position) {
    if (position < 0) throw std::invalid_argument("negative buffer position");
    rawPosition_ = offset_ + position;
}

void TNetSimpleBuffer::Append(const void* buffer, std::int64_t count) {
    if (count <= 0) return;
    const std::int64_t end = rawSize_;
    setRawSize(rawSize_ + count);
    std::memcpy(data_.get() + end, buffer, static_cast<std::size_t>(count));
}

std::string TNetSimpleBuffer::TakeFront(std::int64_t n) {
    if (n > Size()) throw ENetNotEnoughDataInBuffer();
    if (n <= 0) return {};
    std::string front(Memory(), static_cast<std::size_t>(n));
    DiscardFront(n);
    return front;
}

void TNetSimpleBuffer::DiscardFront(std::int64_t n) {
    if (n > Size()) throw ENetNotEnoughDataInBuffer();
    if (n <= 0) return;
    if (n == Size()) {
        Clear();
    } else {
        const std::int64_t rest = rawSize_ - n;
        std::memmove(data_.get(), data_.get() + n, static_cast<std::size_t>(rest));
        rawPosition_ = std::max<std::int64_t>(0, rawPosition_ - n);
        setRawSize(rest);
    }
    notifyRemoved(n);
}

void TNetSimpleBuffer::Clear() {
    releaseMemory();
    rawSize_ = 0;
    rawPosition_ = 0;
    offset_ = 0;
}

void TNetSimpleBuffer::setRawSize(std::int64_t rawSize) {
    const std::int64_t needed = roundUpToStep(rawSize);
    std::int64_t target = capacity_;
    if (needed > capacity_) {
        // Grow geometrically (still in whole steps) so that appending piece
        // after piece does not copy the whole buffer each time.
        target = std::max(needed, roundUpToStep(capacity_ + capacity_ / 2));
    } else if (needed == 0) {
        target = 0;
    } else if (needed * 4 <= capacity_) {
        target = roundUpToStep(needed * 2);
    }
    if (target != capacity_) {
        if (target == 0) {
            data_.reset();
        } else {
            void* grown = std::realloc(data_.get(), static_cast<std::size_t>(target));
            if (!grown) throw std::bad_alloc();
            (void)data_.release();
            data_.reset(static_cast<char*>(grown));
        }
        capacity_ = target;
    }
    rawSize_ = rawSize;
}

void TNetSimpleBuffer::releaseMemory() {
    data_.reset();
    capacity_ = 0;
}

void TNetSimpleBuffer::notifyRemoved(std::int64_t n) {
    if (OnRemove) OnRemove(n);
}

void TNetManagedBuffer::DiscardFront(std::int64_t n) {
    if (n > Size()) throw ENetNotEnoughDataInBuffer();
    if (n <= 0) return;
    if (n == Size()) {
        // Keep the memory: the input buffer refills at once.
        rawSize_ = 0;
        rawPosition_ = 0;
        offset_ = 0;
    } else {
        offset_ += n;
        rawPosition_ = std::max(rawPosition_, offset_);
        if (offset_ >= kCompactThreshold) compact();
    }
    notifyRemoved(n);
}

void TNetManagedBuffer::compact() {
    const std::int64_t unread = rawSize_ - offset_;
    std::memmove(data_.get(), data_.get() + offset_, static_cast<std::size_t>(unread));
    rawPosition_ -= offset_;
    offset_ = 0;
    setRawSize(unread);
}

}  // namespace net
