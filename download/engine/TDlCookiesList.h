#pragma once
// Cookies of one request or response, as "name=value" entries in order.
#include <cstddef>
#include <string>
#include <vector>

namespace dl {

class TDlCookiesList {
public:
    std::size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    const std::string& operator[](std::size_t index) const { return entries_[index]; }
    void Add(std::string entry) { entries_.push_back(std::move(entry)); }
    void Delete(std::size_t index) { entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index)); }
    void Clear() { entries_.clear(); }
    const std::vector<std::string>& Entries() const { return entries_; }

    // The text before the first "=", or empty for an entry without one.
    std::string Name(std::size_t index) const;
    // The text after the first "=", or empty.
    std::string Value(std::size_t index) const;

    bool operator==(const TDlCookiesList&) const = default;

private:
    std::vector<std::string> entries_;
};

}  // namespace dl
