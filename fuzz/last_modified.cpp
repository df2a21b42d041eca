// The Last-Modified header as the download transfer reads it, and the
// download road's HTTP-date reader under each of its leniencies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "download/engine/DlHeaderParsing.h"
#include "download/values/EConvertError.h"
#include "download/values/HttpDate.h"

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
    try {
        // The tolerant reading gives a day and a month that can be, or nothing.
        const auto date = dl::ReadHttpDate(text, dl::HttpDateLeniency::Tolerant);
        if (date && (date->month < 1 || date->month > 12 || date->day < 1 || date->day > 31)) std::abort();
    } catch (const dl::EConvertError&) {
    }
    // The strict reading never raises and gives only a date that exists.
    if (const auto date = dl::ReadHttpDate(text, dl::HttpDateLeniency::Strict)) {
        if (date->year < 1 || date->year > 9999 || date->month < 1 || date->month > 12 || date->day < 1 ||
            date->day > 31 || date->hour > 23 || date->minute > 59 || date->second > 60)
            std::abort();
    }
    return 0;
}
