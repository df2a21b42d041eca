#include "store/view/GridFinishedSongs.h"

namespace store {

const FinishedMark* GridFinishedSongs::find(const std::string& url) const {
    if (marks_.empty()) return nullptr;
    const auto it = marks_.find(url);
    return it == marks_.end() ? nullptr : &it->second;
}

void GridFinishedSongs::replaceAll(FinishedMarks marks) {
    marks_.swap(marks);
    emit changed();
}

}  // namespace store
