#include "download/inet/InetUrl.h"

#include <memory>

#include <curl/curl.h>

namespace inet {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};

// Pages and song addresses carry blanks and schemes curl does not fetch;
// dot segments stay as written when splitting.
constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;

std::optional<std::string> getPart(CURLU* handle, CURLUPart part, unsigned flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(handle, part, &raw, flags) != CURLUE_OK || raw == nullptr) return std::nullopt;
    std::unique_ptr<char, CurlStringDeleter> owned(raw);
    return std::string(owned.get());
}

std::string partOrEmpty(CURLU* handle, CURLUPart part) { return getPart(handle, part).value_or(""); }

}  // namespace

std::optional<UrlComponents> crackUrl(const std::string& url) {
    UrlHandle handle(curl_url());
    if (!handle) return std::nullopt;
    if (curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), kParseFlags | CURLU_PATH_AS_IS) !=
        CURLUE_OK) {
        return std::nullopt;
    }
    UrlComponents parts;
    parts.scheme = partOrEmpty(handle.get(), CURLUPART_SCHEME);
    parts.host = partOrEmpty(handle.get(), CURLUPART_HOST);
    parts.userName = partOrEmpty(handle.get(), CURLUPART_USER);
    parts.password = partOrEmpty(handle.get(), CURLUPART_PASSWORD);
    parts.urlPath = partOrEmpty(handle.get(), CURLUPART_PATH);
    if (auto query = getPart(handle.get(), CURLUPART_QUERY)) parts.extraInfo = "?" + *query;
    if (auto fragment = getPart(handle.get(), CURLUPART_FRAGMENT)) parts.extraInfo += "#" + *fragment;
    if (auto port = getPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT)) {
        try {
            parts.port = std::stoi(*port);
        } catch (const std::exception&) {
            parts.port = 0;
        }
    }
    return parts;
}

std::optional<std::string> combineUrl(const std::string& base, const std::string& relative) {
    UrlHandle handle(curl_url());
    if (!handle) return std::nullopt;
    // A base that does not parse still lets an absolute reference through.
    curl_url_set(handle.get(), CURLUPART_URL, base.c_str(), kParseFlags);
    if (curl_url_set(handle.get(), CURLUPART_URL, relative.c_str(), kParseFlags) != CURLUE_OK) {
        return std::nullopt;
    }
    return getPart(handle.get(), CURLUPART_URL);
}

}  // namespace inet
