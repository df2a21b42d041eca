#include "store/view/GridFinishedSongs.h"

namespace store {

const FinishedMark* GridFinishedSongs::find(const std::string& url) const {
    if (marks_.empty()) return nullptr;
    const auto it = marks_.find(url);
    return it == marks_.end() ? nullptr : &it->second;
}

void GridFinishedSongs::apply(std::vector<FinishedChange> changes) {
    if (changes.empty()) return;
    for (auto& [url, mark] : changes) {
        if (mark) {
            marks_.insert_or_assign(std::move(url), std::move(*mark));
        } else {
            marks_.erase(url);
        }
    }
    emit changed();
}

}  // namespace store
