#include "download/html/UrlNormalForm.h"

#include "download/inet/InetUrl.h"
#include "download/values/AsciiCase.h"
#include "download/values/PercentCoding.h"

namespace dl {

namespace {

// The extra part ("?query#fragment") without the fragment, where the
// fragment starts at the first "#" after the last "&".
std::string_view withoutFragment(std::string_view extra) {
    const std::size_t lastAmpersand = extra.rfind('&');
    const std::size_t hash = extra.find('#', lastAmpersand == std::string_view::npos ? 0 : lastAmpersand + 1);
    return extra.substr(0, hash);
}

}  // namespace

std::string decodeUrl(std::string_view url) {
    std::string decoded;
    decoded.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c != '%') {
            decoded += c;
        } else if (i + 1 == url.size()) {
            decoded += ' ';
        } else if (url[i + 1] == '%') {
            decoded += '%';
            ++i;
        } else {
            const auto byte = EscapedByteAt(url, i);
            if (!byte) {
                throw UrlDecodeError("invalid escape \"" + std::string(url.substr(i, 3)) + "\" at byte " +
                                     std::to_string(i + 1) + " of the URL \"" + std::string(url) + "\"");
            }
            decoded += static_cast<char>(*byte);
            i += 2;
        }
    }
    return decoded;
}

std::string normalizeUrl(std::string_view absoluteUrl) {
    std::string decoded = decodeUrl(absoluteUrl);
    // The splitter reads a C string: a decoded NUL would cut the URL short.
    if (decoded.find('\0') != std::string::npos) return decoded;
    const auto parts = inet::crackUrl(decoded);
    if (!parts) return decoded;
    if (!SameText(parts->scheme, "http") && !SameText(parts->scheme, "ftp"))
        return decoded;
    std::string normal = parts->scheme;
    normal += "://";
    normal += parts->host;
    // A page served from another port than the scheme's own must still find
    // its own links: without the port no absolute link of it would match.
    const int defaultPort = SameText(parts->scheme, "http") ? 80 : 21;
    if (parts->port != defaultPort) normal += ":" + std::to_string(parts->port);
    normal += parts->urlPath;
    normal += withoutFragment(parts->extraInfo);
    return normal;
}

}  // namespace dl
