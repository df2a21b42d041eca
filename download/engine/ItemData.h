#pragma once
// The received bytes of one download item: in memory, or written through to
// the item's part file as they arrive (a bounded staging buffer between the
// reads and the file), so that what a download costs in memory does not grow
// with it. After the part file has taken its name the bytes are still there
// to read: View() maps the file on first use.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/engine/ReceiveBuffer.h"
#include "download/files/KeptPart.h"
#include "download/values/DlDateTime.h"

namespace dl {

class PartFile;

class ItemData {
public:
    // Bytes gathered before they go to the file in one write: few enough
    // writes, and little memory for each song at once.
    static constexpr std::size_t kStaging = std::size_t(256) << 10;

    ItemData();
    ~ItemData();
    ItemData(ItemData&& other) noexcept;
    ItemData& operator=(ItemData&& other) noexcept;

    // ---- reading ----
    std::size_t Size() const;
    // All the bytes; for a file, its mapping (empty when it cannot be mapped).
    std::string_view View() const;
    const char* Data() const { return View().data(); }
    bool InFile() const { return file_ != nullptr; }
    // At most `count` bytes from `offset` on, wherever they are (memory, the
    // file, the staging buffer), without mapping a file; fewer at the end.
    std::string ReadAt(std::uint64_t offset, std::size_t count) const;
    // The part file's path, or the name it took; empty in memory.
    std::string FilePath() const;
    bool Named() const;
    // Frees the memory; an unnamed part file is removed, a named file stays.
    void Clear();

    // ---- writing, by the item's download thread ----
    // Where the next bytes go: `room` bytes there may be written (at least
    // `minimum` when in memory); Commit then takes the first `count` of them.
    // Throws std::bad_alloc when memory cannot be had.
    char* WritableTail(std::size_t minimum, std::size_t& room);
    // 0, or the errno of a write to the file.
    int Commit(std::size_t count);
    // From now on the bytes go to `file`; those in memory are written first.
    // `synced`: of the bytes the file holds already, those on the disk for
    // sure. 0 or an errno.
    int MoveToFile(std::unique_ptr<PartFile> file, std::uint64_t synced = 0);
    // Writes what is staged (and makes a checkpoint when one is due). 0 or
    // an errno.
    int Flush();
    // What identifies the song the bytes are the start of, so that a later
    // run can continue them even if this program never ends its download:
    // written beside the part file as soon as there is one, and again at
    // each checkpoint (every kCheckpointMs with bytes written, the bytes
    // synced first). Nothing: the song cannot be continued, and its part
    // file has no identity (what identified it goes). Errors of writing it
    // only cost that continuing.
    void SetIdentity(std::optional<PartIdentity> identity);
    // The part file is kept for a later run with `identity` beside it (see
    // KeptPart.h) and let go: the data are then empty. 0, or an errno and the
    // part file removed (EINVAL when the bytes are in memory).
    int Keep(const PartIdentity& identity);

    // ---- naming, once the bytes are all there ----
    // The part file takes the name `path` and the date (see PartFile). 0 or
    // an errno (EINVAL when the bytes are in memory).
    int TakeName(const std::string& path, TDateTime date);

private:
    void Unmap() const;
    // The identity beside the part file, as things are now.
    void WriteIdentity();
    void Checkpoint();

    ReceiveBuffer memory_;
    std::unique_ptr<PartFile> file_;
    std::vector<char> staging_;
    std::size_t staged_ = 0;
    // Staged bytes wait at most this long for a full staging buffer, so a
    // killed program leaves what arrived up to a moment before.
    static constexpr std::uint32_t kStagedAtMostMs = 1000;
    std::uint32_t stagedSince_ = 0;
    std::optional<PartIdentity> identity_;
    std::uint64_t synced_ = 0;
    std::uint32_t lastCheckpoint_ = 0;
    mutable void* mapping_ = nullptr;
    mutable std::size_t mapped_ = 0;
};

}  // namespace dl
