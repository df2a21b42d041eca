#pragma once
// The keyword's place in a result page's address.
#include <string>
#include <string_view>

namespace search {

// The GBK keyword as it goes into the request line: each blank becomes
// "%20", because a raw blank would end the request target and make the
// request line invalid. Every other byte stays raw, so a "#" still ends the
// address's query there. GBK trail bytes are never 0x20, so no character is
// split.
std::string keywordForUrl(std::string_view gbkKeyword);

}  // namespace search
