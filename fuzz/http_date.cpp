// Date texts as servers send them in "Date", "Expires", "Last-Modified" and
// cookie expiries.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "http/NetGlobal.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const net::TDateTime value = net::ParseHttpDate(input);
    std::string rest = input;
    (void)net::ParseDateText(rest);
    (void)net::ParseZoneOffset(rest);
    net::DateTimeParts parts;
    if (net::decodeDateTime(value, parts)) {
        // Any parsed date formats, and the text reads back to the same second.
        const std::string text = net::FormatHttpDate(value, false);
        const net::TDateTime back = net::ParseHttpDate(text);
        const bool readsBack = parts.year >= 100 && parts.year != 1900;
        if (readsBack && std::fabs(back - value) * 86400.0 > 1.001) __builtin_trap();
        (void)net::FormatHttpDateGMT(value);
    }
    return 0;
}
