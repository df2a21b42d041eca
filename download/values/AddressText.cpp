#include "download/values/AddressText.h"

#include "platform/GbkCodec.h"

namespace dl {

void SplitSchemeAndHost(const std::string& url, std::string& scheme, std::string& host) {
    std::string text = url;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (platform::isGbkLeadByte(static_cast<unsigned char>(text[i]))) {
            ++i;
        } else if (text[i] == '\\') {
            text[i] = '/';
        }
    }
    scheme.clear();
    host.clear();
    const std::size_t marker = text.find("://");
    if (marker == std::string::npos) return;
    scheme = text.substr(0, marker);
    const std::size_t start = marker + 3;
    const std::size_t slash = text.find('/', start);
    host = text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (const std::size_t at = host.find('@'); at != std::string::npos) host.erase(0, at + 1);
    if (const std::size_t colon = host.find(':'); colon != std::string::npos) host.erase(colon);
}

}  // namespace dl
