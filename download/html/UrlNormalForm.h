#pragma once
// The normalized form of an absolute URL, by which a page's links are found:
// decoded, and for HTTP and FTP cut down to scheme, host, path and query.
#include <stdexcept>
#include <string>
#include <string_view>

namespace dl {

// A "%" that is not followed by two hexadecimal digits (and is neither "%%"
// nor the last byte).
class UrlDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "+" becomes a blank, "%%" one "%", "%" and two hexadecimal digits the byte
// they give, a "%" as the last byte a blank. Throws UrlDecodeError.
std::string decodeUrl(std::string_view url);

// The decoded URL; for the schemes HTTP and FTP (any case) only scheme "://"
// host, ":" port when it is not the scheme's own, path and the extra part up
// to its first "#" that no "&" follows. A URL
// that does not split stays decoded. Throws UrlDecodeError.
std::string normalizeUrl(std::string_view absoluteUrl);

}  // namespace dl
