#pragma once
// A hash map cut into many small ones by its key: each grows (rehashes) on
// its own, so that a map of a million keys never stops its thread to move
// them all at once. The shards fill evenly and so reach their next size at
// slightly different moments: growing costs a shard's share at a time,
// spread over the inserts that fill them.
#include <array>
#include <cstddef>
#include <cstdint>

namespace app {

template <class Map, std::size_t Shards = 1024>
class ShardedHash {
    static_assert((Shards & (Shards - 1)) == 0, "a power of two");

public:
    // The shard that holds `key`. Keys that follow one another (row ids)
    // are spread over every shard as well as hashed ones.
    Map& shard(std::uint64_t key) { return shards_[indexOf(key)]; }
    const Map& shard(std::uint64_t key) const { return shards_[indexOf(key)]; }

    std::size_t size() const {
        std::size_t all = 0;
        for (const Map& m : shards_) all += static_cast<std::size_t>(m.size());
        return all;
    }
    void clear() {
        for (Map& m : shards_) m.clear();
    }
    // Every shard, for walking all the keys.
    std::array<Map, Shards>& shards() { return shards_; }

private:
    static std::size_t indexOf(std::uint64_t key) {
        // Fibonacci hashing: the top bits of the product mix every bit of the key.
        constexpr int kBits = __builtin_ctzll(Shards);
        return static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ULL) >> (64 - kBits));
    }

    std::array<Map, Shards> shards_{};
};

}  // namespace app
