#pragma once
// Link and form texts drop every quote and the bytes 1 and 4, so that no
// value can break out of its place when the page is written again.
#include <string>
#include <string_view>

namespace dl {

std::string stripLinkText(std::string_view text);

}  // namespace dl
