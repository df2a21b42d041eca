// The download road's small values: decimal numbers under each overflow
// rule, percent escapes under each policy, ASCII-only case, and HTTP dates
// under each leniency.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "download/values/AsciiCase.h"
#include "download/values/DecimalNumber.h"
#include "download/values/EConvertError.h"
#include "download/values/HttpDate.h"
#include "download/values/PercentCoding.h"

using dl::DecimalOverflow;

TEST(DecimalNumber, EachOverflowRuleAndTheDigitBound) {
    constexpr std::uint64_t kLargest = UINT64_MAX;
    struct Case {
        const char* text;
        std::optional<std::uint64_t> saturated;
        std::optional<std::uint64_t> refused;
    };
    const Case cases[] = {
        {"0", 0, 0},
        {"007", 7, 7},
        {"18446744073709551615", kLargest, kLargest},
        {"18446744073709551616", kLargest, std::nullopt},
        {"99999999999999999999999", kLargest, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"12a", std::nullopt, std::nullopt},
        {"+1", std::nullopt, std::nullopt},
        {" 1", std::nullopt, std::nullopt},
        {"-0", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(dl::ParseDecimal(c.text, DecimalOverflow::Saturate), c.saturated);
        EXPECT_EQ(dl::ParseDecimal(c.text, DecimalOverflow::Refuse), c.refused);
    }

    // The digits at the front are taken off; what follows stays.
    std::string_view text = "1234-99";
    EXPECT_EQ(dl::TakeDecimal(text, DecimalOverflow::Refuse), 1234u);
    EXPECT_EQ(text, "-99");
    EXPECT_EQ(dl::TakeDecimal(text, DecimalOverflow::Refuse), std::nullopt);
    EXPECT_EQ(text, "-99");
    // Past the bound is no number, even one that would fit.
    std::string_view long20 = "00000000000000000001/";
    EXPECT_EQ(dl::TakeDecimal(long20, DecimalOverflow::Refuse, 19), std::nullopt);
    EXPECT_EQ(long20, "00000000000000000001/");
    std::string_view long19 = "9999999999999999999/";
    EXPECT_EQ(dl::TakeDecimal(long19, DecimalOverflow::Refuse, 19), 9999999999999999999u);
}

TEST(PercentCoding, EachPolicyKeepsItsBytesAndEscapesTheRest) {
    const std::string all = std::string("aZ09 !$%'()*-.@_~/:\x01\x7F") + "\xE6\x9C\x88";
    EXPECT_EQ(dl::PercentEncode(all, dl::IsFormValueByte),
              "aZ09%20!$%25'()*-.@_%7E%2F%3A%01%7F%E6%9C%88");
    EXPECT_EQ(dl::PercentEncode(all, dl::IsUrlSafeByte), "aZ09%20!$%'()*-.@_~/:%01%7F%E6%9C%88");
    EXPECT_EQ(dl::PercentEncode(all, dl::IsUnreservedByte),
              "aZ09%20%21%24%25%27%28%29%2A-.%40_~%2F%3A%01%7F%E6%9C%88");
    EXPECT_EQ(dl::PercentEncode(all, dl::IsVisibleNonPercentByte), "aZ09%20!$%25'()*-.@_~/:%01%7F%E6%9C%88");
}

TEST(PercentCoding, AnEscapeIsReadOnlyWithTwoDigitsOfTheCaseAsked) {
    EXPECT_EQ(dl::EscapedByteAt("x%3a", 1), 0x3A);
    EXPECT_EQ(dl::EscapedByteAt("x%3a", 1, dl::HexDigits::UpperCase), std::nullopt);
    EXPECT_EQ(dl::EscapedByteAt("x%3A", 1, dl::HexDigits::UpperCase), 0x3A);
    EXPECT_EQ(dl::EscapedByteAt("%3", 0), std::nullopt);
    EXPECT_EQ(dl::EscapedByteAt("%g0", 0), std::nullopt);
    EXPECT_EQ(dl::EscapedByteAt("a3A", 0), std::nullopt);
    EXPECT_EQ(dl::HexDigitValue('f'), 15);
    EXPECT_EQ(dl::HexDigitValue('f', dl::HexDigits::UpperCase), -1);
}

TEST(AsciiCase, OnlyAsciiLettersChangeCase) {
    EXPECT_TRUE(dl::SameText("Content-TYPE", "content-type"));
    EXPECT_FALSE(dl::SameText("\xC0", "\xE0"));  // Latin-1 letters are bytes like any other
    EXPECT_FALSE(dl::SameText("abc", "abcd"));
    EXPECT_TRUE(dl::StartsWithText("BYTES 0-1/2", "bytes"));
    EXPECT_TRUE(dl::ContainsText("Text/HTML; charset=gbk", "text/html"));
    EXPECT_FALSE(dl::ContainsText("text/htm", "text/html"));
    EXPECT_EQ(dl::AsciiLowerCase("HoSt\xC0"), "host\xC0");
}

TEST(HttpDate, EachLeniencyReadsWhatItsCallerNeeds) {
    using dl::HttpDateFields;
    using dl::HttpDateLeniency;
    const HttpDateFields nov6{1994, 11, 6, 8, 49, 37};
    struct Case {
        const char* text;
        std::optional<HttpDateFields> tolerant;
        std::optional<HttpDateFields> strict;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", nov6, nov6},
        {"Sunday, 06-Nov-94 08:49:37 GMT", nov6, nov6},
        // Two-digit years part: the tolerant reader puts them in the 1900s,
        // the strict one in 1970 to 2069.
        {"Friday, 06-Nov-20 08:49:37 GMT", HttpDateFields{1920, 11, 6, 8, 49, 37},
         HttpDateFields{2020, 11, 6, 8, 49, 37}},
        {"Sun Nov  6 08:49:37 1994", std::nullopt, nov6},  // asctime: no day where the tolerant one looks
        {"sun,6 nov 1994 8:49:37", nov6, std::nullopt},     // case, blanks and one-digit fields
        {"Sun, 06 Nov 1994 08:49:37 +0800", nov6, std::nullopt},  // a zone but GMT
        {"Sun, 31 Nov 1994 08:49:37 GMT", HttpDateFields{1994, 11, 31, 8, 49, 37}, std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", HttpDateFields{1994, 11, 6, 24, 0, 0}, std::nullopt},
        {"Sun, 06 Nowember 1994 08:49:37 GMT", std::nullopt, std::nullopt},
        {"Sun, 32 Nov 1994 08:49:37 GMT", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(dl::ReadHttpDate(c.text, HttpDateLeniency::Tolerant), c.tolerant);
        EXPECT_EQ(dl::ReadHttpDate(c.text, HttpDateLeniency::Strict), c.strict);
    }
    // A missing or oversized number raises only where the tolerant reader
    // is asked; the strict one just says no.
    for (const char* text : {"Sun, 06 Nov 1994", "Sun, 06 Nov 99999999999 08:49:37"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(dl::ReadHttpDate(text, HttpDateLeniency::Tolerant), dl::EConvertError);
        EXPECT_EQ(dl::ReadHttpDate(text, HttpDateLeniency::Strict), std::nullopt);
    }
}

TEST(HttpDate, SecondsSinceEpochCountsTheGregorianCalendar) {
    EXPECT_EQ(dl::SecondsSinceEpoch({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(dl::SecondsSinceEpoch({1994, 11, 6, 8, 49, 37}), 784111777);
    EXPECT_EQ(dl::SecondsSinceEpoch({1996, 2, 29, 0, 0, 0}), 825552000);
    EXPECT_EQ(dl::SecondsSinceEpoch({1969, 12, 31, 23, 59, 59}), -1);
}
