#include <gtest/gtest.h>

#include "platform/GbkCodec.h"

using platform::gbkToUtf8;
using platform::utf8ToGbk;

TEST(GbkCodec, RoundTripsChineseAndAscii) {
    const std::string utf8 = "月亮 Moon 周杰伦 - 七里香";
    const std::string gbk = utf8ToGbk(utf8);
    EXPECT_EQ(gbk.substr(0, 4), std::string("\xd4\xc2\xc1\xc1", 4));
    EXPECT_EQ(gbkToUtf8(gbk), utf8);
}

TEST(GbkCodec, IdeographicSpaceAndEmpty) {
    EXPECT_EQ(utf8ToGbk("\u3000"), std::string("\xa1\xa1", 2));
    EXPECT_EQ(gbkToUtf8(""), "");
    EXPECT_EQ(utf8ToGbk(""), "");
}

TEST(GbkCodec, UnencodableCharactersBecomeQuestionMarks) {
    // An emoji and a Thai letter have no GBK form.
    EXPECT_EQ(utf8ToGbk("a\U0001F600b\u0E01c"), "a?b?c");
    // Broken UTF-8 input does not stop the conversion.
    EXPECT_EQ(utf8ToGbk(std::string("x\xffy", 3)), "x?y");
}

TEST(GbkCodec, UndecodableBytesBecomeQuestionMarks) {
    // A lead byte at the very end, and a lead byte followed by an invalid trail.
    EXPECT_EQ(gbkToUtf8(std::string("ab\x81", 3)), "ab?");
    EXPECT_EQ(gbkToUtf8(std::string("\x81\x20z", 3)).back(), 'z');
    EXPECT_EQ(gbkToUtf8(std::string("\xff", 1)), "?");
}

TEST(GbkCodec, SecondBytesInAsciiRangeStayInsideTheirCharacter) {
    // 0x81 0x41 is a valid GBK character whose trail byte is 'A'.
    const std::string utf8 = gbkToUtf8(std::string("\x81\x41", 2));
    EXPECT_EQ(utf8.find('A'), std::string::npos);
    EXPECT_EQ(utf8ToGbk(utf8), std::string("\x81\x41", 2));
}

TEST(GbkCodec, LeadByteRange) {
    EXPECT_FALSE(platform::isGbkLeadByte(0x80));
    EXPECT_TRUE(platform::isGbkLeadByte(0x81));
    EXPECT_TRUE(platform::isGbkLeadByte(0xFE));
    EXPECT_FALSE(platform::isGbkLeadByte(0xFF));
}
