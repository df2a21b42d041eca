#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/inet/InetRange.h"

using inet::ContentRange;

TEST(ContentRange, OnlyAWholeRangeOfAKnownOrUnknownLengthIsOne) {
    struct Case {
        const char* value;
        std::optional<ContentRange> range;
    };
    const std::vector<Case> cases = {
        {"bytes 0-99/100", ContentRange{0, 99, 100}},
        {"bytes 60000-199999/200000", ContentRange{60000, 199999, 200000}},
        {"  BYTES   5-5/6 ", ContentRange{5, 5, 6}},
        {"bytes\t7-9/10", ContentRange{7, 9, 10}},
        {"bytes 1-2/*", ContentRange{1, 2, std::nullopt}},
        {"bytes 0-9223372036854775806/9223372036854775807",
         ContentRange{0, 9223372036854775806ull, 9223372036854775807ull}},
        {"", std::nullopt},
        {"bytes", std::nullopt},
        {"bytes ", std::nullopt},
        {"bytes */100", std::nullopt},         // unsatisfied: no range
        {"bytes 5-4/100", std::nullopt},       // last before first
        {"bytes 0-100/100", std::nullopt},     // past the length
        {"bytes 0-99/0", std::nullopt},
        {"bytes 0-99", std::nullopt},          // no length
        {"bytes 0-/100", std::nullopt},
        {"bytes -5/100", std::nullopt},
        {"bytes=0-99/100", std::nullopt},      // the request's form
        {"bytes0-99/100", std::nullopt},
        {"items 0-99/100", std::nullopt},
        {"bytes 0 - 99/100", std::nullopt},
        {"bytes 0-99/100, bytes 0-9/100", std::nullopt},  // sent twice
        {"bytes +0-99/100", std::nullopt},
        {"bytes 0x0-99/100", std::nullopt},
        {"bytes 0-99/100x", std::nullopt},
        {"bytes 0-99/*/100", std::nullopt},
        {"bytes 00000000000000000000-1/2", std::nullopt},  // too many digits to be read
        {"bytes 0-1/99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(inet::parseContentRange(c.value), c.range);
        if (c.range) {
            EXPECT_EQ(inet::parseContentRange(inet::formatContentRange(*c.range)), c.range);
        }
    }
}

TEST(ContentRange, TheRequestAsksForTheRestOfTheFileItNames) {
    EXPECT_EQ(inet::rangeRequestHeaders(60000, "\"v1\""),
              (std::vector<std::string>{"Range: bytes=60000-", "If-Range: \"v1\""}));
    EXPECT_EQ(inet::rangeRequestHeaders(1, "Sun, 06 Nov 1994 08:49:37 GMT"),
              (std::vector<std::string>{"Range: bytes=1-", "If-Range: Sun, 06 Nov 1994 08:49:37 GMT"}));
    EXPECT_EQ(inet::rangeRequestHeaders(7, ""), std::vector<std::string>{"Range: bytes=7-"});
    EXPECT_TRUE(inet::isWeakEntityTag("W/\"x\""));
    EXPECT_FALSE(inet::isWeakEntityTag("\"W/x\""));
    EXPECT_FALSE(inet::isWeakEntityTag("w/\"x\""));
}
