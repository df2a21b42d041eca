#include "download/html/TDlHTMLLinks.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace dl {

std::int32_t TDlHTMLLinks::indexOf(const TDlHTMLLink* link) const {
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (links_[i] == link) return static_cast<std::int32_t>(i);
    }
    return -1;
}

TDlHTMLLink& TDlHTMLLinks::add() {
    if (usedInLastBlock_ == lastBlockSize_) {
        lastBlockSize_ = blocks_.empty() ? kFirstBlockSize : std::min(2 * lastBlockSize_, kLargestBlockSize);
        blocks_.push_back(std::make_unique<TDlHTMLLink[]>(lastBlockSize_));
        usedInLastBlock_ = 0;
    }
    TDlHTMLLink& link = blocks_.back()[usedInLastBlock_++];
    link.collection_ = this;
    links_.push_back(&link);
    noteChange();
    return link;
}

void TDlHTMLLinks::remove(std::int32_t i) {
    if (i < 0 || i >= count()) throw std::out_of_range("no link at index " + std::to_string(i));
    links_.erase(links_.begin() + i);
    noteChange();
}

void TDlHTMLLinks::clear() {
    links_.clear();
    blocks_.clear();
    lastBlockSize_ = 0;
    usedInLastBlock_ = 0;
    noteChange();
}

void TDlHTMLLinks::removeUnplaced() {
    std::erase_if(links_, [](const TDlHTMLLink* link) { return link->SourcePos() < 1; });
    noteChange();
}

// After a load the links are in page order but for an applet whose code base
// stands before its code, so an insertion sort is linear there; it hands
// over to a merge sort once it has moved as many links as there are.
void TDlHTMLLinks::sortBySourcePos() {
    const auto bySourcePos = [](const TDlHTMLLink* a, const TDlHTMLLink* b) {
        return a->SourcePos() < b->SourcePos();
    };
    if (std::is_sorted(links_.begin(), links_.end(), bySourcePos)) return;
    noteChange();
    std::size_t moves = 0;
    for (std::size_t i = 1; i < links_.size(); ++i) {
        for (std::size_t j = i; j > 0 && bySourcePos(links_[j], links_[j - 1]); --j) {
            std::swap(links_[j], links_[j - 1]);
            if (++moves > links_.size()) {
                std::stable_sort(links_.begin(), links_.end(), bySourcePos);
                return;
            }
        }
    }
}

}  // namespace dl
