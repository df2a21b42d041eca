#include <cstdint>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "store/RowIdList.h"

using store::RowIdList;

namespace {

std::vector<std::int64_t> sequence(std::int64_t first, std::size_t count) {
    std::vector<std::int64_t> ids(count);
    std::iota(ids.begin(), ids.end(), first);
    return ids;
}

std::vector<std::int64_t> contents(const RowIdList& list) {
    std::vector<std::int64_t> ids;
    for (std::size_t i = 0; i < list.size(); ++i) ids.push_back(list[i]);
    return ids;
}

RowIdList built(const std::vector<std::int64_t>& ids) {
    RowIdList::Builder builder;
    for (const auto id : ids) builder.add(id);
    return builder.finish();
}

constexpr std::size_t kChunk = RowIdList::kChunkSize;

}  // namespace

// Lists made by building, appending and taking out, around the chunk edges:
// each must read back as the plain vector made the same way.
TEST(RowIdList, EditsAroundChunkEdgesReadBackAsAPlainList) {
    struct Case {
        const char* what;
        std::size_t built;
        std::vector<std::size_t> appends;  // sizes of successive appends
        std::vector<std::size_t> removals;  // indexes taken out, in turn
    };
    const std::vector<Case> cases = {
        {"empty", 0, {}, {}},
        {"appends to an empty list", 0, {1, kChunk - 1, 1, 2 * kChunk + 3}, {}},
        {"a full chunk, then more", kChunk, {1}, {}},
        {"appends that fill a part chunk and spill over", kChunk + 10, {kChunk - 20, 30}, {}},
        {"the only id taken out", 1, {}, {0}},
        {"first and last of a chunk taken out", 2 * kChunk, {}, {kChunk, kChunk - 1, 0}},
        {"a whole chunk emptied id by id", kChunk + 3, {}, std::vector<std::size_t>(kChunk, 0)},
        {"taken out, then appended", 3 * kChunk, {5}, {2 * kChunk, 3 * kChunk - 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::int64_t> expected = sequence(1, c.built);
        RowIdList list = built(expected);
        std::int64_t next = static_cast<std::int64_t>(c.built) + 1;
        for (const std::size_t index : c.removals) {
            list = list.without(index);
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(index));
        }
        for (const std::size_t count : c.appends) {
            const auto ids = sequence(next, count);
            next += static_cast<std::int64_t>(count);
            list = list.appended(ids);
            expected.insert(expected.end(), ids.begin(), ids.end());
        }
        ASSERT_EQ(list.size(), expected.size());
        EXPECT_EQ(contents(list), expected);
        if (!expected.empty()) {
            EXPECT_EQ(list.back(), expected.back());
            EXPECT_EQ(list.find(expected.back()), expected.size() - 1);
            EXPECT_EQ(list.find(expected.front()), 0u);
        }
        EXPECT_FALSE(list.find(-5).has_value());
    }
}

TEST(RowIdList, TheListAnEditStartedFromStaysAsItWas) {
    const auto ids = sequence(1, kChunk + 7);
    const RowIdList original = built(ids);
    const RowIdList longer = original.appended(sequence(100000, 3));
    const RowIdList shorter = original.without(kChunk + 2);
    EXPECT_EQ(contents(original), ids);
    EXPECT_EQ(longer.size(), ids.size() + 3);
    EXPECT_EQ(longer[ids.size()], 100000);
    EXPECT_EQ(shorter.size(), ids.size() - 1);
    EXPECT_EQ(shorter[kChunk + 2], ids[kChunk + 3]);
}
