#pragma once
// The row ids of a results snapshot, in the order the store returned them.
// A list is never changed once made: adding ids at its end or taking one out
// makes a new list that shares all but one chunk with the old one, so a
// snapshot the grid still shows stays valid while the next one is made, and
// appending costs in proportion to what is added, not to the list.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace store {

class RowIdList {
public:
    static constexpr std::size_t kChunkSize = 4096;

    std::size_t size() const { return ends_.empty() ? 0 : ends_.back(); }
    bool empty() const { return size() == 0; }
    // `index` < size().
    std::int64_t operator[](std::size_t index) const;
    std::int64_t back() const { return chunks_.back()->back(); }

    // This list with `ids` after its last id.
    RowIdList appended(const std::vector<std::int64_t>& ids) const;
    // This list without the id at `index` (< size()).
    RowIdList without(std::size_t index) const;
    // Where `id` stands, looking from the start.
    std::optional<std::size_t> find(std::int64_t id) const;
    // Calls `visit(id)` for each id in order, until it returns false.
    template <typename Visit>
    void forEach(Visit visit) const {
        for (const auto& chunk : chunks_)
            for (const std::int64_t id : *chunk)
                if (!visit(id)) return;
    }

    class Builder;

private:
    using Chunk = std::vector<std::int64_t>;
    // Which chunk holds `index`, and where in it.
    struct Place {
        std::size_t chunk;
        std::size_t offset;
    };
    Place place(std::size_t index) const;
    void push(Chunk chunk);

    std::vector<std::shared_ptr<const Chunk>> chunks_;
    // ends_[i]: how many ids chunks 0 to i hold together.
    std::vector<std::size_t> ends_;
};

// Collects ids one by one into a list.
class RowIdList::Builder {
public:
    void add(std::int64_t id);
    RowIdList finish();

private:
    RowIdList list_;
    std::vector<std::int64_t> chunk_;
};

}  // namespace store
