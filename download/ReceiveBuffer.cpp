#include "download/ReceiveBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

namespace dl {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kFirstCapacity = 64 * 1024;
// Buffers sized in advance from this size on are faulted in ahead of the writer.
constexpr std::size_t kPrefaultFrom = std::size_t(8) << 20;
constexpr std::size_t kPrefaultStep = std::size_t(4) << 20;
constexpr std::size_t kPrefaultLead = std::size_t(4) << 20;

std::size_t pageSize() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t roundUp(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

// Released large mappings are kept for reuse from this size on, up to the limit.
constexpr std::size_t kParkFrom = std::size_t(8) << 20;
constexpr std::size_t kParkLimit = std::size_t(512) << 20;

// The last large mapping a buffer released, kept for the next large buffer.
// Its pages are marked lazily free: the kernel takes them back under memory
// pressure; otherwise the next download writes into pages that are already
// there. Fresh pages are what receiving into memory costs most: the kernel
// zeroes each one.
class ParkedMapping {
public:
    ~ParkedMapping() {
        if (base_) ::munmap(base_, size_);
    }
    void park(char* base, std::size_t size) {
        ::madvise(base, size, MADV_FREE);
        std::lock_guard lock(mutex_);
        if (base_) ::munmap(base_, size_);
        base_ = base;
        size_ = size;
    }
    // The kept mapping when it holds `wanted` bytes without being far larger.
    char* take(std::size_t wanted, std::size_t& mapped) {
        std::lock_guard lock(mutex_);
        if (!base_ || size_ < wanted || size_ > std::max(2 * wanted, wanted + kParkFrom)) return nullptr;
        mapped = std::exchange(size_, 0);
        return std::exchange(base_, nullptr);
    }

private:
    std::mutex mutex_;
    char* base_ = nullptr;
    std::size_t size_ = 0;
};

ParkedMapping& parkedMapping() {
    static ParkedMapping parked;
    return parked;
}

// An anonymous mapping of at least `wanted` bytes; huge-page aligned and
// advised when it is large. Returns nullptr (and `mapped` 0) on failure.
char* mapRegion(std::size_t wanted, std::size_t& mapped) {
    mapped = 0;
    if (wanted >= kParkFrom) {
        if (char* kept = parkedMapping().take(wanted, mapped)) return kept;
    }
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
      capacity_(std::exchange(other.capacity_, 0)),
      prefaultStop_(std::move(other.prefaultStop_)),
      prefault_(std::move(other.prefault_)) {}

ReceiveBuffer& ReceiveBuffer::operator=(ReceiveBuffer&& other) noexcept {
    if (this != &other) {
        Clear();
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        prefaultStop_ = std::move(other.prefaultStop_);
        prefault_ = std::move(other.prefault_);
    }
    return *this;
}

void ReceiveBuffer::StartPrefault() {
#ifdef MADV_POPULATE_WRITE
    prefaultStop_ = std::make_shared<std::atomic<bool>>(false);
    char* const base = base_;
    const std::size_t capacity = capacity_;
    try {
        prefault_ = std::thread([base, capacity, stop = prefaultStop_] {
            // The writer starts at the front and faults its first pages itself;
            // the helper begins a little ahead so the two do not meet.
            for (std::size_t at = kPrefaultLead; at < capacity && !stop->load(std::memory_order_relaxed);
                 at += kPrefaultStep) {
                // Faults the pages in (zeroed) without writing them from here.
                if (::madvise(base + at, std::min(kPrefaultStep, capacity - at), MADV_POPULATE_WRITE) != 0) break;
            }
        });
    } catch (const std::system_error&) {
        // No thread: the writer faults the pages in itself.
    }
#endif
}

void ReceiveBuffer::StopPrefault() {
    if (prefaultStop_) prefaultStop_->store(true);
    if (prefault_.joinable()) prefault_.join();
    prefaultStop_.reset();
}

void ReceiveBuffer::Clear() {
    // The helper must be done with the range before it goes.
    StopPrefault();
    if (base_) {
        if (capacity_ >= kParkFrom && capacity_ <= kParkLimit)
            parkedMapping().park(base_, capacity_);
        else
            ::munmap(base_, capacity_);
    }
    base_ = nullptr;
    size_ = capacity_ = 0;
}

bool ReceiveBuffer::Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return true;
    std::size_t mapped = 0;
    char* region = mapRegion(capacity, mapped);
    if (!region) return false;
    StopPrefault();
    const bool fresh = base_ == nullptr;
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
    if (fresh && capacity_ >= kPrefaultFrom) StartPrefault();
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
    // A reused mapping holds old bytes: a gap must read as zeros.
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
