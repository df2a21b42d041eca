#pragma once
// What the HTML tokenizer hands out: the end of the text, a text run or a
// tag, with the bytes of the page it was read from.
#include <cstddef>

namespace dl {

class TDlWebToken {
public:
    enum class Kind : int { EndOfText = 0, Text = 2, Tag = 3 };

    virtual ~TDlWebToken() = default;
    TDlWebToken(const TDlWebToken&) = default;
    TDlWebToken& operator=(const TDlWebToken&) = default;

    Kind kind() const { return kind_; }
    // 0-based offsets of the token's first byte and of the byte after it.
    std::size_t offset() const { return offset_; }
    std::size_t endOffset() const { return endOffset_; }
    void setExtent(std::size_t offset, std::size_t endOffset) {
        offset_ = offset;
        endOffset_ = endOffset;
    }

protected:
    explicit TDlWebToken(Kind kind) : kind_(kind) {}

private:
    Kind kind_;
    std::size_t offset_ = 0;
    std::size_t endOffset_ = 0;
};

}  // namespace dl
