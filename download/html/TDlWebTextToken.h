#pragma once
// A run of text: a word, or " " for a run of blanks. The text is a view into
// the page text (or a literal), valid as long as the page text.
#include <string_view>

#include "download/html/TDlWebToken.h"

namespace dl {

class TDlWebTextToken : public TDlWebToken {
public:
    TDlWebTextToken() : TDlWebToken(Kind::Text) {}

    std::string_view Text() const { return text_; }
    void setText(std::string_view text) { text_ = text; }

protected:
    explicit TDlWebTextToken(Kind kind) : TDlWebToken(kind) {}

private:
    std::string_view text_;
};

}  // namespace dl
