#pragma once
// URL splitting and combination for the download road, on libcurl's URL
// parser. Pieces come back as written in the URL (the scheme in lower case):
// nothing is decoded.
#include <optional>
#include <string>

namespace inet {

struct UrlComponents {
    std::string scheme;
    std::string host;
    std::string userName;
    std::string password;
    std::string urlPath;    // from the first "/" after the host; empty when none
    std::string extraInfo;  // "?query" and "#fragment" as written, or empty
    int port = 0;           // the scheme's default when the URL names none; 0 if unknown
};

// Splits an absolute URL. Unknown schemes are split too. Returns nothing when
// the text is not an absolute URL.
std::optional<UrlComponents> crackUrl(const std::string& url);

// Resolves `relative` against `base` as a browser does (dot segments removed).
// An absolute `relative` stands on its own. Returns nothing when neither
// yields a URL.
std::optional<std::string> combineUrl(const std::string& base, const std::string& relative);

}  // namespace inet
