#include "download/engine/ItemData.h"

#include <sys/mman.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "platform/TickCount.h"

namespace dl {

ItemData::ItemData() = default;

ItemData::~ItemData() { Clear(); }

ItemData::ItemData(ItemData&& other) noexcept
    : memory_(std::move(other.memory_)),
      file_(std::move(other.file_)),
      staging_(std::move(other.staging_)),
      staged_(std::exchange(other.staged_, 0)),
      stagedSince_(other.stagedSince_),
      identity_(std::exchange(other.identity_, std::nullopt)),
      synced_(std::exchange(other.synced_, 0)),
      lastCheckpoint_(other.lastCheckpoint_),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)) {}

ItemData& ItemData::operator=(ItemData&& other) noexcept {
    if (this != &other) {
        Clear();
        memory_ = std::move(other.memory_);
        file_ = std::move(other.file_);
        staging_ = std::move(other.staging_);
        staged_ = std::exchange(other.staged_, 0);
        stagedSince_ = other.stagedSince_;
        identity_ = std::exchange(other.identity_, std::nullopt);
        synced_ = std::exchange(other.synced_, 0);
        lastCheckpoint_ = other.lastCheckpoint_;
        mapping_ = std::exchange(other.mapping_, nullptr);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

std::size_t ItemData::Size() const {
    if (file_) return static_cast<std::size_t>(file_->size()) + staged_;
    return memory_.Size();
}

std::string_view ItemData::View() const {
    if (!file_) return memory_.View();
    const std::size_t size = static_cast<std::size_t>(file_->size());
    if (size == 0) return {};
    if (!mapping_ || mapped_ != size) {
        Unmap();
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, file_->fd(), 0);
        if (p == MAP_FAILED) return {};
        mapping_ = p;
        mapped_ = size;
    }
    return {static_cast<const char*>(mapping_), mapped_};
}

std::string ItemData::ReadAt(std::uint64_t offset, std::size_t count) const {
    const std::uint64_t size = Size();
    if (offset >= size) return {};
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
    if (!file_) return std::string(memory_.View().substr(static_cast<std::size_t>(offset), count));
    std::string bytes(count, '\0');
    std::size_t have = 0;
    const std::uint64_t onDisk = file_->size();
    while (have < count && offset + have < onDisk) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count - have, onDisk - offset - have));
        const ssize_t n = ::pread(file_->fd(), bytes.data() + have, want, static_cast<off_t>(offset + have));
        if (n <= 0) break;
        have += static_cast<std::size_t>(n);
    }
    if (have < count && offset + have >= onDisk) {
        const std::size_t from = static_cast<std::size_t>(offset + have - onDisk);
        const std::size_t n = std::min(count - have, staged_ - std::min(staged_, from));
        std::copy_n(staging_.data() + from, n, bytes.data() + have);
        have += n;
    }
    bytes.resize(have);
    return bytes;
}

std::string ItemData::FilePath() const { return file_ ? file_->path() : std::string(); }

bool ItemData::Named() const { return file_ && file_->named(); }

void ItemData::Unmap() const {
    if (mapping_) ::munmap(mapping_, mapped_);
    mapping_ = nullptr;
    mapped_ = 0;
}

void ItemData::Clear() {
    Unmap();
    memory_.Clear();
    file_.reset();
    std::vector<char>().swap(staging_);
    staged_ = 0;
    identity_.reset();
    synced_ = 0;
}

char* ItemData::WritableTail(std::size_t minimum, std::size_t& room) {
    if (!file_) return memory_.WritableAt(memory_.Size(), minimum, room);
    if (staging_.empty()) staging_.resize(kStaging);
    room = staging_.size() - staged_;
    return staging_.data() + staged_;
}

int ItemData::Commit(std::size_t count) {
    if (!file_) {
        memory_.Commit(memory_.Size() + count);
        return 0;
    }
    if (staged_ == 0) stagedSince_ = platform::tickCount();
    staged_ += count;
    // Only a full staging buffer, or one that waited long enough, is written
    // here: bytes placed beyond what was taken still wait in it for the next
    // reads.
    if (staged_ == staging_.size() || platform::ticksBetween(stagedSince_, platform::tickCount()) >= kStagedAtMostMs)
        return Flush();
    return 0;
}

int ItemData::Flush() {
    if (!file_ || staged_ == 0) return 0;
    const int error = file_->Append(staging_.data(), staged_);
    staged_ = 0;
    // By time, not by size: a fast download is not held up by a sync every
    // few MiB, and a crash costs at most that long of downloading again.
    if (error == 0 && identity_ && platform::ticksBetween(lastCheckpoint_, platform::tickCount()) >= kCheckpointMs)
        Checkpoint();
    return error;
}

int ItemData::MoveToFile(std::unique_ptr<PartFile> file, std::uint64_t synced) {
    if (file_ || !file) return EINVAL;
    const int error = file->Append(memory_.Data(), memory_.Size());
    if (error != 0) return error;
    memory_.Clear();
    file_ = std::move(file);
    synced_ = std::min<std::uint64_t>(synced, file_->size());
    lastCheckpoint_ = platform::tickCount();
    if (identity_) WriteIdentity();
    return 0;
}

void ItemData::SetIdentity(std::optional<PartIdentity> identity) {
    const bool had = identity_.has_value();
    identity_ = std::move(identity);
    if (!file_) return;
    if (identity_) {
        WriteIdentity();
    } else if (had) {
        // Nothing vouches for these bytes any more.
        ::unlink(IdentityPathOf(file_->path()).c_str());
    }
}

void ItemData::WriteIdentity() {
    PartIdentity identity = *identity_;
    identity.held = synced_;
    // Without a boot to tell a kill from a power cut, only the bytes synced
    // count (form 1), and before the first checkpoint there are none.
    identity.boot = CurrentBootId();
    if (identity.boot.empty() && synced_ == 0) return;
    (void)WritePartIdentity(*file_, identity);
}

void ItemData::Checkpoint() {
    lastCheckpoint_ = platform::tickCount();
    // Never all of the song: that part file is about to take its name.
    if (identity_->length != 0 && file_->size() >= identity_->length) return;
    // The bytes first, then what vouches for them.
    if (file_->Sync() != 0) return;
    synced_ = file_->size();
    WriteIdentity();
}

int ItemData::Keep(const PartIdentity& identity) {
    if (!file_) return EINVAL;
    identity_.reset();  // no checkpoint now: it is kept whole
    int error = Flush();
    if (error == 0) error = KeepPartFile(*file_, identity);
    Clear();
    return error;
}

int ItemData::TakeName(const std::string& path, TDateTime date) {
    if (!file_) return EINVAL;
    if (const int error = Flush()) return error;
    Unmap();
    return file_->TakeName(path, date);
}

}  // namespace dl
