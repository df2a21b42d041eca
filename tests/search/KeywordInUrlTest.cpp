#include <gtest/gtest.h>

#include "search/KeywordInUrl.h"

TEST(KeywordInUrl, OnlyBlanksAreEscaped) {
    struct Case {
        std::string keyword;
        std::string inUrl;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"\xD6\xDC\xBD\xDC\xC2\xD7 \xC7\xE7\xCC\xEC", "\xD6\xDC\xBD\xDC\xC2\xD7%20\xC7\xE7\xCC\xEC"},  // 周杰伦 晴天
        {"  a ", "%20%20a%20"},
        {"a#b c", "a#b%20c"},
        {"%20+&=?\t\x7F\xFF", "%20+&=?\t\x7F\xFF"},  // everything else raw, "%" included
    };
    for (const Case& c : cases) EXPECT_EQ(search::keywordForUrl(c.keyword), c.inUrl) << c.keyword;
}
