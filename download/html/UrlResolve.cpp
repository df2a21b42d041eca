#include "download/html/UrlResolve.h"

#include <algorithm>

#include "download/inet/InetUrl.h"

namespace dl {

std::optional<std::string> resolveUrl(const std::string& base, const std::string& reference) {
    if (!reference.empty() && reference.front() != '#') return inet::combineUrl(base, reference);
    // An absolute reference stands on its own, so this checks that the base
    // is a URL and gives it in libcurl's form.
    std::optional<std::string> page = inet::combineUrl(base, base);
    if (!page) return std::nullopt;
    page->erase(std::min(page->find('#'), page->size()));
    return *page + reference;
}

}  // namespace dl
