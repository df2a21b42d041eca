#pragma once
// Byte buffers of the connection: the write buffer and receive scratch
// (TNetSimpleBuffer) and the input buffer (TNetManagedBuffer).
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "http/NetStream.h"

namespace net {

// A memory stream whose capacity moves in steps of 8192 bytes. Removing bytes
// from the front is reported to OnRemove with the count.
class TNetSimpleBuffer : public TNetStream {
public:
    static constexpr std::int64_t kCapacityStep = 8192;

    TNetSimpleBuffer() = default;
    ~TNetSimpleBuffer() override = default;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    using TNetStream::Write;
    std::int64_t Size() const override { return rawSize_ - offset_; }
    void SetSize(std::int64_t size) override;
    std::int64_t Position() const override { return rawPosition_ - offset_; }
    void SetPosition(std::int64_t position) override;

    // The unread bytes (Size() of them).
    char* Memory() { return data_.get() + offset_; }
    const char* Memory() const { return data_.get() + offset_; }
    std::int64_t Capacity() const { return capacity_; }

    // Appends at the end, whatever the position.
    void Append(const void* buffer, std::int64_t count);
    // Returns the first n bytes and removes them; more than Size() raises
    // ENetNotEnoughDataInBuffer.
    std::string TakeFront(std::int64_t n);
    // Removes the first n bytes; more than Size() raises ENetNotEnoughDataInBuffer.
    virtual void DiscardFront(std::int64_t n);
    // Empties the buffer and releases its memory.
    void Clear();

    // Called with n after every removal of n bytes from the front.
    std::function<void(std::int64_t)> OnRemove;

protected:
    void setRawSize(std::int64_t rawSize);
    void releaseMemory();
    void notifyRemoved(std::int64_t n);

    struct FreeDeleter {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, FreeDeleter> data_;
    std::int64_t capacity_ = 0;
    std::int64_t rawSize_ = 0;      // bytes stored, including the consumed prefix
    std::int64_t rawPosition_ = 0;  // stream position, including the consumed prefix
    std::int64_t offset_ = 0;       // consumed prefix (always 0 in the simple buffer)
};

// The input buffer: consuming from the front only moves a read offset; the
// consumed prefix is dropped once it reaches the compaction threshold.
class TNetManagedBuffer : public TNetSimpleBuffer {
public:
    static constexpr std::int64_t kCompactThreshold = 32768;

    void DiscardFront(std::int64_t n) override;
    std::int64_t ReadOffset() const { return offset_; }

private:
    void compact();
};

}  // namespace net
