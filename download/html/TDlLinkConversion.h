#pragma once
// How a regenerated page writes its links.
#include <cstdint>

namespace dl {

enum TDlLinkConversion : std::uint8_t {
    lcNone,     // as written in the page
    lcOnline,   // absolute URLs
    lcOffline,  // local copies where there are some, absolute URLs elsewhere
};

}  // namespace dl
