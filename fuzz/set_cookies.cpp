// The Set-Cookie lines of a raw response head, as the download transfer
// collects them.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/engine/DlHeaderParsing.h"

namespace {

bool named(const std::string& name, const char* wanted) {
    if (name.size() != std::string_view(wanted).size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != wanted[i]) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool strip = data[0] & 1;
    const std::string_view raw(reinterpret_cast<const char*>(data) + 1, size - 1);
    dl::TDlCookiesList list;
    dl::ParseSetCookies(raw, list, strip);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (list[i].empty() || list[i][0] == ' ') std::abort();
        if (list[i].find(';') != std::string::npos) std::abort();
        const std::string name = list.Name(i);
        if (strip && (named(name, "EXPIRES") || named(name, "DOMAIN") || named(name, "PATH"))) std::abort();
    }
    return 0;
}
