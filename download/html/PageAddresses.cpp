#include "download/html/PageAddresses.h"

#include "download/inet/InetUrl.h"

namespace dl {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Escapes of unreserved bytes decoded, every other escape in upper case;
// anything else as written.
std::string normalEscapes(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low < 0) {
            out += text[i];
            continue;
        }
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        if (isUnreserved(byte)) {
            out += static_cast<char>(byte);
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
        i += 2;
    }
    return out;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::optional<std::string> FetchKey(std::string_view absoluteUrl) {
    // The splitter reads a C string: an inner NUL would cut the address short.
    if (absoluteUrl.find('\0') != std::string_view::npos) return std::nullopt;
    const auto parts = inet::crackUrl(std::string(absoluteUrl));
    if (!parts || parts->host.empty()) return std::nullopt;
    const std::string scheme = lowerAscii(parts->scheme);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string key = scheme + "://" + lowerAscii(parts->host);
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
