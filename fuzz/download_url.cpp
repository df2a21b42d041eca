// The download transfer's reading of a stored address: the browser-style
// clean-up (trim, GBK, percent-encoding), the split into pieces, and the
// local-address test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/engine/TDlInternetOptions.h"
#include "download/inet/InetRequestUrl.h"
#include "download/inet/InetUrl.h"
#include "download/values/AddressText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string url = inet::browserUrl(text);
    for (char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) std::abort();  // nothing unsafe reaches the request
    }
    if (inet::browserUrl(url) != url) std::abort();  // a clean address stays as it is
    if (const auto parts = inet::crackUrl(url)) {
        if (parts->port < 0 || parts->port > 65535) std::abort();
        if (!parts->extraInfo.empty() && parts->extraInfo[0] != '?' && parts->extraInfo[0] != '#') std::abort();
    }
    std::string scheme, host;
    dl::SplitSchemeAndHost(text, scheme, host);
    if (host.find('/') != std::string::npos || host.find(':') != std::string::npos) std::abort();
    dl::TDlInternetOptions::IsLocalURL(text);
    return 0;
}
