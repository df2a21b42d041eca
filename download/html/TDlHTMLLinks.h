#pragma once
// The links of a page, in order. A link keeps its address for as long as the
// collection holds it, whatever is added, removed or sorted: links live in
// blocks (a page may have hundreds of thousands), the order is a list of
// pointers. A removed link's memory stays with the collection until clear.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "download/html/TDlHTMLLink.h"

namespace dl {

class TDlHTMLObject;

class TDlHTMLLinks {
    using Storage = std::vector<TDlHTMLLink*>;

public:
    // Walks the links themselves rather than pointers to them.
    template <class Link, class Base>
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TDlHTMLLink;
        using difference_type = std::ptrdiff_t;
        using pointer = Link*;
        using reference = Link&;

        Iterator() = default;
        explicit Iterator(Base it) : it_(it) {}
        Link& operator*() const { return **it_; }
        Link* operator->() const { return *it_; }
        Iterator& operator++() {
            ++it_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator old = *this;
            ++it_;
            return old;
        }
        bool operator==(const Iterator& other) const = default;

    private:
        Base it_{};
    };
    using iterator = Iterator<TDlHTMLLink, Storage::iterator>;
    using const_iterator = Iterator<const TDlHTMLLink, Storage::const_iterator>;

    explicit TDlHTMLLinks(TDlHTMLObject* owner = nullptr) : owner_(owner) {}
    TDlHTMLLinks(const TDlHTMLLinks&) = delete;
    TDlHTMLLinks& operator=(const TDlHTMLLinks&) = delete;

    // The page object the links belong to.
    TDlHTMLObject* owner() const { return owner_; }

    std::int32_t count() const { return static_cast<std::int32_t>(links_.size()); }
    bool empty() const { return links_.empty(); }
    TDlHTMLLink& operator[](std::int32_t i) { return *links_.at(static_cast<std::size_t>(i)); }
    const TDlHTMLLink& operator[](std::int32_t i) const { return *links_.at(static_cast<std::size_t>(i)); }
    // The index of this very link, or -1.
    std::int32_t indexOf(const TDlHTMLLink* link) const;

    iterator begin() { return iterator(links_.begin()); }
    iterator end() { return iterator(links_.end()); }
    const_iterator begin() const { return const_iterator(links_.begin()); }
    const_iterator end() const { return const_iterator(links_.end()); }

    // A new link at the end.
    TDlHTMLLink& add();
    void remove(std::int32_t i);
    void clear();
    // Removes every link without a place in the page (SourcePos below 1).
    void removeUnplaced();
    // Stable: links of equal position keep their order.
    void sortBySourcePos();

    // Counts changes of the order and of the links' URLs, so that whatever is
    // worked out from them can tell when it is out of date.
    std::uint64_t changeCount() const { return changes_; }
    void noteChange() { ++changes_; }

private:
    // Blocks grow from a few links for a small page to 256.
    static constexpr std::size_t kFirstBlockSize = 8;
    static constexpr std::size_t kLargestBlockSize = 256;

    TDlHTMLObject* owner_;
    std::vector<std::unique_ptr<TDlHTMLLink[]>> blocks_;
    std::size_t lastBlockSize_ = 0;
    std::size_t usedInLastBlock_ = 0;
    Storage links_;
    std::uint64_t changes_ = 0;
};

}  // namespace dl
