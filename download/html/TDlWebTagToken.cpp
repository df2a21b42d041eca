#include "download/html/TDlWebTagToken.h"

#include "download/values/AsciiCase.h"

namespace dl {

// Assignments are kept in order and looked up from the last one: linear in
// the tag's length however many attributes it repeats.
const TDlWebTagToken::Attribute* TDlWebTagToken::attribute(std::string_view name) const {
    for (auto it = assignments_.rbegin(); it != assignments_.rend(); ++it) {
        if (SameText(it->name, name)) return it->value.empty() ? nullptr : &*it;
    }
    return nullptr;
}

void TDlWebTagToken::assign(std::string_view name, std::string_view value, std::size_t valuePos) {
    assignments_.push_back(Attribute{name, value, valuePos});
}

}  // namespace dl
