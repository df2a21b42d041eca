#include "download/html/UrlNormalForm.h"

#include "download/values/AsciiCase.h"
#include "download/inet/InetUrl.h"

namespace dl {

namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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
            const int high = hexDigitValue(url[i + 1]);
            const int low = i + 2 < url.size() ? hexDigitValue(url[i + 2]) : -1;
            if (high < 0 || low < 0) {
                throw UrlDecodeError("invalid escape \"" + std::string(url.substr(i, 3)) + "\" at byte " +
                                     std::to_string(i + 1) + " of the URL \"" + std::string(url) + "\"");
            }
            decoded += static_cast<char>(high * 16 + low);
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
    if (!equalsIgnoringAsciiCase(parts->scheme, "http") && !equalsIgnoringAsciiCase(parts->scheme, "ftp"))
        return decoded;
    std::string normal = parts->scheme;
    normal += "://";
    normal += parts->host;
    // A page served from another port than the scheme's own must still find
    // its own links: without the port no absolute link of it would match.
    const int defaultPort = equalsIgnoringAsciiCase(parts->scheme, "http") ? 80 : 21;
    if (parts->port != defaultPort) normal += ":" + std::to_string(parts->port);
    normal += parts->urlPath;
    normal += withoutFragment(parts->extraInfo);
    return normal;
}

}  // namespace dl
