// Response and request header blocks through the header records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "http/NetHTTPHeaderInfo.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view block(reinterpret_cast<const char*>(data), size);

    net::TNetResponseHeaderInfo response;
    response.RawHeaders.setText(block);
    try {
        response.ParseRawHeaders();
        if (response.HasContentLength() != (response.ContentLength() >= 0)) __builtin_trap();
    } catch (const net::ConversionError&) {
    }

    net::TNetRequestHeaderInfo request;
    request.RawHeaders.setText(block);
    try {
        request.ParseRawHeaders();
        // What a server read goes out again.
        request.CustomHeaders.setText(block.substr(0, 200));
        request.Date = 0;
        request.LastModified = 0;
        request.BuildRawHeaders();
    } catch (const net::ConversionError&) {
    }
    return 0;
}
