#pragma once
// The HTML tokenizer: cuts a page text into blanks, text runs, tags with
// their attributes, comments and the end. It never fails: an unterminated
// tag, comment or quote ends at the end of the text.
#include <string_view>

#include "download/html/TDlWebEofToken.h"
#include "download/html/TDlWebLex.h"
#include "download/html/TDlWebTagToken.h"
#include "download/html/TDlWebTextToken.h"

namespace dl {

class TDlWebHTMLLex : public TDlWebLex {
public:
    using TDlWebLex::TDlWebLex;

    // The next token. It belongs to the tokenizer and stays valid until the
    // next call: one page yields millions of tokens, so none is allocated.
    // At the end of the text it is the end token, again and again.
    const TDlWebToken& nextToken();

private:
    const TDlWebToken& readTag(std::size_t start);
    void readAttributes();
    void skipComment(std::size_t start, std::string_view name);
    const TDlWebToken& endToken(std::size_t start);

    TDlWebTextToken textToken_;
    TDlWebTagToken tagToken_;
    TDlWebEofToken eofToken_;
};

}  // namespace dl
