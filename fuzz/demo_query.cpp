// The demo service reads keywords and page numbers from raw request targets:
// any bytes must give a page whose every cut link is one of its songs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "search/LowerCase.h"
#include "search/PageCutter.h"
#include "tools/demo-service/DemoPages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string target(reinterpret_cast<const char*>(data), size);
    const std::string keyword = demo::readKeyword(demo::queryValue(target, "word").value_or(""));
    const int page = demo::readPage(demo::queryValue(target, "bg").value_or(""));
    std::string html = demo::resultPage("http://127.0.0.1:1", keyword, page);
    search::lowerCasePage(html);
    std::int32_t links = 0;
    search::cutLinks(html, 0, links, [](std::string_view, std::string_view url) {
        if (url.rfind("http://127.0.0.1:1/songs/", 0) != 0 || url.size() >= 150) std::abort();
    });
    if (links == 0) std::abort();
    return 0;
}
