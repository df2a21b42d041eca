#include "download/html/TDlWebLex.h"

namespace dl {

void TDlWebLex::SkipBlanks() {
    while (pos_ < text_.size() && kBlanks.contains(text_[pos_])) ++pos_;
}

std::string_view TDlWebLex::ReadRun(const ByteSet& stop) {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !stop.contains(text_[pos_]) && !kBlanks.contains(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
}

std::string_view TDlWebLex::ReadValue(const ByteSet& stop) {
    if (atEnd()) return {};
    const char first = text_[pos_];
    if (!kQuotes.contains(first)) return ReadRun(stop);
    ++pos_;
    const std::size_t start = pos_;
    while (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c == first || c == '\r' || c == '\n') {
            ++pos_;  // the closing byte is read, not kept
            return text_.substr(start, pos_ - 1 - start);
        }
        ++pos_;
    }
    return text_.substr(start);
}

}  // namespace dl
