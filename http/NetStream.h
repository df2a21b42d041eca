#pragma once
// Byte streams that bodies are read into and written from.
#include <cstdint>
#include <string>
#include <string_view>

#include "http/NetException.h"

namespace net {

// A seekable byte stream with a size and a position, like a file.
class TNetStream {
public:
    TNetStream() = default;
    TNetStream(const TNetStream&) = delete;
    TNetStream& operator=(const TNetStream&) = delete;
    virtual ~TNetStream() = default;

    // Copies up to `count` bytes from the position on; returns how many came.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes `count` bytes at the position (growing the stream as needed).
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Size() const = 0;
    // Cuts or extends (with zero bytes) the stream; the position stays unless
    // it would lie beyond the new end.
    virtual void SetSize(std::int64_t size) = 0;
    virtual std::int64_t Position() const = 0;
    virtual void SetPosition(std::int64_t position) = 0;

    // Says the stream will soon hold `size` bytes, so storage can be set up
    // once instead of growing piece by piece. Changes nothing visible.
    virtual void ReserveCapacity(std::int64_t size) { (void)size; }

    // Direct writing without an intermediate copy: BeginDirectWrite returns
    // room for `count` bytes at the position (nullptr when the stream cannot
    // offer it); the bytes become part of the stream only with
    // CommitDirectWrite(n), n <= count, which also advances the position.
    virtual char* BeginDirectWrite(std::int64_t count) { (void)count; return nullptr; }
    virtual void CommitDirectWrite(std::int64_t count) { (void)count; }

    std::int64_t Write(std::string_view bytes) {
        return Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
};

// A stream held in one contiguous std::string: the bytes are received into
// the string a caller gets, and moved out without a copy (TakeString). An
// announced length within the page cap reserves its room once (address space
// only, with large pages where the system allows); a longer one reserves
// nothing, and the string grows geometrically as the bytes come. Growing
// hands each copied piece of the old storage back to the system at once, so
// the bytes are never held twice, and fresh room is touched only by the bytes
// written into it.
class TNetMemoryStream : public TNetStream {
public:
    // The longest announced length that is reserved ahead of its bytes: the
    // search's page cap. Memory never follows what a peer announces beyond it.
    static constexpr std::int64_t kMaxReserve = std::int64_t{16} << 20;

    TNetMemoryStream() = default;
    explicit TNetMemoryStream(std::string initial);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    using TNetStream::Write;
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override;
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override;
    void ReserveCapacity(std::int64_t size) override;
    char* BeginDirectWrite(std::int64_t count) override;
    void CommitDirectWrite(std::int64_t count) override;

    // Bytes the storage holds room for.
    std::int64_t Capacity() const { return static_cast<std::int64_t>(storage_.capacity()); }
    // The stream's bytes (valid until the next change).
    std::string_view View() const { return {storage_.data(), static_cast<std::size_t>(size_)}; }
    // Moves the bytes out and leaves the stream empty.
    std::string TakeString();
    void Clear();

private:
    void ensureStorage(std::int64_t end);
    void zeroGapUpTo(std::int64_t end);

    // storage_.size() may exceed size_: the tail is room already paid for.
    std::string storage_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

// Raised by a stream asked to hold more bytes than its limit.
class ENetStreamLimitExceeded : public ENetException {
public:
    explicit ENetStreamLimitExceeded(std::int64_t limit);
    std::int64_t Limit() const { return limit_; }
    const char* ClassName() const override { return "ENetStreamLimitExceeded"; }

private:
    std::int64_t limit_;
};

// A memory stream that never holds more than `limit` bytes: a write, a size
// or an announced length beyond it raises ENetStreamLimitExceeded and changes
// nothing. So a body announced longer than the limit fails before any of it
// is read, and one that only turns out longer fails as soon as it does.
class TNetLimitedMemoryStream : public TNetMemoryStream {
public:
    explicit TNetLimitedMemoryStream(std::int64_t limit) : limit_(limit) {}

    std::int64_t Write(const void* buffer, std::int64_t count) override;
    using TNetMemoryStream::Write;
    void SetSize(std::int64_t size) override;
    void ReserveCapacity(std::int64_t size) override;
    char* BeginDirectWrite(std::int64_t count) override;

    std::int64_t Limit() const { return limit_; }

private:
    // Whether `count` more bytes from the position on stay within the limit.
    bool fits(std::int64_t count) const;
    void check(std::int64_t end) const;

    std::int64_t limit_;
};

}  // namespace net
