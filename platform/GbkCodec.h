#pragma once
// Conversion between the service's GBK bytes and UTF-8. Characters one side
// cannot hold become "?", so conversion never fails and never loses length
// information silently beyond that substitution.
#include <string>
#include <string_view>

namespace platform {

std::string gbkToUtf8(std::string_view gbk);
std::string utf8ToGbk(std::string_view utf8);

// True for a byte that starts a double-byte GBK character.
inline bool isGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace platform
