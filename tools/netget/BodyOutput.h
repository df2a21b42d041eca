#pragma once
// One URL's body on its way to standard output. Where the output can take
// bytes back (a regular file written at its end, or /dev/null) the bytes go
// out as they arrive and a failed body is cut off again, so that none of it
// stays; anywhere else (a pipe, a terminal) the body is held in memory and
// written only once it is whole, since what reached a pipe cannot be undone.
// Either way a failed URL leaves nothing on standard output.
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "http/NetStream.h"

namespace tools {

// Standard output refused bytes while the body came; carries the errno.
class EOutputLost : public std::runtime_error {
public:
    explicit EOutputLost(int error) : std::runtime_error("output lost"), error_(error) {}
    int Error() const { return error_; }

private:
    int error_;
};

class BodyOutput : public net::TNetStream {
public:
    // `limit`: the most bytes the body may have (announced or received);
    // beyond it net::ENetStreamLimitExceeded.
    BodyOutput(int fd, std::int64_t limit);

    // Whether bytes go out as they arrive.
    bool Streaming() const { return streaming_; }

    // Bytes are appended; writing at an earlier position first drops what
    // lies behind it. Reading back is not offered.
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    using net::TNetStream::Write;
    std::int64_t Size() const override { return streaming_ ? size_ : held_.Size(); }
    void SetSize(std::int64_t size) override;
    std::int64_t Position() const override { return streaming_ ? position_ : held_.Position(); }
    void SetPosition(std::int64_t position) override;
    void ReserveCapacity(std::int64_t size) override;
    char* BeginDirectWrite(std::int64_t count) override;
    void CommitDirectWrite(std::int64_t count) override;

    // The body is whole: writes what is still waiting. Throws EOutputLost.
    void Finish();
    // The body failed: takes back what went out, as far as it can.
    void Discard();

private:
    void checkLimit(std::int64_t end) const;
    // Writes the waiting bytes out; throws EOutputLost.
    void flush();
    // Cuts the body at `size` bytes (no more than it has).
    void cut(std::int64_t size);

    int fd_;
    std::int64_t limit_;
    bool streaming_ = false;
    // Streaming: where the body starts in the file, the body's bytes so far
    // (those written out and those waiting), and the bytes waiting.
    std::int64_t start_ = 0;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::vector<char> waiting_;
    std::size_t waitingCount_ = 0;
    bool takesBack_ = false;  // a file that can be cut (not /dev/null)
    // Held in memory: the whole body.
    net::TNetLimitedMemoryStream held_;
};

// Writes all of `bytes` to `fd`; false (errno set) on failure.
bool writeAll(int fd, std::string_view bytes);

}  // namespace tools
