#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "http/NetGlobal.h"

using net::TDateTime;

namespace {

// A +8 hour zone without daylight time, so the examples are exact.
class NetDate : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
    }

    static TDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        TDateTime date = 0;
        TDateTime time = 0;
        EXPECT_TRUE(net::tryEncodeDate(y, mo, d, date));
        EXPECT_TRUE(net::tryEncodeTime(h, mi, s, time));
        return date + time;
    }

    static constexpr double kSecond = 1.0 / 86400.0;
    static constexpr double kEightHours = 8.0 / 24.0;
};

TEST_F(NetDate, DayZeroAndKnownDates) {
    EXPECT_DOUBLE_EQ(at(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(at(1994, 11, 6), 34644.0);
    net::DateTimeParts parts;
    ASSERT_TRUE(net::decodeDateTime(at(1994, 11, 6, 8, 49, 37), parts));
    EXPECT_EQ(parts.year, 1994);
    EXPECT_EQ(parts.day, 6);
    EXPECT_EQ(parts.second, 37);
    EXPECT_EQ(parts.dayOfWeek, 0);
}

TEST_F(NetDate, ThreeStylesGiveTheSameLocalTime) {
    const TDateTime expected = at(1994, 11, 6, 16, 49, 37);
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected, kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected, kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sun Nov  6 08:49:37 1994"), expected, kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sun,06 Nov 1994 08:49:37 GMT"), expected, kSecond / 10);
}

TEST_F(NetDate, Zones) {
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 +0100"), at(1994, 11, 6, 15, 49, 37), kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 EST"), at(1994, 11, 6, 16, 49, 37), kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 -0530"), at(1994, 11, 6, 22, 19, 37), kSecond / 10);

    EXPECT_NEAR(net::ParseZoneOffset("+0800"), kEightHours, 1e-12);
    EXPECT_NEAR(net::ParseZoneOffset(" -0530 "), -5.5 / 24.0, 1e-12);
    EXPECT_EQ(net::ParseZoneOffset("GMT"), 0.0);
    EXPECT_EQ(net::ParseZoneOffset("UTC"), 0.0);
    EXPECT_EQ(net::ParseZoneOffset("+08:00"), 0.0);
    EXPECT_EQ(net::ParseZoneOffset("+08"), 0.0);
}

TEST_F(NetDate, FieldLayouts) {
    const TDateTime expected = at(1994, 11, 6, 16, 49, 37);
    // No weekday, month before day, lower case names.
    EXPECT_NEAR(net::ParseHttpDate("06 Nov 1994 08:49:37 GMT"), expected, kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Nov 06 1994 08:49:37 GMT"), expected, kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("sun, 06 nov 1994 08:49:37 gmt"), expected, kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sunday, 06-Nov-1994 08:49:37 GMT"), expected, kSecond / 10);
    // Without a time the date starts at midnight; short time fields still count.
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994"), at(1994, 11, 6, 8), kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994 8:9:7 GMT"), at(1994, 11, 6, 16, 9, 7), kSecond / 10);
    // A day that is not a number is the first of the month.
    EXPECT_NEAR(net::ParseHttpDate("Sun, xx Nov 1994 08:49:37 GMT"), at(1994, 11, 1, 16, 49, 37), kSecond / 10);
    // Only the first five characters of the zone are read.
    EXPECT_NEAR(net::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 +0800 (CST)"), at(1994, 11, 6, 8, 49, 37),
                kSecond / 10);
}

TEST_F(NetDate, TwoDigitYears) {
    EXPECT_NEAR(net::ParseHttpDate("Mon, 06 Nov 79 00:00:00 GMT"), at(2079, 11, 6, 8), kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Mon, 06 Nov 80 00:00:00 GMT"), at(1980, 11, 6, 8), kSecond / 10);
    EXPECT_NEAR(net::ParseHttpDate("Mon, 06 Nov 2031 00:00:00 GMT"), at(2031, 11, 6, 8), kSecond / 10);
}

TEST_F(NetDate, TextsThatDoNotParseGiveTheOffsetAlone) {
    EXPECT_NEAR(net::LocalUtcOffset(), kEightHours, 1e-12);
    for (const char* text : {"", "   ", "Sun, 06 November 1994 08:49:37 GMT", "Sun, 31 Feb 1994 08:49:37 GMT",
                             "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 31 Feb 1994 08:49:37 +0100", "garbage"}) {
        EXPECT_NEAR(net::ParseHttpDate(text), kEightHours, 1e-12) << text;
        net::TDateTime untouched = 42;
        EXPECT_FALSE(net::TryParseHttpDate(text, untouched)) << text;
        EXPECT_EQ(untouched, 42) << text;
    }
    net::TDateTime parsed = 0;
    EXPECT_TRUE(net::TryParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT", parsed));
    EXPECT_NEAR(parsed, at(1994, 11, 6, 16, 49, 37), kSecond / 10);
}

TEST_F(NetDate, ParseDateTextLeavesTheZone) {
    std::string text = "Sun, 06 Nov 1994 08:49:37   +0100  ";
    EXPECT_NEAR(net::ParseDateText(text), at(1994, 11, 6, 8, 49, 37), kSecond / 10);
    EXPECT_EQ(text, "+0100");
}

TEST_F(NetDate, NameIndexes) {
    EXPECT_EQ(net::DayOfWeekIndex("sun"), 1);
    EXPECT_EQ(net::DayOfWeekIndex("SAT"), 7);
    EXPECT_EQ(net::DayOfWeekIndex("Sunday"), 0);
    EXPECT_EQ(net::MonthIndex("dec"), 12);
    EXPECT_EQ(net::MonthIndex("November"), 0);
}

TEST_F(NetDate, Formatting) {
    const TDateTime value = at(1994, 11, 6, 8, 49, 37);
    EXPECT_EQ(net::FormatHttpDate(value), "Sun, 6 Nov 1994 08:49:37 +0800");
    EXPECT_EQ(net::FormatHttpDateGMT(value), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(net::ZoneOffsetText(0, true), "GMT");
    EXPECT_EQ(net::ZoneOffsetText(0, false), "+0000");
    EXPECT_EQ(net::ZoneOffsetText(-5.0 / 24.0, true), "-0500");
    EXPECT_EQ(net::ZoneOffsetText(kEightHours, true), "+0800");
    // What is written parses back to the same moment.
    EXPECT_NEAR(net::ParseHttpDate(net::FormatHttpDate(value)), value, kSecond / 10);
    EXPECT_THROW(net::FormatHttpDate(1e12), net::ConversionError);
}

TEST_F(NetDate, NowIsLocal) {
    const std::time_t t = std::time(nullptr);
    const double utcDays = 25569.0 + static_cast<double>(t) / 86400.0;
    EXPECT_NEAR(net::nowLocal(), utcDays + kEightHours, 5 * kSecond);
}

}  // namespace
