#pragma once
// The received bytes of one download item, at their offsets, in memory.
// Anonymous mappings rather than the heap: the buffer can be sized once when
// the length is announced without touching a page, each fresh page is touched
// only by the bytes written into it, large buffers ask for transparent huge
// pages (far fewer page faults), and growing moves the pages instead of
// copying them. A large buffer sized in advance is also faulted in by a
// helper thread ahead of the writer, so the kernel's zeroing of fresh pages
// runs beside the transfer rather than in it, and the last large mapping
// released is kept (lazily freed) for the next large buffer.
#include <atomic>
#include <cstddef>
#include <memory>
#include <string_view>
#include <thread>

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
    void StartPrefault();
    void StopPrefault();

    char* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // bytes mapped at base_
    std::shared_ptr<std::atomic<bool>> prefaultStop_;
    std::thread prefault_;      // works on the mapping's range only, never on this object
};

}  // namespace dl
