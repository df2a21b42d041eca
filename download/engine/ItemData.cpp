#include "download/engine/ItemData.h"

#include <sys/mman.h>

#include <cerrno>
#include <utility>

#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"

namespace dl {

ItemData::ItemData() = default;

ItemData::~ItemData() { Clear(); }

ItemData::ItemData(ItemData&& other) noexcept
    : memory_(std::move(other.memory_)),
      file_(std::move(other.file_)),
      staging_(std::move(other.staging_)),
      staged_(std::exchange(other.staged_, 0)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)) {}

ItemData& ItemData::operator=(ItemData&& other) noexcept {
    if (this != &other) {
        Clear();
        memory_ = std::move(other.memory_);
        file_ = std::move(other.file_);
        staging_ = std::move(other.staging_);
        staged_ = std::exchange(other.staged_, 0);
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
    staged_ += count;
    // Only a full staging buffer is written here: bytes placed beyond what
    // was taken still wait in it for the next reads.
    return staged_ == staging_.size() ? Flush() : 0;
}

int ItemData::Flush() {
    if (!file_ || staged_ == 0) return 0;
    const int error = file_->Append(staging_.data(), staged_);
    staged_ = 0;
    return error;
}

int ItemData::MoveToFile(std::unique_ptr<PartFile> file) {
    if (file_ || !file) return EINVAL;
    const int error = file->Append(memory_.Data(), memory_.Size());
    if (error != 0) return error;
    memory_.Clear();
    file_ = std::move(file);
    return 0;
}

int ItemData::Keep(const PartIdentity& identity) {
    if (!file_) return EINVAL;
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
