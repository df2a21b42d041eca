#pragma once
// The fetching stage lower-cases every page byte by byte before it is cut,
// so the cutter's markers can be matched case-sensitively.
#include <string>

namespace search {

// Raises every byte 0x41..0x5A ('A'..'Z') by 32, wherever it stands: also
// where it is the second byte of a double-byte GBK character. Every other
// byte stays as it is.
void lowerCasePage(std::string& page);

}  // namespace search
