// ReadIntoStream, ReadExact, write buffering and stream writes over the
// in-memory transport.
#include <gtest/gtest.h>

#include <cctype>

#include "http/NetSocketErrors.h"
#include "tests/net_socket/NetTestUtil.h"

using namespace net;
using nettest::MemoryConnection;

namespace {

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

}  // namespace

TEST(ReadIntoStream, ShortBodyWritesNothingAndKeepsTheBytesBuffered) {
    MemoryConnection m(pattern(60));
    TNetMemoryStream s(std::string("prefix"));
    s.SetPosition(6);
    EXPECT_THROW(m.client.ReadIntoStream(s, 100, false), ENetConnClosedGracefully);
    EXPECT_EQ(s.Position(), 6);
    EXPECT_EQ(s.View(), "prefix");
    EXPECT_EQ(m.client.InputBuffer().Size(), 60);
    EXPECT_EQ(m.log.count("Disconnected."), 1);
}

TEST(ReadIntoStream, BytesAlreadyBufferedReachTheStreamEvenWhenShort) {
    MemoryConnection m("HEAD\nabcdefghij");
    EXPECT_EQ(m.client.ReadLine(), "HEAD");
    ASSERT_EQ(m.client.InputBuffer().Size(), 10);
    TNetMemoryStream s;
    EXPECT_THROW(m.client.ReadIntoStream(s, 100, false), ENetConnClosedGracefully);
    EXPECT_EQ(s.View(), "abcdefghij");
}

TEST(ReadIntoStream, CompletePiecesBeforeACloseAreKept) {
    // 32768-byte pieces: two whole pieces arrive, the third is cut short.
    const std::string body = pattern(2 * 32768 + 100);
    MemoryConnection m(body, {5000});
    TNetMemoryStream s;
    EXPECT_THROW(m.client.ReadIntoStream(s, 3 * 32768, false), ENetConnClosedGracefully);
    EXPECT_EQ(s.View(), body.substr(0, 2 * 32768));
    EXPECT_EQ(m.client.InputBuffer().Size(), 100);
}

TEST(ReadIntoStream, CountedReadStopsAtTheCountAndLeavesTheRest) {
    MemoryConnection m("helloREST\n", {3});
    TNetMemoryStream s;
    m.client.ReadIntoStream(s, 5, false);
    EXPECT_EQ(s.View(), "hello");
    EXPECT_EQ(m.client.ReadLine(), "REST");
}

TEST(ReadIntoStream, UntilClosedTakesEverythingWithoutRaising) {
    const std::string body = pattern(200000);
    MemoryConnection m("x" + body, {7000});
    EXPECT_EQ(m.client.ReadLine("x"), "");
    TNetMemoryStream s;
    EXPECT_NO_THROW(m.client.ReadIntoStream(s, -1, true));
    EXPECT_EQ(s.View(), body);
    EXPECT_FALSE(m.client.IsConnected());
}

TEST(ReadIntoStream, CountPrefixInNetworkOrder) {
    MemoryConnection m(std::string("\0\0\0\3abc\0\0\0\x2A", 11));
    TNetMemoryStream s;
    m.client.ReadIntoStream(s);
    EXPECT_EQ(s.View(), "abc");
    EXPECT_EQ(m.client.ReadInt32(), 42);
}

TEST(ReadIntoStream, WorkEventsCountTheBytesOnce) {
    MemoryConnection m(pattern(70000), {9000});
    std::vector<std::string> events;
    m.client.OnWorkBegin = [&](TNetBaseComponent*, TWorkMode mode, std::int64_t size) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(size));
    };
    std::int64_t last = 0;
    m.client.OnWork = [&](TNetBaseComponent*, TWorkMode, std::int64_t total) { last = total; };
    m.client.OnWorkEnd = [&](TNetBaseComponent*, TWorkMode mode) {
        events.push_back("end " + std::to_string(mode));
    };
    TNetMemoryStream s;
    m.client.ReadIntoStream(s, 70000, false);
    EXPECT_EQ(events, (std::vector<std::string>{"begin 0 70000", "end 0"}));
    EXPECT_EQ(last, 70000);
}

TEST(ReadIntoStream, FilteredConnectionTakesTheBufferedPath) {
    MemoryConnection m(std::string("\xE8\xE9", 2) + pattern(40000), {3000});
    m.client.SetASCIIFilter(true);
    TNetMemoryStream s;
    m.client.ReadIntoStream(s, 40002, false);
    EXPECT_EQ(s.View(), "hi" + pattern(40000));
}

TEST(ReadExact, BlocksUntilTheCountAndRaisesOnAnEarlyClose) {
    MemoryConnection m("abcdef", {1});
    char out[4] = {};
    m.client.ReadExact(out, 4);
    EXPECT_EQ(std::string(out, 4), "abcd");
    EXPECT_THROW(m.client.ReadExact(out, 4), ENetConnClosedGracefully);
    EXPECT_EQ(m.client.InputBuffer().Size(), 2);
}

TEST(ReadUntilClosed, ReturnsEverythingUpToTheClose) {
    MemoryConnection m(pattern(100000), {30000});
    EXPECT_EQ(m.client.ReadUntilClosed(), pattern(100000));
}

TEST(WriteBuffering, NothingIsSentBeforeTheEnd) {
    MemoryConnection m("");
    m.client.BeginWriteBuffering();
    m.client.WriteLine("GET / HTTP/1.1");
    m.client.WriteLine("Host: a");
    m.client.WriteLine("");
    EXPECT_EQ(m.io.written(), "");
    m.client.EndWriteBuffering();
    EXPECT_EQ(m.io.written(), "GET / HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_FALSE(m.client.WriteBufferingActive());
}

TEST(WriteBuffering, CancelDropsWhatWasCollectedAndEndsBuffering) {
    MemoryConnection m("");
    m.client.BeginWriteBuffering();
    m.client.WriteLine("GET /half");
    m.client.CancelWriteBuffering();
    EXPECT_FALSE(m.client.WriteBufferingActive());
    m.client.WriteLine("GET / HTTP/1.1");
    EXPECT_EQ(m.io.written(), "GET / HTTP/1.1\r\n");
    // A new buffer starts empty.
    m.client.BeginWriteBuffering();
    m.client.WriteText("x");
    m.client.EndWriteBuffering();
    EXPECT_EQ(m.io.written(), "GET / HTTP/1.1\r\nx");
}

TEST(WriteBuffering, ThresholdFlushesWholeThresholds) {
    MemoryConnection m("");
    m.client.BeginWriteBuffering(10);
    m.client.WriteText("123456");
    EXPECT_EQ(m.io.written(), "");
    m.client.WriteText("789abc");
    EXPECT_EQ(m.io.written(), "123456789a");
    m.client.EndWriteBuffering();
    EXPECT_EQ(m.io.written(), "123456789abc");
}

TEST(WriteBuffering, FailedEndDiscardsTheBufferAndDropsTheSocket) {
    MemoryConnection m("");
    m.client.BeginWriteBuffering();
    m.client.WriteText("lost");
    m.io.failSendsWith(10054);
    try {
        m.client.EndWriteBuffering();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
    }
    EXPECT_FALSE(m.client.WriteBufferingActive());
    EXPECT_FALSE(m.client.IsConnected());
    try {
        m.client.WriteText("more");
        FAIL() << "no exception";
    } catch (const ENetConnClosedGracefully&) {
    }
}

TEST(WriteBytes, NotConnectedRaises) {
    TNetTCPClient client;  // no transport yet
    try {
        client.WriteText("x");
        FAIL() << "no exception";
    } catch (const ENetNotConnected& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
}

TEST(WriteFromStream, SendsFromStartOrPositionWithOptionalCount) {
    MemoryConnection m("");
    TNetMemoryStream s(pattern(100000));
    m.client.SetSendBufferSize(4096);
    m.client.WriteFromStream(s);
    EXPECT_EQ(m.io.written(), pattern(100000));

    m.io.clearWritten();
    TNetMemoryStream small(std::string("abcdef"));
    small.SetPosition(2);
    m.client.WriteFromStream(small, false, 3, true);
    EXPECT_EQ(m.io.written(), std::string("\0\0\0\3cde", 7));
}

TEST(WriteFromStream, StreamEndingEarlyRaises) {
    MemoryConnection m("");
    TNetMemoryStream s(std::string("abc"));
    try {
        m.client.WriteFromStream(s, true, 10);
        FAIL() << "no exception";
    } catch (const ENetNoDataToRead& e) {
        EXPECT_STREQ(e.what(), "No data to read.");
    }
    EXPECT_EQ(m.io.written(), "abc");
}

TEST(ConnectionState, DoubleOpenRaisesAndCloseWhenClosedFiresNothing) {
    MemoryConnection m("");
    try {
        m.client.OpenConnection();
        FAIL() << "no exception";
    } catch (const ENetAlreadyConnected& e) {
        EXPECT_STREQ(e.what(), "Already connected.");
    }
    m.client.CloseConnection();
    EXPECT_EQ(m.log.count("OnDisconnected"), 1);
    m.client.CloseConnection();
    EXPECT_EQ(m.log.count("OnDisconnected"), 1);
    EXPECT_EQ(m.log.count("Disconnected."), 1);
}

TEST(ConnectionState, ReopenClearsTheInputBuffer) {
    MemoryConnection m("line\nrest");
    EXPECT_EQ(m.client.ReadLine(), "line");
    EXPECT_THROW(m.client.ReadLine(), ENetConnClosedGracefully);
    EXPECT_EQ(m.client.InputBuffer().Size(), 4);
    m.io.setInput("fresh\n");
    m.client.OpenConnection();
    EXPECT_EQ(m.client.ReadLine(), "fresh");
}

namespace {

// Upper-cases what arrives and wraps what leaves in brackets.
class ShoutingIntercept : public TNetConnectionIntercept {
public:
    ShoutingIntercept() {
        OnReceive = [](TNetBaseComponent*, TNetStream& s) {
            std::string bytes(static_cast<std::size_t>(s.Size()), '\0');
            s.Read(bytes.data(), s.Size());
            for (char& c : bytes) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            s.SetPosition(0);
            s.Write(bytes);
        };
        OnSend = [](TNetBaseComponent*, TNetStream& s) {
            std::string bytes(static_cast<std::size_t>(s.Size()), '\0');
            s.Read(bytes.data(), s.Size());
            s.SetPosition(0);
            s.Write("[" + bytes + "]");
        };
        OnConnect = [this](TNetBaseComponent*) { ++connects; };
        OnDisconnect = [this](TNetBaseComponent*) { ++disconnects; };
    }
    int connects = 0;
    int disconnects = 0;
};

}  // namespace

TEST(Intercept, SeesEveryByteBothWaysAndIsForgottenWhenDestroyed) {
    TNetTCPClient client;
    testsupport::MemoryIOHandler io("hello\nworld", {3});
    client.SetIOHandler(&io);
    {
        ShoutingIntercept intercept;
        client.SetIntercept(&intercept);
        client.OpenConnection();
        EXPECT_EQ(intercept.connects, 1);
        EXPECT_EQ(client.ReadLine(), "HELLO");
        client.WriteText("ab");
        EXPECT_EQ(io.written(), "[ab]");
        TNetMemoryStream s;
        client.ReadIntoStream(s, 5, false);  // through the input buffer, not around it
        EXPECT_EQ(s.View(), "WORLD");
        client.CloseConnection();
        EXPECT_GE(intercept.disconnects, 1);
    }
    EXPECT_EQ(client.Intercept(), nullptr);
}
