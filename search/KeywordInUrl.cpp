#include "search/KeywordInUrl.h"

namespace search {

std::string keywordForUrl(std::string_view gbkKeyword) {
    std::string out;
    out.reserve(gbkKeyword.size());
    for (char c : gbkKeyword) {
        if (c == ' ') {
            out += "%20";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace search
