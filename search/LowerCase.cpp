#include "search/LowerCase.h"

namespace search {

void lowerCasePage(std::string& page) {
    for (char& c : page) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x41 && byte <= 0x5A) c = static_cast<char>(byte + 32);
    }
}

}  // namespace search
