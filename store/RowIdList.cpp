#include "store/RowIdList.h"

#include <algorithm>

namespace store {

RowIdList::Place RowIdList::place(std::size_t index) const {
    const auto chunk = static_cast<std::size_t>(std::upper_bound(ends_.begin(), ends_.end(), index) - ends_.begin());
    return {chunk, index - (chunk == 0 ? 0 : ends_[chunk - 1])};
}

std::int64_t RowIdList::operator[](std::size_t index) const {
    const Place at = place(index);
    return (*chunks_[at.chunk])[at.offset];
}

void RowIdList::push(Chunk chunk) {
    if (chunk.empty()) return;
    ends_.push_back(size() + chunk.size());
    chunks_.push_back(std::make_shared<const Chunk>(std::move(chunk)));
}

RowIdList RowIdList::appended(const std::vector<std::int64_t>& ids) const {
    RowIdList list = *this;
    auto next = ids.begin();
    // A last chunk with room is copied and filled up; the ones before stay shared.
    if (!list.chunks_.empty() && list.chunks_.back()->size() < kChunkSize && next != ids.end()) {
        Chunk last = *list.chunks_.back();
        list.chunks_.pop_back();
        list.ends_.pop_back();
        const auto room = static_cast<std::ptrdiff_t>(kChunkSize - last.size());
        const auto take = std::min(room, ids.end() - next);
        last.insert(last.end(), next, next + take);
        next += take;
        list.push(std::move(last));
    }
    while (next != ids.end()) {
        const auto take = std::min(static_cast<std::ptrdiff_t>(kChunkSize), ids.end() - next);
        list.push(Chunk(next, next + take));
        next += take;
    }
    return list;
}

RowIdList RowIdList::without(std::size_t index) const {
    RowIdList list = *this;
    const auto [chunk, offset] = place(index);
    Chunk shorter = *chunks_[chunk];
    shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(offset));
    if (shorter.empty()) {
        list.chunks_.erase(list.chunks_.begin() + static_cast<std::ptrdiff_t>(chunk));
        list.ends_.erase(list.ends_.begin() + static_cast<std::ptrdiff_t>(chunk));
    } else {
        list.chunks_[chunk] = std::make_shared<const Chunk>(std::move(shorter));
    }
    for (std::size_t i = chunk; i < list.ends_.size(); ++i) --list.ends_[i];
    return list;
}

std::optional<std::size_t> RowIdList::find(std::int64_t id) const {
    std::size_t start = 0;
    for (const auto& chunk : chunks_) {
        const auto hit = std::find(chunk->begin(), chunk->end(), id);
        if (hit != chunk->end()) return start + static_cast<std::size_t>(hit - chunk->begin());
        start += chunk->size();
    }
    return std::nullopt;
}

void RowIdList::Builder::add(std::int64_t id) {
    if (chunk_.capacity() == 0) chunk_.reserve(kChunkSize);
    chunk_.push_back(id);
    if (chunk_.size() == kChunkSize) {
        list_.push(std::move(chunk_));
        chunk_ = {};
    }
}

RowIdList RowIdList::Builder::finish() {
    list_.push(std::move(chunk_));
    chunk_ = {};
    return std::move(list_);
}

}  // namespace store
