#pragma once
// The rows a selection holds, top to bottom, kept as the selection's ranges
// merged: a million selected rows cost a few bytes, and the n-th of them is
// found without listing the others (Ctrl+A over the whole grid, then 加入下载列表).
#include <cstddef>
#include <utility>
#include <vector>

class QItemSelectionModel;

namespace app {

class SelectedRows {
public:
    SelectedRows() = default;
    // Ranges of rows, first and last (inclusive), in any order, overlapping or not.
    explicit SelectedRows(std::vector<std::pair<int, int>> ranges);
    static SelectedRows of(const QItemSelectionModel& selection);

    std::size_t size() const { return ends_.empty() ? 0 : ends_.back(); }
    bool empty() const { return size() == 0; }
    // The `index`-th row from the top; `index` < size().
    int at(std::size_t index) const;

private:
    std::vector<std::pair<int, int>> ranges_;  // sorted, apart
    std::vector<std::size_t> ends_;            // rows up to and with each range
};

}  // namespace app
