// Response and request header blocks through the header records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

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
        // A length that was taken is the one every Content-Length line gives.
        std::vector<std::string> lengths;
        response.RawHeaders.ExtractValues("Content-Length", &lengths);
        if (lengths.empty() != (response.ContentLength() == -1)) __builtin_trap();
        for (const std::string& length : lengths)
            if (length.find(std::to_string(response.ContentLength())) == std::string::npos) __builtin_trap();
        // Dates never fail; one that is set lies within the years a date can name.
        for (const net::TDateTime date : {response.Date, response.LastModified, response.Expires})
            if (date != 0 && !(date > -700000 && date < 3000000)) __builtin_trap();
    } catch (const net::ConversionError&) {
    } catch (const net::ENetInvalidContentLength&) {
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
    } catch (const net::ENetInvalidContentLength&) {
    }
    return 0;
}
