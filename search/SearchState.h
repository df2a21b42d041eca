#pragma once
// The one set of search state the program keeps: the result-page address
// parts, the page in work and the two counters the stop test reads.
#include <cstdint>
#include <string>

namespace search {

struct SearchState {
    std::string urlPrefix;   // "http://" + host + "/zsmp3?ty=1&word="
    std::string urlMiddle;   // "&class=mp3&bg="
    std::string urlSuffix;   // "&webid="
    std::string currentUrl;  // address of the page in work (GBK bytes)

    std::string pageText;         // body of the page in work, lower-cased GBK bytes
    std::int32_t pageCounter = 1; // pages requested in the current search
    std::int32_t linkCounter = 0; // links accepted in the current search

    // Start-up values: URL parts for `host`, link counter 0, page counter 1.
    void initialise(const std::string& host) {
        urlPrefix = "http://" + host + "/zsmp3?ty=1&word=";
        urlMiddle = "&class=mp3&bg=";
        urlSuffix = "&webid=";
        linkCounter = 0;
        pageCounter = 1;
    }
};

}  // namespace search
