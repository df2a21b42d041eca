// "Set-cookie" and "Set-cookie2" values from a host, then the "Cookie" header
// for requests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "http/NetCookieManager.h"
#include "http/NetURI.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Lines: the first is the host, then cookie values; a line starting with
    // "2" is a Set-cookie2 value, one starting with "?" a request URL.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t firstEnd = input.find('\n');
    const std::string host(input.substr(0, firstEnd));
    input = firstEnd == std::string_view::npos ? std::string_view() : input.substr(firstEnd + 1);

    net::TNetCookieManager manager;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        try {
            if (!line.empty() && line[0] == '2') {
                manager.TakeSetCookie2(line.substr(1), host);
            } else if (!line.empty() && line[0] == '?') {
                (void)manager.CookieHeaderText(net::TNetURI(line.substr(1)), line.size() % 2 == 0);
            } else {
                manager.TakeSetCookie(line, host);
            }
        } catch (const net::ConversionError&) {
        }
        // Nothing lingers unstored, and the store keeps to its bounds.
        net::TNetCookies& store = manager.CookieCollection();
        if (store.count() != store.storedCount() || store.storedCount() > net::TNetCookies::kMaxCookies)
            __builtin_trap();
        for (std::int32_t d = 0; d < store.index().count(); ++d)
            if (store.index().object(d)->count() > net::TNetCookies::kMaxCookiesPerDomain) __builtin_trap();
    }
    (void)manager.CookieHeaderText(net::TNetURI("http://" + host + "/"), false);
    return 0;
}
