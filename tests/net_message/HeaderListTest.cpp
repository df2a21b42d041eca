#include <gtest/gtest.h>

#include "http/NetGlobal.h"
#include "http/NetHeaderList.h"

using net::TNetHeaderList;

namespace {

TNetHeaderList listOf(std::string_view text) {
    TNetHeaderList list;
    list.setText(text);
    return list;
}

TEST(NetHeaderList, LookupByName) {
    const TNetHeaderList list = listOf(
        "content-length: 12\r\nContent-Length: 99\r\nContent-Type : text/plain\r\nServer:x\r\nbroken line\r\n");
    EXPECT_EQ(list.count(), 5);
    // Names ignore case; the first of duplicates wins.
    EXPECT_EQ(list.GetHeaderValue("Content-Length"), "12");
    EXPECT_EQ(list.GetHeaderValue("server"), "x");
    // A blank before the colon belongs to the name.
    EXPECT_EQ(list.NameOfLine(2), "CONTENT-TYPE ");
    EXPECT_EQ(list.IndexOfHeader("Content-Type"), -1);
    EXPECT_EQ(list.GetHeaderValue("Content-Type"), "");
    EXPECT_EQ(list.NameOfLine(4), "");
    EXPECT_EQ(list.ValueOfLine(17), "");

    std::vector<std::string> values;
    list.ExtractValues("CONTENT-LENGTH", &values);
    EXPECT_EQ(values, (std::vector<std::string>{"12", "99"}));
    list.ExtractValues("x", static_cast<std::vector<std::string>*>(nullptr));
}

TEST(NetHeaderList, ContinuationLinesAreJoined) {
    TNetHeaderList list = listOf("X-Long: first part  \r\n  second\r\n\tthird\r\nNext: 1\r\n");
    EXPECT_EQ(list.GetHeaderValue("X-Long"), "first part second third");
    EXPECT_EQ(list.GetHeaderValue("Next"), "1");
    list.unfoldLines = false;
    EXPECT_EQ(list.GetHeaderValue("X-Long"), "first part");
}

TEST(NetHeaderList, SetHeaderValueReplacesInPlace) {
    TNetHeaderList list;
    list.SetHeaderValue("Host", "a");
    list.SetHeaderValue("Accept", "*/*");
    list.SetHeaderValue("host", "b");
    EXPECT_EQ(list.text(), "host: b\r\nAccept: */*\r\n");

    list.setText("X: 1\r\n 2\r\n\r\n 3\r\nY: 4\r\n");
    list.SetHeaderValue("X", "");
    // The continuation run ends at the empty line.
    EXPECT_EQ(list.text(), "\r\n 3\r\nY: 4\r\n");
    list.SetHeaderValue("Absent", "");
    EXPECT_EQ(list.count(), 3);
}

TEST(NetHeaderList, TextSplitsAnyLineEnd) {
    TNetHeaderList list = listOf("a\r\nb\nc\rd");
    EXPECT_EQ(list.lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(listOf("a\r\n\r\n").count(), 2);
    EXPECT_EQ(listOf("").count(), 0);
}

// Each folded piece fits the limit, continuation pieces start with one blank,
// and unfolding gives back the words.
void expectFolded(const TNetHeaderList& list, std::int32_t limit, std::string_view value) {
    ASSERT_GT(list.count(), 1);
    for (std::int32_t i = 0; i < list.count(); ++i) {
        EXPECT_LE(list[i].size(), static_cast<std::size_t>(limit)) << list[i];
        if (i > 0) {
            EXPECT_EQ(list[i][0], ' ');
            EXPECT_NE(list[i][1], ' ');
        }
    }
    EXPECT_EQ(list.GetHeaderValue("X-Words"), value);
}

TEST(NetHeaderList, FoldsLongLines) {
    std::string value;
    for (int i = 0; i < 40; ++i) value += (i ? " word" : "word") + std::to_string(i);
    TNetHeaderList list;
    list.SetHeaderValue("X-Words", value);
    expectFolded(list, 78, value);

    // A raw header list folds only beyond 1024 columns.
    TNetHeaderList raw(1024);
    raw.SetHeaderValue("X-Words", value);
    EXPECT_EQ(raw.count(), 1);
    std::string longValue;
    while (longValue.size() < 3000) longValue += "chunk" + std::to_string(longValue.size()) + " ";
    longValue.pop_back();
    raw.SetHeaderValue("X-Words", longValue);
    expectFolded(raw, 1024, longValue);

    // Replacing a folded header removes its old continuation lines.
    raw.SetHeaderValue("X-Words", "short");
    EXPECT_EQ(raw.text(), "X-Words: short\r\n");
}

TEST(NetHeaderList, AnUnfoldedValueStaysOneLine) {
    TNetHeaderList raw(1024);
    raw.add("Host: h");
    std::string longValue;
    while (longValue.size() < 3000) longValue += "k" + std::to_string(longValue.size()) + "=v; ";
    raw.SetHeaderValue("Cookie", longValue);  // folded
    raw.add("Accept: */*");
    ASSERT_GT(raw.count(), 3);
    raw.SetHeaderValueUnfolded("cookie", longValue);
    EXPECT_EQ(raw.text(), "Host: h\r\ncookie: " + longValue + "\r\nAccept: */*\r\n");
    raw.SetHeaderValueUnfolded("Cookie", "");
    EXPECT_EQ(raw.text(), "Host: h\r\nAccept: */*\r\n");
    raw.SetHeaderValueUnfolded("Cookie", "a=b");
    EXPECT_EQ(raw.text(), "Host: h\r\nAccept: */*\r\nCookie: a=b\r\n");
}

TEST(NetHeaderList, FoldingKeepsQuotedTextAndDoubleByteCharacters) {
    TNetHeaderList list(20);
    list.SetHeaderValue("X", "\"a b c d e f g h i j k l\" tail");
    EXPECT_EQ(list.lines(), (std::vector<std::string>{"X:", " \"a b c d e f g h i j k l\"", " tail"}));

    // No piece ends inside a double-byte character, even where the column
    // limit falls between its two bytes.
    std::string gbk;
    for (int i = 0; i < 8; ++i) gbk += "\xC1\xF5";
    TNetHeaderList narrow(10);
    narrow.SetHeaderValue("X", "a" + gbk + " " + gbk + " b");
    ASSERT_GT(narrow.count(), 2);
    for (const std::string& line : narrow.lines()) {
        std::size_t highBytes = 0;
        for (char c : line) highBytes += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
        EXPECT_EQ(highBytes % 2, 0u) << line;
    }
    EXPECT_EQ(narrow.GetHeaderValue("X"), "a" + gbk + " " + gbk + " b");
}

TEST(NetTextHelpers, WrapText) {
    EXPECT_EQ(net::WrapText("short", "\r\n ", " ", 78), "short");
    EXPECT_EQ(net::WrapText("aaa bbb ccc", "|", " ", 5), "aaa |bbb |ccc");
    EXPECT_EQ(net::WrapText("aaaaaaaaaa", "|", " ", 5), "aaaaaaaaaa");
    // An existing break is kept and restarts the column count.
    EXPECT_EQ(net::WrapText("ab|cd ef", "|", " ", 78), "ab|cd ef");
}

}  // namespace
