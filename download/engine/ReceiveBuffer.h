#pragma once
// Bytes at their offsets, in memory: what a download item holds when its
// bytes are not written through to a file (an HTML page, or a caller that
// wants them in memory). Anonymous mappings rather than the heap: each fresh
// page is touched only by the bytes written into it, large buffers ask for
// transparent huge pages, and growing moves the pages instead of copying
// them. Memory is had as bytes arrive, never ahead of them.
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
    // Where bytes for `offset` can be placed directly (a reader fills it, then
    // Commit): `room` becomes what fits there without growing. Only when
    // nothing fits does the buffer grow, by at least `minimum` bytes. Throws
    // std::bad_alloc.
    char* WritableAt(std::size_t offset, std::size_t minimum, std::size_t& room);
    // The bytes up to `end` have been placed.
    void Commit(std::size_t end);

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
