#include "download/html/LinkText.h"

namespace dl {

std::string stripLinkText(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (c != '"' && c != '\'' && c != '\x01' && c != '\x04') kept += c;
    }
    return kept;
}

}  // namespace dl
