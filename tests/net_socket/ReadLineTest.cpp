// ReadLine over the in-memory transport: terminators, maximum lengths,
// terminators split across receives, time-outs and closes.
#include <gtest/gtest.h>

#include "tests/net_socket/NetTestUtil.h"

using namespace net;
using nettest::MemoryConnection;

struct LineCase {
    const char* name;
    std::string input;
    std::string terminator;
    std::vector<std::string> lines;
};

class ReadLineTerminators : public testing::TestWithParam<LineCase> {};

TEST_P(ReadLineTerminators, GivesEachLineWithoutItsTerminator) {
    const LineCase& c = GetParam();
    // Whole input at once, then one byte per receive: same lines.
    for (std::vector<std::size_t> chunks : {std::vector<std::size_t>{}, std::vector<std::size_t>{1}}) {
        MemoryConnection m(c.input, chunks);
        for (const auto& want : c.lines) EXPECT_EQ(m.client.ReadLine(c.terminator), want) << c.name;
        EXPECT_EQ(m.client.InputBuffer().Size(), 0) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLineTerminators,
    testing::Values(LineCase{"CrLf", "abc\r\n", "\n", {"abc"}},
                    LineCase{"Lf", "abc\n", "\n", {"abc"}},
                    LineCase{"EmptyTerminatorMeansLf", "abc\r\n", "", {"abc"}},
                    LineCase{"CrLfAlone", "\r\n", "\n", {""}},
                    LineCase{"CrCrLfKeepsOneCr", "abc\r\r\n", "\n", {"abc\r"}},
                    LineCase{"LoneCrNeverEndsALine", "a\rb\rc\n", "\n", {"a\rb\rc"}},
                    LineCase{"BareLfInsideCrLfLine", "a\nb\r\n", "\r\n", {"a\nb"}},
                    LineCase{"CrLfTerminatorKeepsNothingElse", "x\r\r\n", "\r\n", {"x\r"}},
                    LineCase{"SeveralLines", "one\r\ntwo\n\r\nthree\n", "\n", {"one", "two", "", "three"}},
                    LineCase{"LongTerminator", "ab--c-d--", "--", {"ab", "c-d"}}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(ReadLineSplitTerminator, TerminatorSplitAcrossTwoReceivesIsFound) {
    // "\r" arrives with the first receive, "\n" with the second.
    MemoryConnection m("abc\r\ndef\r\n", {4, 6});
    EXPECT_EQ(m.client.ReadLine("\r\n"), "abc");
    EXPECT_EQ(m.client.ReadLine("\r\n"), "def");

    MemoryConnection lf("abc\r\n", {4, 1});
    EXPECT_EQ(lf.client.ReadLine(), "abc");
}

TEST(ReadLineMaxLength, LineOfExactlyTheMaximumIsReturned) {
    const std::string line(10, 'x');
    MemoryConnection m(line + "\n" + line + "\r\n");
    m.client.SetMaxLineLength(10);
    EXPECT_EQ(m.client.ReadLine(), line);
    EXPECT_EQ(m.client.ReadLine("\r\n"), line);
    EXPECT_FALSE(m.client.LineSplit());
}

TEST(ReadLineMaxLength, ExactMaximumWithCrLfSplitBeforeTheLfIsReturned) {
    const std::string line(10, 'x');
    // The first receive ends with the CR; only the LF is still missing.
    MemoryConnection m(line + "\r\n", {11, 1});
    m.client.SetMaxLineLength(10);
    EXPECT_EQ(m.client.ReadLine("\r\n"), line);
}

TEST(ReadLineMaxLength, OverTheMaximumRaisesBeforeTheTerminatorArrivesAndKeepsTheBytes) {
    MemoryConnection m(std::string(12, 'x'));
    m.io.endWithSilence();  // the terminator never comes
    m.client.SetMaxLineLength(10);
    try {
        m.client.ReadLine();
        FAIL() << "no exception";
    } catch (const ENetReadLnMaxLineLengthExceeded& e) {
        EXPECT_STREQ(e.what(), "Max line length exceeded.");
    }
    EXPECT_EQ(m.client.InputBuffer().Size(), 12);
}

TEST(ReadLineMaxLength, OverTheMaximumWithTerminatorRaises) {
    MemoryConnection m(std::string(11, 'x') + "\n");
    m.client.SetMaxLineLength(10);
    EXPECT_THROW(m.client.ReadLine(), ENetReadLnMaxLineLengthExceeded);
    // An explicit maximum of 0 lifts the limit.
    EXPECT_EQ(m.client.ReadLine("\n", -1, 0), std::string(11, 'x'));
}

TEST(ReadLineMaxLength, SplitActionCutsTheLineAndLeavesTheRestForTheNextRead) {
    const std::string line(20000, 'y');
    MemoryConnection m(line + "\r\nnext\r\n", {4096});
    m.client.SetMaxLineAction(maSplit);
    EXPECT_EQ(m.client.MaxLineLength(), 16384);
    const std::string first = m.client.ReadLine();
    EXPECT_EQ(first.size(), 16384u);
    EXPECT_TRUE(m.client.LineSplit());
    const std::string second = m.client.ReadLine();
    EXPECT_EQ(second.size(), 3616u);
    EXPECT_FALSE(m.client.LineSplit());
    EXPECT_EQ(m.client.ReadLine(), "next");
}

TEST(ReadLineTimeout, ExplicitTimeoutReturnsEmptyAndKeepsTheBytes) {
    MemoryConnection m("partial");
    m.io.endWithSilence();
    EXPECT_EQ(m.client.ReadLine("\n", 50), "");
    EXPECT_TRUE(m.client.LineTimedOut());
    EXPECT_EQ(m.client.InputBuffer().Size(), 7);
    EXPECT_TRUE(m.client.IsConnected());
    m.io.appendInput(" line\n");
    EXPECT_EQ(m.client.ReadLine("\n", 50), "partial line");
    EXPECT_FALSE(m.client.LineTimedOut());
}

TEST(ReadLineTimeout, DefaultTimeoutRaisesReadTimeout) {
    MemoryConnection m("partial");
    m.io.endWithSilence();
    m.client.SetReadTimeout(30);
    try {
        m.client.ReadLine();
        FAIL() << "no exception";
    } catch (const ENetReadTimeout& e) {
        EXPECT_STREQ(e.what(), "Read Timeout");
    }
    EXPECT_EQ(m.client.InputBuffer().Size(), 7);
    EXPECT_TRUE(m.client.IsConnected());
}

TEST(ReadLinePeerClose, UnterminatedBytesStayAndTheCloseIsReportedOnce) {
    MemoryConnection m("HTTP/1.0 200 OK\r\nX");
    EXPECT_EQ(m.client.ReadLine(), "HTTP/1.0 200 OK");
    try {
        m.client.ReadLine();
        FAIL() << "no exception";
    } catch (const ENetConnClosedGracefully& e) {
        EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(std::string(m.client.InputBuffer().Memory(), 1), "X");
    EXPECT_FALSE(m.client.IsConnected());
    EXPECT_THROW(m.client.ReadLine(), ENetConnClosedGracefully);
    EXPECT_EQ(m.log.count("Disconnected."), 1);
    EXPECT_EQ(m.log.count("OnDisconnected"), 1);
    // Peer close: the status comes before the event.
    const auto status = std::find(m.log.entries.begin(), m.log.entries.end(), "Disconnected.");
    EXPECT_EQ(*(status + 1), "OnDisconnected");
}

TEST(ReadLineReceiveFailure, ResetRaisesEvenWithBytesBuffered) {
    MemoryConnection m("no end");
    m.io.endWithError(10054);
    try {
        m.client.ReadLine();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

TEST(ReadLineReceiveFailure, AbortWithBytesBufferedCountsAsAClose) {
    MemoryConnection m("no end");
    m.io.endWithError(10053);
    EXPECT_THROW(m.client.ReadLine(), ENetConnClosedGracefully);
    EXPECT_EQ(m.client.InputBuffer().Size(), 6);

    MemoryConnection empty("");
    empty.io.endWithError(10058);
    try {
        empty.client.ReadLine();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10058);
    }
}

TEST(ReadLineFilter, AsciiFilterClearsTheTopBit) {
    MemoryConnection m("\xC1\xC2\n");
    m.client.SetASCIIFilter(true);
    EXPECT_EQ(m.client.ReadLine(), "AB");
}

TEST(ReadNonEmptyLine, SkipsBlankLinesAndTrims) {
    MemoryConnection m("\r\n \t\r\n  value \r\n");
    EXPECT_EQ(m.client.ReadNonEmptyLine(5), "value");
}
