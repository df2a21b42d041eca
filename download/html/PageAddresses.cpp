#include "download/html/PageAddresses.h"

#include "download/inet/InetUrl.h"
#include "download/values/AsciiCase.h"
#include "download/values/PercentCoding.h"

namespace dl {

namespace {

// Escapes of unreserved bytes decoded, every other escape in upper case;
// anything else as written.
std::string normalEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = EscapedByteAt(text, i);
        if (!byte) {
            out += text[i];
            continue;
        }
        if (IsUnreservedByte(*byte))
            out += static_cast<char>(*byte);
        else
            AppendPercentEscape(out, *byte);
        i += 2;
    }
    return out;
}

}  // namespace

std::optional<std::string> FetchKey(std::string_view absoluteUrl) {
    // The splitter reads a C string: an inner NUL would cut the address short.
    if (absoluteUrl.find('\0') != std::string_view::npos) return std::nullopt;
    const auto parts = inet::crackUrl(std::string(absoluteUrl));
    if (!parts || parts->host.empty()) return std::nullopt;
    const std::string scheme = AsciiLowerCase(parts->scheme);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string key = scheme + "://" + AsciiLowerCase(parts->host);
    if (parts->port != 0) key += ":" + std::to_string(parts->port);
    key += parts->urlPath.empty() ? std::string("/") : normalEscapes(parts->urlPath);
    const std::string_view extra = parts->extraInfo;
    key += normalEscapes(extra.substr(0, extra.find('#')));
    return key;
}

bool FetchedAddresses::Claim(std::string_view absoluteUrl) {
    const auto key = FetchKey(absoluteUrl);
    return key && keys_.insert(*key).second;
}

void FetchedAddresses::Add(std::string_view absoluteUrl) {
    if (auto key = FetchKey(absoluteUrl)) keys_.insert(std::move(*key));
}

bool FetchedAddresses::Contains(std::string_view absoluteUrl) const {
    const auto key = FetchKey(absoluteUrl);
    return key && keys_.count(*key) > 0;
}

}  // namespace dl
