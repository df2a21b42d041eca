#include "app/SelectedRows.h"

#include <algorithm>

#include <QItemSelectionModel>

namespace app {

SelectedRows::SelectedRows(std::vector<std::pair<int, int>> ranges) {
    ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                                [](const std::pair<int, int>& r) { return r.first < 0 || r.second < r.first; }),
                 ranges.end());
    std::sort(ranges.begin(), ranges.end());
    for (const auto& range : ranges) {
        // Touching or overlapping ranges become one: no row is counted twice.
        if (!ranges_.empty() && range.first <= ranges_.back().second + 1) {
            ranges_.back().second = std::max(ranges_.back().second, range.second);
            continue;
        }
        ranges_.push_back(range);
    }
    std::size_t total = 0;
    ends_.reserve(ranges_.size());
    for (const auto& range : ranges_) {
        total += static_cast<std::size_t>(range.second - range.first) + 1;
        ends_.push_back(total);
    }
}

SelectedRows SelectedRows::of(const QItemSelectionModel& selection) {
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : selection.selection()) ranges.emplace_back(range.top(), range.bottom());
    return SelectedRows(std::move(ranges));
}

int SelectedRows::at(std::size_t index) const {
    const auto end = std::upper_bound(ends_.begin(), ends_.end(), index);
    const std::size_t which = static_cast<std::size_t>(end - ends_.begin());
    const std::size_t before = which == 0 ? 0 : ends_[which - 1];
    return ranges_[which].first + static_cast<int>(index - before);
}

}  // namespace app
