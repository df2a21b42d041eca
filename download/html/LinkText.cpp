#include "download/html/LinkText.h"

#include <algorithm>

#include "download/html/ByteSet.h"

namespace dl {

std::string stripLinkText(std::string_view text) {
    static constexpr ByteSet kDropped(std::string_view("\"'\x01\x04", 4));
    std::string kept(text);
    kept.erase(std::remove_if(kept.begin(), kept.end(), [](char c) { return kDropped.contains(c); }), kept.end());
    return kept;
}

}  // namespace dl
