// Page mode's address handling: a page's link resolved against the page's
// address, and the form by which a run fetches each address once. The input
// is the page's address, a NUL, and the link as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/html/PageAddresses.h"
#include "download/html/UrlResolve.h"

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void check(std::string_view url) {
    const auto key = dl::FetchKey(url);
    if (!key) return;
    // Only the web, never a fragment, always the same key for the same address.
    if (!startsWith(*key, "http://") && !startsWith(*key, "https://")) std::abort();
    if (key->find('#') != std::string::npos) std::abort();
    if (dl::FetchKey(url) != key) std::abort();
    dl::FetchedAddresses fetched;
    if (!fetched.Claim(url) || fetched.Claim(url) || !fetched.Contains(url)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string base(input.substr(0, nul));
    const std::string link(nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1));
    check(base);
    if (const auto resolved = dl::resolveUrl(base, link)) check(*resolved);
    return 0;
}
