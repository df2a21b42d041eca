#include "tools/netget/BodyOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tools {

namespace {

// Bytes gathered before one write: few system calls, little memory.
constexpr std::size_t kWaitingBytes = std::size_t{256} << 10;

bool writable(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ((flags & O_ACCMODE) == O_WRONLY || (flags & O_ACCMODE) == O_RDWR);
}

bool isDevNull(const struct stat& st) {
    struct stat null {};
    return S_ISCHR(st.st_mode) && ::stat("/dev/null", &null) == 0 && st.st_rdev == null.st_rdev;
}

}  // namespace

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

BodyOutput::BodyOutput(int fd, std::int64_t limit) : fd_(fd), limit_(limit), held_(limit) {
    struct stat st {};
    if (!writable(fd_) || ::fstat(fd_, &st) != 0) return;
    if (isDevNull(st)) {
        streaming_ = true;
    } else if (S_ISREG(st.st_mode)) {
        // Only at the file's end can a failed body be cut off without
        // touching what the file held before.
        const off_t at = ::lseek(fd_, 0, (::fcntl(fd_, F_GETFL) & O_APPEND) ? SEEK_END : SEEK_CUR);
        if (at >= 0 && at == st.st_size) {
            streaming_ = true;
            takesBack_ = true;
            start_ = at;
        }
    }
}

void BodyOutput::checkLimit(std::int64_t end) const {
    if (end > limit_) throw net::ENetStreamLimitExceeded(limit_);
}

std::int64_t BodyOutput::Read(void*, std::int64_t) { return 0; }

std::int64_t BodyOutput::Write(const void* buffer, std::int64_t count) {
    if (!streaming_) return held_.Write(buffer, count);
    if (count <= 0) return 0;
    if (position_ > limit_ || count > limit_ - position_) throw net::ENetStreamLimitExceeded(limit_);
    if (position_ < size_) cut(position_);
    const char* bytes = static_cast<const char*>(buffer);
    for (std::int64_t left = count; left > 0;) {
        if (waiting_.empty()) waiting_.resize(kWaitingBytes);
        if (waitingCount_ == waiting_.size()) flush();
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, waiting_.size() - waitingCount_));
        std::memcpy(waiting_.data() + waitingCount_, bytes, n);
        waitingCount_ += n;
        bytes += n;
        left -= static_cast<std::int64_t>(n);
    }
    size_ += count;
    position_ = size_;
    return count;
}

void BodyOutput::SetSize(std::int64_t size) {
    if (!streaming_) return held_.SetSize(size);
    checkLimit(size);
    if (size < size_) {
        cut(size);
    } else if (size > size_) {
        const std::int64_t keep = position_;
        position_ = size_;
        const std::vector<char> zeros(static_cast<std::size_t>(std::min<std::int64_t>(size - size_, 65536)));
        while (size_ < size)
            Write(zeros.data(), std::min<std::int64_t>(size - size_, static_cast<std::int64_t>(zeros.size())));
        position_ = keep;
    }
    position_ = std::min(position_, size_);
}

void BodyOutput::SetPosition(std::int64_t position) {
    if (!streaming_) return held_.SetPosition(position);
    if (position < 0) throw std::invalid_argument("negative stream position");
    position_ = position;
}

void BodyOutput::ReserveCapacity(std::int64_t size) {
    if (!streaming_) return held_.ReserveCapacity(size);
    checkLimit(size);
}

char* BodyOutput::BeginDirectWrite(std::int64_t count) {
    if (!streaming_) return held_.BeginDirectWrite(count);
    // Near the limit, or for more than one write's worth, Write does it.
    if (count <= 0 || position_ != size_ || position_ > limit_ || count > limit_ - position_ ||
        static_cast<std::size_t>(count) > kWaitingBytes)
        return nullptr;
    if (waiting_.empty()) waiting_.resize(kWaitingBytes);
    if (waiting_.size() - waitingCount_ < static_cast<std::size_t>(count)) flush();
    return waiting_.data() + waitingCount_;
}

void BodyOutput::CommitDirectWrite(std::int64_t count) {
    if (!streaming_) return held_.CommitDirectWrite(count);
    if (count <= 0) return;
    waitingCount_ += static_cast<std::size_t>(count);
    size_ += count;
    position_ = size_;
}

void BodyOutput::flush() {
    if (waitingCount_ == 0) return;
    if (!writeAll(fd_, std::string_view(waiting_.data(), waitingCount_))) throw EOutputLost(errno);
    waitingCount_ = 0;
}

void BodyOutput::cut(std::int64_t size) {
    const std::int64_t written = size_ - static_cast<std::int64_t>(waitingCount_);
    if (size >= written) {
        waitingCount_ = static_cast<std::size_t>(size - written);
    } else {
        waitingCount_ = 0;
        if (takesBack_ && (::ftruncate(fd_, start_ + size) != 0 || ::lseek(fd_, start_ + size, SEEK_SET) < 0))
            throw EOutputLost(errno);
    }
    size_ = size;
}

void BodyOutput::Finish() {
    if (streaming_) {
        flush();
        return;
    }
    if (!writeAll(fd_, held_.View())) throw EOutputLost(errno);
    held_.Clear();
}

void BodyOutput::Discard() {
    if (!streaming_) {
        held_.Clear();
        return;
    }
    try {
        cut(0);
    } catch (const EOutputLost&) {
        // The failure being reported is the body's; what remains is said by the file.
    }
    position_ = 0;
}

}  // namespace tools
