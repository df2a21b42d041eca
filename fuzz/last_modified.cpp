// The Last-Modified header as the download transfer reads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "download/engine/DlHeaderParsing.h"
#include "download/values/EConvertError.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const double value = dl::ParseLastModified(text);
        // 0, or a date of years 1 to 9999 (days since 30 December 1899).
        if (value != 0 && (value < -693594 || value > 2958466)) std::abort();
    } catch (const dl::EConvertError&) {
        // An impossible date or a missing number: the transfer keeps its date.
    }
    return 0;
}
