#include "http/NetStream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace net {
namespace {

// Storage at least this large asks the kernel for huge pages: first touches
// of a fresh 100 MiB buffer otherwise cost tens of thousands of page faults,
// which dominate the time to receive a large body.
constexpr std::size_t kHugePageHintFrom = std::size_t{4} << 20;

// Pages of old storage at least this large go back to the system as they
// are copied while growing; smaller storage lives in the heap and is simply
// freed afterwards.
constexpr std::size_t kReleaseFrom = std::size_t{4} << 20;
// Bytes copied between two hand-backs.
constexpr std::size_t kCopySlice = std::size_t{1} << 20;

std::uintptr_t pageSize() {
    static const auto size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// Hands back the whole pages of [begin, end) to the system; they read as
// zeros afterwards. Only for storage about to be freed.
void releasePages(const char* begin, const char* end) {
    const std::uintptr_t page = pageSize();
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
    const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(end) / page * page;
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

// Gives `storage` a capacity of at least `capacity` bytes keeping its first
// `keep` bytes, without touching the new room. A large new allocation gets
// the huge-page hint before any of its pages is touched, and a large old one
// is handed back piece by piece as it is copied, so that growing holds the
// kept bytes once, not twice.
void reserveStorage(std::string& storage, std::size_t capacity, std::size_t keep) {
    if (capacity <= storage.capacity()) return;
    std::string fresh;
    fresh.reserve(capacity);
    if (capacity >= kHugePageHintFrom) {
        const std::uintptr_t page = pageSize();
        const auto begin = reinterpret_cast<std::uintptr_t>(fresh.data());
        const std::uintptr_t from = (begin + page - 1) / page * page;
        const std::uintptr_t to = (begin + fresh.capacity()) / page * page;
        if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
    keep = std::min(keep, storage.size());
    const bool release = storage.capacity() >= kReleaseFrom;
    for (std::size_t done = 0; done < keep;) {
        const std::size_t n = std::min(kCopySlice, keep - done);
        fresh.append(storage.data() + done, n);
        done += n;
        if (release) releasePages(storage.data(), storage.data() + done);
    }
    storage.swap(fresh);
}

}  // namespace

TNetMemoryStream::TNetMemoryStream(std::string initial)
    : storage_(std::move(initial)), size_(static_cast<std::int64_t>(storage_.size())) {}

std::int64_t TNetMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    const std::int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, storage_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TNetMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    zeroGapUpTo(position_);
    ensureStorage(position_ + count);
    std::memcpy(storage_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
}

void TNetMemoryStream::SetSize(std::int64_t size) {
    if (size < 0) throw std::invalid_argument("negative stream size");
    if (size > size_) {
        ensureStorage(size);
        // Room past the old end may hold bytes of an earlier, longer content.
        std::memset(storage_.data() + size_, 0, static_cast<std::size_t>(size - size_));
    }
    size_ = size;
    position_ = std::min(position_, size_);
}

void TNetMemoryStream::SetPosition(std::int64_t position) {
    if (position < 0) throw std::invalid_argument("negative stream position");
    position_ = position;
}

void TNetMemoryStream::ReserveCapacity(std::int64_t size) {
    // Beyond the cap the bytes that come decide, not the announcement.
    if (size > kMaxReserve) return;
    if (size > static_cast<std::int64_t>(storage_.size()))
        reserveStorage(storage_, static_cast<std::size_t>(size), static_cast<std::size_t>(size_));
}

char* TNetMemoryStream::BeginDirectWrite(std::int64_t count) {
    zeroGapUpTo(position_);
    ensureStorage(position_ + std::max<std::int64_t>(count, 0));
    return storage_.data() + position_;
}

void TNetMemoryStream::CommitDirectWrite(std::int64_t count) {
    if (count <= 0) return;
    position_ += count;
    size_ = std::max(size_, position_);
}

std::string TNetMemoryStream::TakeString() {
    storage_.resize(static_cast<std::size_t>(size_));
    std::string out = std::move(storage_);
    storage_.clear();
    size_ = 0;
    position_ = 0;
    return out;
}

void TNetMemoryStream::Clear() {
    storage_ = std::string();
    size_ = 0;
    position_ = 0;
}

void TNetMemoryStream::ensureStorage(std::int64_t end) {
    if (end <= static_cast<std::int64_t>(storage_.size())) return;
    // Geometric growth of the capacity keeps a long series of small writes
    // linear; the string's size grows only to what is written, so no room
    // is touched ahead of its bytes.
    const auto capacity = static_cast<std::int64_t>(storage_.capacity());
    if (end > capacity)
        reserveStorage(storage_, static_cast<std::size_t>(std::max(end, capacity * 2)), static_cast<std::size_t>(size_));
    storage_.resize(static_cast<std::size_t>(end));
}

void TNetMemoryStream::zeroGapUpTo(std::int64_t end) {
    if (end <= size_) return;
    ensureStorage(end);
    std::memset(storage_.data() + size_, 0, static_cast<std::size_t>(end - size_));
    size_ = end;
}

// ---- limited memory stream

ENetStreamLimitExceeded::ENetStreamLimitExceeded(std::int64_t limit)
    : ENetException("Stream limit of " + std::to_string(limit) + " bytes exceeded."), limit_(limit) {}

bool TNetLimitedMemoryStream::fits(std::int64_t count) const {
    return count <= 0 || (Position() <= limit_ && count <= limit_ - Position());
}

void TNetLimitedMemoryStream::check(std::int64_t end) const {
    if (end > limit_) throw ENetStreamLimitExceeded(limit_);
}

std::int64_t TNetLimitedMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (!fits(count)) throw ENetStreamLimitExceeded(limit_);
    return TNetMemoryStream::Write(buffer, count);
}

void TNetLimitedMemoryStream::SetSize(std::int64_t size) {
    check(size);
    TNetMemoryStream::SetSize(size);
}

void TNetLimitedMemoryStream::ReserveCapacity(std::int64_t size) {
    check(size);
    TNetMemoryStream::ReserveCapacity(size);
}

char* TNetLimitedMemoryStream::BeginDirectWrite(std::int64_t count) {
    // Near the limit the caller falls back to Write, which checks the count.
    if (!fits(count)) return nullptr;
    return TNetMemoryStream::BeginDirectWrite(count);
}

}  // namespace net
