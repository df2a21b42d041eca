#pragma once
// The fields of the rows read last, by row id, so that repainting the rows on
// screen does not read them again; the row used longest ago goes first.
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>

namespace store {

// One row's fields; values are UTF-8, a NULL column is no value.
struct SongRow {
    std::int64_t rowid = 0;
    std::optional<std::string> title;
    std::optional<std::string> url2;
    std::optional<std::string> keys;
};

class RowCache {
public:
    explicit RowCache(std::size_t capacity) : capacity_(capacity) {}

    std::optional<SongRow> find(std::int64_t rowid);
    void put(const SongRow& row);
    void erase(std::int64_t rowid);
    void clear();
    std::size_t size() const { return rows_.size(); }

private:
    std::size_t capacity_;
    std::list<SongRow> rows_;  // most recently used first
    std::unordered_map<std::int64_t, std::list<SongRow>::iterator> index_;
};

}  // namespace store
