#include "store/RowCache.h"

namespace store {

std::optional<SongRow> RowCache::find(std::int64_t rowid) {
    const auto hit = index_.find(rowid);
    if (hit == index_.end()) return std::nullopt;
    rows_.splice(rows_.begin(), rows_, hit->second);
    return *hit->second;
}

void RowCache::put(const SongRow& row) {
    if (capacity_ == 0) return;
    erase(row.rowid);
    rows_.push_front(row);
    index_[row.rowid] = rows_.begin();
    if (rows_.size() > capacity_) {
        index_.erase(rows_.back().rowid);
        rows_.pop_back();
    }
}

void RowCache::erase(std::int64_t rowid) {
    const auto hit = index_.find(rowid);
    if (hit == index_.end()) return;
    rows_.erase(hit->second);
    index_.erase(hit);
}

void RowCache::clear() {
    rows_.clear();
    index_.clear();
}

}  // namespace store
