// The HTML tokenizer, token by token, on the texts where its rules differ
// from the obvious: quotes, blanks, comments and whatever ends at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/html/TDlWebHTMLLex.h"

namespace {

// One line per token: `text`, <name attr=value@pos ...> for a tag (every
// assignment, in order), and EOF.
std::vector<std::string> tokenize(const std::string& page) {
    dl::TDlWebHTMLLex lex(page);
    std::vector<std::string> tokens;
    for (int guard = 0; guard <= static_cast<int>(page.size()) + 1; ++guard) {
        const dl::TDlWebToken& token = lex.nextToken();
        if (token.kind() == dl::TDlWebToken::Kind::EndOfText) {
            tokens.push_back("EOF");
            return tokens;
        }
        if (token.kind() == dl::TDlWebToken::Kind::Text) {
            tokens.push_back("`" + std::string(static_cast<const dl::TDlWebTextToken&>(token).Text()) + "`");
            continue;
        }
        const auto& tag = static_cast<const dl::TDlWebTagToken&>(token);
        std::string line = "<" + std::string(tag.Text());
        for (const auto& a : tag.assignments())
            line += " " + std::string(a.name) + "=" + std::string(a.value) + "@" + std::to_string(a.valuePos);
        tokens.push_back(line + ">");
    }
    tokens.push_back("no end");
    return tokens;
}

using Tokens = std::vector<std::string>;

struct TokenCase {
    std::string page;
    Tokens tokens;
};

void expectTokens(const std::vector<TokenCase>& cases) {
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.page);
        EXPECT_EQ(tokenize(c.page), c.tokens);
    }
}

TEST(Tokenizer, TextRunsAndBlanks) {
    expectTokens({
        {"", {"EOF"}},
        {"ab  c\t\r\n d", {"`ab`", "` `", "`c`", "` `", "`d`", "EOF"}},
        {"  x", {"` `", "`x`", "EOF"}},
        {"a>b=\"c'<p>d", {"`a>b=\"c'`", "<p>", "`d`", "EOF"}},
        {"\xB8\xE8<b>", {"`\xB8\xE8`", "<b>", "EOF"}},
    });
}

TEST(Tokenizer, TagsAttributesAndValuePositions) {
    expectTokens({
        // Quoted: the opening quote's position. Unquoted: the byte before.
        {"<a href=\"x.htm\">", {"<a href=x.htm@9>", "EOF"}},
        {"<a href='x.htm'>", {"<a href=x.htm@9>", "EOF"}},
        {"<a href=x.htm>", {"<a href=x.htm@8>", "EOF"}},
        {"<a href = \t x.htm >", {"<a href=x.htm@12>", "EOF"}},
        {"<img src=\"it's\" alt='say \"hi\"'>", {"<img src=it's@10 alt=say \"hi\"@21>", "EOF"}},
        {"<a href=a\"b>", {"<a href=a\"b@8>", "EOF"}},
        {"<a href=\"x\"title=y>", {"<a href=x@9 title=y@17>", "EOF"}},
        {"</a >", {"</a>", "EOF"}},
        {"<A HREF=x>", {"<A HREF=x@8>", "EOF"}},
        // Without "=" nothing is recorded; empty values are recorded.
        {"<a nowrap href=x>", {"<a href=x@15>", "EOF"}},
        {"<a href=\"\" b='' c=>", {"<a href=@9 b=@14 c=@18>", "EOF"}},
        {"<a href=x href=y>", {"<a href=x@8 href=y@15>", "EOF"}},
        {"<a \"q=r\"=v>", {"<a q=r=v@9>", "EOF"}},
        {"<a =v>", {"<a =v@4>", "EOF"}},
        // A quote without its partner ends at the line end, which it eats.
        {"<a href=\"x\ny>z", {"<a href=x@9>", "`z`", "EOF"}},
        {"<a href='x\r>z", {"<a href=x@9>", "`z`", "EOF"}},
        // "<" followed by no name: the next byte is eaten with it.
        {"<>a", {"<>", "EOF"}},
        {"<> <a href=x>y", {"< href=x@11>", "`y`", "EOF"}},
    });
}

TEST(Tokenizer, WhatEndsAtTheEndOfTheText) {
    expectTokens({
        {"a<", {"`a`", "EOF"}},
        {"<a", {"EOF"}},
        {"<a ", {"<a>", "EOF"}},
        {"<a href=x.htm", {"<a href=x.htm@8>", "EOF"}},
        {"<a href=\"x.htm", {"<a href=x.htm@9>", "EOF"}},
        {"<a href=", {"<a>", "EOF"}},
        {"<a href", {"<a>", "EOF"}},
        {"<!-- <a href=x>", {"<!-->", "EOF"}},
        {"<!--", {"EOF"}},
    });
}

TEST(Tokenizer, Comments) {
    expectTokens({
        {"<!-- <a href=x> -->y", {"<!-->", "`y`", "EOF"}},
        {"<!---->y", {"<!-->", "`y`", "EOF"}},
        {"<!-->y", {"<!-->", "`y`", "EOF"}},
        {"<!--->y", {"<!-->", "`y`", "EOF"}},
        {"<!--x->y-->z", {"<!-->", "`z`", "EOF"}},
        // The name already holds "--" and ">" follows: the comment ends there.
        {"<!--a--b>c-->d", {"<!-->", "`c-->d`", "EOF"}},
        // "--" in the name but a blank follows: on to the next "-->".
        {"<!--a-- b>c-->d", {"<!-->", "`d`", "EOF"}},
        {"<!--a\"b-->c", {"<!-->", "`c`", "EOF"}},
        {"<!DOCTYPE html>", {"<!DOCTYPE>", "EOF"}},
    });
}

TEST(Tokenizer, TokensKnowTheirBytes) {
    const std::string page = "ab <p x=1>  <!-- c -->";
    dl::TDlWebHTMLLex lex(page);
    std::vector<std::string> pieces;
    for (;;) {
        const dl::TDlWebToken& token = lex.nextToken();
        pieces.push_back(page.substr(token.offset(), token.endOffset() - token.offset()));
        if (token.kind() == dl::TDlWebToken::Kind::EndOfText) break;
    }
    EXPECT_EQ(pieces, (Tokens{"ab", " ", "<p x=1>", "  ", "<!-- c -->", ""}));
}

TEST(Tokenizer, LookupKeepsTheLastValueAndEmptyRemoves) {
    const std::string page = "<img SRC=a.gif src=\"b.gif\" alt=x ALT=''>";
    dl::TDlWebHTMLLex lex(page);
    const auto& tag = static_cast<const dl::TDlWebTagToken&>(lex.nextToken());
    ASSERT_EQ(tag.kind(), dl::TDlWebToken::Kind::Tag);
    const auto* src = tag.attribute("Src");
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->value, "b.gif");
    EXPECT_EQ(src->valuePos, 20u);
    EXPECT_EQ(tag.attribute("alt"), nullptr);
    EXPECT_EQ(tag.attribute("width"), nullptr);
}

}  // namespace
