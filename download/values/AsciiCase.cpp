#include "download/values/AsciiCase.h"

namespace dl {

bool ContainsText(std::string_view text, std::string_view part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        if (SameText(text.substr(at, part.size()), part)) return true;
    }
    return false;
}

std::string AsciiLowerCase(std::string text) {
    for (char& c : text) c = AsciiLower(c);
    return text;
}

}  // namespace dl
