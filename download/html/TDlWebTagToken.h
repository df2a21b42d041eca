#pragma once
// A tag: its name as the token's text ("/A" for a closing tag, "!--" for a
// comment) and its attributes, each with where its value stands in the page.
// Names and values are views into the page text.
#include <cstddef>
#include <string_view>
#include <vector>

#include "download/html/TDlWebTextToken.h"

namespace dl {

class TDlWebTagToken : public TDlWebTextToken {
public:
    struct Attribute {
        std::string_view name;
        std::string_view value;
        // 1-based position of the byte just before the value: the opening
        // quote of a quoted value, else the byte before its first character.
        std::size_t valuePos = 0;
    };

    TDlWebTagToken() : TDlWebTextToken(Kind::Tag) {}

    // Every "name=value" of the tag in page order, repeats and empty values
    // included.
    const std::vector<Attribute>& assignments() const { return assignments_; }

    // The attribute as the tag leaves it, by name ignoring ASCII case: a
    // repeated name keeps the last value, an empty value removes the
    // attribute. Nothing when absent.
    const Attribute* attribute(std::string_view name) const;

    void clearAttributes() { assignments_.clear(); }
    void assign(std::string_view name, std::string_view value, std::size_t valuePos);

private:
    std::vector<Attribute> assignments_;
};

}  // namespace dl
