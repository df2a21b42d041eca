#include "download/html/TDlWebHTMLLex.h"

namespace dl {

namespace {

constexpr ByteSet kTextStop{"<"};
constexpr ByteSet kTagNameStop = ByteSet{">"} + TDlWebLex::kQuotes;
constexpr ByteSet kAttributeNameStop{"=>"};
constexpr ByteSet kAttributeValueStop{">"};
constexpr std::string_view kCommentName = "!--";

}  // namespace

const TDlWebToken& TDlWebHTMLLex::nextToken() {
    const std::size_t start = position();
    char c = 0;
    if (!readByte(c)) return endToken(start);
    if (kBlanks.contains(c)) {
        stepBack();
        SkipBlanks();
        textToken_.setText(" ");
        textToken_.setExtent(start, position());
        return textToken_;
    }
    if (c == '<') return readTag(start);
    stepBack();
    // Not empty: the byte just stepped back over is neither a blank nor "<".
    textToken_.setText(ReadRun(kTextStop));
    textToken_.setExtent(start, position());
    return textToken_;
}

const TDlWebToken& TDlWebHTMLLex::endToken(std::size_t start) {
    eofToken_.setExtent(start, position());
    return eofToken_;
}

const TDlWebToken& TDlWebHTMLLex::readTag(std::size_t start) {
    std::string_view name = ReadRun(kTagNameStop);
    if (name.empty()) {
        // The byte that stopped the run is read here and not given back.
        char next = 0;
        if (readByte(next) && next == '/') {
            const std::string_view rest = ReadRun(kTagNameStop);
            name = text().substr(start + 1, 1 + rest.size());
        }
    }
    if (atEnd()) return endToken(start);

    tagToken_.clearAttributes();
    if (name.starts_with(kCommentName)) {
        tagToken_.setText(kCommentName);
        skipComment(start, name);
    } else {
        tagToken_.setText(name);
        readAttributes();
    }
    tagToken_.setExtent(start, position());
    return tagToken_;
}

void TDlWebHTMLLex::readAttributes() {
    char c = 0;
    for (;;) {
        SkipBlanks();
        if (!readByte(c) || c == '>') return;
        stepBack();
        const std::string_view name = ReadValue(kAttributeNameStop);
        SkipBlanks();
        if (!readByte(c) || c == '>') return;
        if (c != '=') {
            // An attribute without a value is not recorded.
            stepBack();
            continue;
        }
        SkipBlanks();
        if (atEnd()) return;
        const std::size_t valuePos = kQuotes.contains(peekByte()) ? position() + 1 : position();
        const std::string_view value = ReadValue(kAttributeValueStop);
        tagToken_.assign(name, value, valuePos);
    }
}

// The comment runs from "<" to the first "-->" in the text read so far (the
// name included, so "<!-->" is a whole comment). One forward search from ">"
// to ">": comment text has more dashes than closing brackets.
void TDlWebHTMLLex::skipComment(std::size_t start, std::string_view name) {
    if (name.substr(kCommentName.size()).find("--") != std::string_view::npos && !atEnd() &&
        peekByte() == '>') {
        moveTo(position() + 1);
        return;
    }
    const std::string_view page = text();
    const std::size_t firstClose = start + 1 + kCommentName.size();  // the earliest ">" of a "-->"
    for (std::size_t close = page.find('>', firstClose); close != std::string_view::npos;
         close = page.find('>', close + 1)) {
        if (page[close - 1] == '-' && page[close - 2] == '-') {
            moveTo(close + 1);
            return;
        }
    }
    moveTo(page.size());
}

}  // namespace dl
