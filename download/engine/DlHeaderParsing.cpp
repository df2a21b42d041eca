#include "download/engine/DlHeaderParsing.h"

#include <ctime>
#include <string>
#include <utility>

#include "download/values/AsciiCase.h"
#include "download/values/HttpDate.h"

namespace dl {

TDateTime ParseLastModified(std::string_view text) {
    const auto date = ReadHttpDate(text, HttpDateLeniency::Tolerant);
    if (!date) return 0;
    // Validates the fields, then reads them as GMT: the zone of every HTTP date.
    EncodeDateTime(date->year, date->month, date->day, date->hour, date->minute, date->second);
    return LocalDateTimeOf(static_cast<std::time_t>(SecondsSinceEpoch(*date)));
}

void ParseSetCookies(std::string_view rawHeaders, TDlCookiesList& list, bool strip) {
    static constexpr std::string_view kPrefix = "Set-Cookie: ";
    std::string joined;
    bool any = false;
    std::size_t start = 0;
    while (start <= rawHeaders.size()) {
        std::size_t end = start;
        while (end < rawHeaders.size() && rawHeaders[end] != '\0' &&
               !(rawHeaders[end] == '\r' && end + 1 < rawHeaders.size() && rawHeaders[end + 1] == '\n'))
            ++end;
        std::string_view line = rawHeaders.substr(start, end - start);
        while (!line.empty() && static_cast<unsigned char>(line.front()) < 33) line.remove_prefix(1);
        if (line.size() >= kPrefix.size() && SameText(line.substr(0, kPrefix.size()), kPrefix)) {
            if (any) joined += "; ";
            joined += line.substr(kPrefix.size());
            any = true;
        }
        if (end >= rawHeaders.size()) break;
        start = end + (rawHeaders[end] == '\0' ? 1 : 2);
    }
    if (!any) return;
    std::size_t from = 0;
    for (;;) {
        const std::size_t semicolon = joined.find(';', from);
        std::string entry = joined.substr(from, semicolon == std::string::npos ? std::string::npos : semicolon - from);
        entry.erase(0, entry.find_first_not_of(' '));
        // An empty piece (a trailing ";") is no cookie.
        if (!entry.empty()) list.Add(std::move(entry));
        if (semicolon == std::string::npos) break;
        from = semicolon + 1;
    }
    if (!strip) return;
    for (std::size_t i = list.Count(); i-- > 0;) {
        const std::string name = list.Name(i);
        if (SameText(name, "EXPIRES") || SameText(name, "DOMAIN") ||
            SameText(name, "PATH"))
            list.Delete(i);
    }
}

}  // namespace dl
