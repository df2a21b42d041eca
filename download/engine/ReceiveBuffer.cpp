#include "download/engine/ReceiveBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace dl {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kFirstCapacity = 64 * 1024;
std::size_t pageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t roundUp(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

// An anonymous mapping of at least `wanted` bytes; huge-page aligned and
// advised when it is large. Returns nullptr (and `mapped` 0) on failure.
char* mapRegion(std::size_t wanted, std::size_t& mapped) {
    mapped = 0;
    const int prot = PROT_READ | PROT_WRITE;
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    if (wanted < kHugePage) {
        const std::size_t size = roundUp(std::max<std::size_t>(wanted, 1), pageSize());
        void* p = ::mmap(nullptr, size, prot, flags, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        mapped = size;
        return static_cast<char*>(p);
    }
    const std::size_t size = roundUp(wanted, kHugePage);
    if (size < wanted || size + kHugePage < size) return nullptr;
    void* p = ::mmap(nullptr, size + kHugePage, prot, flags, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Trim to a huge-page boundary so the kernel can back it with huge pages.
    const auto raw = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = roundUp(raw, kHugePage);
    if (aligned > raw) ::munmap(p, aligned - raw);
    const std::uintptr_t tail = aligned + size;
    const std::uintptr_t end = raw + size + kHugePage;
    if (end > tail) ::munmap(reinterpret_cast<void*>(tail), end - tail);
    ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    mapped = size;
    return reinterpret_cast<char*>(aligned);
}

}  // namespace

ReceiveBuffer::~ReceiveBuffer() { Clear(); }

ReceiveBuffer::ReceiveBuffer(ReceiveBuffer&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ReceiveBuffer& ReceiveBuffer::operator=(ReceiveBuffer&& other) noexcept {
    if (this != &other) {
        Clear();
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

void ReceiveBuffer::Clear() {
    if (base_) ::munmap(base_, capacity_);
    base_ = nullptr;
    size_ = capacity_ = 0;
}

bool ReceiveBuffer::Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return true;
    std::size_t mapped = 0;
    char* region = mapRegion(capacity, mapped);
    if (!region) return false;
    if (base_) {
        // Move the pages written so far instead of copying them.
        const std::size_t used = std::min(roundUp(size_, pageSize()), capacity_);
        const bool moved =
            used > 0 && ::mremap(base_, used, used, MREMAP_MAYMOVE | MREMAP_FIXED, region) != MAP_FAILED;
        if (moved) {
            if (capacity_ > used) ::munmap(base_ + used, capacity_ - used);
        } else {
            std::memcpy(region, base_, size_);
            ::munmap(base_, capacity_);
        }
    }
    base_ = region;
    capacity_ = mapped;
    return true;
}

bool ReceiveBuffer::Grow(std::size_t needed) {
    std::size_t wanted = std::max({needed, capacity_ * 2, kFirstCapacity});
    if (wanted < needed) wanted = needed;
    return Reserve(wanted) || Reserve(needed);
}

void ReceiveBuffer::WriteAt(std::size_t offset, const char* data, std::size_t size) {
    const std::size_t end = offset + size;
    if (end < offset) throw std::bad_alloc();
    if (end > capacity_ && !Grow(end)) throw std::bad_alloc();
    // Fresh pages read as zeros; bytes cut off by a shorter commit may not.
    if (offset > size_) std::memset(base_ + size_, 0, offset - size_);
    std::memcpy(base_ + offset, data, size);
    size_ = std::max(size_, end);
}

char* ReceiveBuffer::WritableAt(std::size_t offset, std::size_t minimum, std::size_t& room) {
    if (offset >= capacity_) {
        const std::size_t end = offset + minimum;
        if (end < offset || !Grow(end)) throw std::bad_alloc();
    }
    room = capacity_ - offset;
    return base_ + offset;
}

void ReceiveBuffer::Commit(std::size_t end) { size_ = std::max(size_, std::min(end, capacity_)); }

}  // namespace dl
