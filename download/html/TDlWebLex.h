#pragma once
// The byte reader under the HTML tokenizer: reads a page text one byte at a
// time, can step back by one byte, and knows the blanks and quotes of HTML.
#include <cstddef>
#include <string_view>

#include "download/html/ByteSet.h"

namespace dl {

class TDlWebLex {
public:
    static constexpr ByteSet kBlanks{"\t\n\r "};
    static constexpr ByteSet kQuotes{"\"'"};

    // The text must outlive the reader; runs are views into it.
    explicit TDlWebLex(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    // Bytes read so far: the 0-based offset of the next byte.
    std::size_t position() const { return pos_; }
    std::string_view text() const { return text_; }

    // False at the end of the text.
    bool readByte(char& c) {
        if (atEnd()) return false;
        c = text_[pos_++];
        return true;
    }
    // The next byte without reading it; only when not at the end.
    char peekByte() const { return text_[pos_]; }
    void stepBack() {
        if (pos_ > 0) --pos_;
    }

    // Reads blanks and stops before the first other byte.
    void SkipBlanks();
    // Reads bytes up to (not including) the first one in `stop` or in the
    // blanks, or up to the end.
    std::string_view ReadRun(const ByteSet& stop);
    // A quoted value (up to the same quote, CR, LF or the end; the closing byte
    // is read but not part of the value) or else a run up to `stop`.
    std::string_view ReadValue(const ByteSet& stop);

protected:
    // Continues reading at a 0-based offset (at most the text's length).
    void moveTo(std::size_t offset) { pos_ = offset < text_.size() ? offset : text_.size(); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace dl
