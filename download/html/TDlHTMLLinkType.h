#pragma once
// What a page link points at.
#include <cstdint>
#include <string_view>

namespace dl {

enum TDlHTMLLinkType : std::uint8_t {
    LT_NONE,   // an applet's code base
    LT_HREF,   // A HREF
    LT_IMAGE,  // IMG SRC
    LT_BODY,   // BODY BACKGROUND
    LT_FRAME,  // FRAME SRC
    LT_CLASS,  // APPLET CODE under its CODEBASE
};

constexpr std::string_view linkTypeName(TDlHTMLLinkType type) {
    switch (type) {
        case LT_NONE: return "LT_NONE";
        case LT_HREF: return "LT_HREF";
        case LT_IMAGE: return "LT_IMAGE";
        case LT_BODY: return "LT_BODY";
        case LT_FRAME: return "LT_FRAME";
        case LT_CLASS: return "LT_CLASS";
    }
    return "?";
}

}  // namespace dl
