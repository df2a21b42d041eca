#pragma once
// One form input of a page.
#include <cstdint>
#include <string>

namespace dl {

struct TDlHTMLItem {
    std::string Name;
    std::int32_t iType = 0;  // never set: kept for the item's shape
    std::string Value;
};

}  // namespace dl
