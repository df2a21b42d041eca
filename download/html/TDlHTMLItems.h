#pragma once
// The form inputs of a page, in order.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "download/html/TDlHTMLItem.h"

namespace dl {

class TDlHTMLItems {
public:
    std::int32_t count() const { return static_cast<std::int32_t>(items_.size()); }
    bool empty() const { return items_.empty(); }
    const TDlHTMLItem& operator[](std::int32_t i) const { return items_.at(static_cast<std::size_t>(i)); }
    TDlHTMLItem& operator[](std::int32_t i) { return items_.at(static_cast<std::size_t>(i)); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // A new item at the end; the reference holds until the next add.
    TDlHTMLItem& add() { return items_.emplace_back(); }
    void clear() { items_.clear(); }

private:
    std::vector<TDlHTMLItem> items_;
};

}  // namespace dl
