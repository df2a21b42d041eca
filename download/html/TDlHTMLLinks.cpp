#include "download/html/TDlHTMLLinks.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace dl {

std::int32_t TDlHTMLLinks::indexOf(const TDlHTMLLink* link) const {
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (links_[i].get() == link) return static_cast<std::int32_t>(i);
    }
    return -1;
}

TDlHTMLLink& TDlHTMLLinks::add() {
    links_.push_back(std::make_unique<TDlHTMLLink>(this));
    noteChange();
    return *links_.back();
}

void TDlHTMLLinks::remove(std::int32_t i) {
    if (i < 0 || i >= count()) throw std::out_of_range("no link at index " + std::to_string(i));
    links_.erase(links_.begin() + i);
    noteChange();
}

void TDlHTMLLinks::clear() {
    links_.clear();
    noteChange();
}

void TDlHTMLLinks::removeUnplaced() {
    std::erase_if(links_, [](const std::unique_ptr<TDlHTMLLink>& link) { return link->SourcePos() < 1; });
    noteChange();
}

void TDlHTMLLinks::sortBySourcePos() {
    const auto bySourcePos = [](const std::unique_ptr<TDlHTMLLink>& a, const std::unique_ptr<TDlHTMLLink>& b) {
        return a->SourcePos() < b->SourcePos();
    };
    if (std::is_sorted(links_.begin(), links_.end(), bySourcePos)) return;
    std::stable_sort(links_.begin(), links_.end(), bySourcePos);
    noteChange();
}

}  // namespace dl
