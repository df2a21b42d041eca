#pragma once
// The received bytes of one download item, at their offsets, in memory.
// Anonymous mappings rather than the heap: the buffer can be sized once when
// the length is announced without touching a page, each fresh page is touched
// only by the bytes written into it, large buffers ask for transparent huge
// pages (far fewer page faults), and growing moves the pages instead of
// copying them.
#include <cstddef>
#include <string_view>

namespace dl {

class ReceiveBuffer {
public:
    ReceiveBuffer() = default;
    ~ReceiveBuffer();
    ReceiveBuffer(ReceiveBuffer&& other) noexcept;
    ReceiveBuffer& operator=(ReceiveBuffer&& other) noexcept;
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    // Makes room for `capacity` bytes in one piece. False when the address
    // space cannot be had; writing then grows the buffer as it goes.
    bool Reserve(std::size_t capacity);
    // Writes `size` bytes at `offset`, growing as needed; a gap reads as zeros.
    // Throws std::bad_alloc when memory cannot be had.
    void WriteAt(std::size_t offset, const char* data, std::size_t size);

    const char* Data() const { return base_; }
    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    std::string_view View() const { return {base_ ? base_ : "", size_}; }
    // Frees the memory; the buffer is empty afterwards.
    void Clear();

private:
    bool Grow(std::size_t needed);

    char* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // bytes mapped at base_
};

}  // namespace dl
