#pragma once
// A page link's URL made absolute against the page's URL.
#include <optional>
#include <string>

namespace dl {

// libcurl's resolution, except that an empty or fragment-only reference
// stays on the page itself (libcurl would drop the page's last segment and
// query). Nothing when the two do not make a URL.
std::optional<std::string> resolveUrl(const std::string& base, const std::string& reference);

}  // namespace dl
