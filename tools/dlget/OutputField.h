#pragma once
// dlget prints one line per result: tabs and line breaks inside a field
// become blanks.
#include <string>

namespace dlget {

inline std::string field(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

}  // namespace dlget
