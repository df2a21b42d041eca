// The client connection over real loopback sockets: connect and close
// statuses, refused and unknown hosts, closes and resets, time-outs, write
// buffering and interrupts from another thread.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <thread>

#include "http/NetSocketErrors.h"
#include "tests/net_socket/NetTestUtil.h"
#include "tests/support/ScriptedTcpServer.h"

using namespace net;
using namespace std::chrono_literals;
using nettest::EventLog;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;
using Clock = std::chrono::steady_clock;

namespace {

struct LoopbackClient {
    TNetTCPClient client;
    EventLog log;

    explicit LoopbackClient(int port, const std::string& host = "127.0.0.1") {
        log.attach(client);
        client.SetHost(host);
        client.SetPort(port);
    }
};

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A loopback port that refuses connections: bound, never listening.
class RefusingPort {
public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_;
    int port_;
};

}  // namespace

TEST(LoopbackOpen, StatusOrderOfOpenAndClose) {
    ScriptedTcpServer server(ServerScript().waitForClose());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    EXPECT_TRUE(c.client.IsConnected());
    c.client.CloseConnection();
    EXPECT_EQ(c.log.entries,
              (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.", "OnConnected",
                                        "Disconnecting.", "OnDisconnected", "Disconnected."}));
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_EQ(c.client.IOHandler(), nullptr);  // the transport it created is gone
}

TEST(LoopbackOpen, LocalhostIsResolvedWithAStatusAndAddressFormsAreNot) {
    ScriptedTcpServer server(ServerScript().waitForClose());
    LoopbackClient byName(server.port(), "LOCALHOST");
    byName.client.OpenConnection();
    EXPECT_EQ(byName.log.entries.front(), "Resolving hostname LOCALHOST.");
    EXPECT_EQ(byName.log.entries.at(1), "Connecting to 127.0.0.1.");

    for (const char* host : {"127.1", "2130706433", "127.0.1"}) {
        LoopbackClient byAddress(server.port(), host);
        byAddress.client.OpenConnection();
        EXPECT_EQ(byAddress.log.count(std::string("Resolving hostname ") + host + "."), 0);
        EXPECT_EQ(byAddress.log.entries.front(), std::string("Connecting to ") + host + ".") << host;
        EXPECT_TRUE(byAddress.client.IsConnected()) << host;
    }
}

TEST(LoopbackOpen, DoubleOpenRaisesAlreadyConnected) {
    ScriptedTcpServer server(ServerScript().waitForClose());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    EXPECT_THROW(c.client.OpenConnection(), ENetAlreadyConnected);
    EXPECT_TRUE(c.client.IsConnected());
}

TEST(LoopbackOpen, RefusedConnectRaises10061AndLeavesTheSocketClosed) {
    RefusingPort refusing;
    LoopbackClient c(refusing.port());
    try {
        c.client.OpenConnection();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_EQ(c.log.count("OnConnected"), 0);
    ASSERT_NE(c.client.IOHandler(), nullptr);  // the transport stays, closed
}

TEST(LoopbackOpen, UnknownHostRaises11001) {
    LoopbackClient c(80, "no-such-host.invalid");
    try {
        c.client.OpenConnection();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 11001);
        EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_EQ(c.log.entries.front(), "Resolving hostname no-such-host.invalid.");
    EXPECT_FALSE(c.client.IsConnected());
}

TEST(LoopbackOpen, TimedConnectToASilentHostGivesUp) {
    testsupport::UnansweredListener silent;
    LoopbackClient c(silent.port());
    const auto start = Clock::now();
    try {
        c.client.OpenConnection(200);
        FAIL() << "no exception";
    } catch (const ENetConnectTimeout& e) {
        EXPECT_STREQ(e.what(), "Connect timed out.");
    }
    EXPECT_GE(msSince(start), 180);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_EQ(c.log.count("OnConnected"), 0);
}

TEST(LoopbackOpen, TimedConnectThatSucceedsOrIsRefused) {
    ScriptedTcpServer server(ServerScript().send("hi\n").waitForClose());
    LoopbackClient c(server.port());
    c.client.OpenConnection(2000);
    EXPECT_EQ(c.client.ReadLine(), "hi");

    RefusingPort refusing;
    LoopbackClient r(refusing.port());
    try {
        r.client.OpenConnection(2000);
        FAIL() << "no exception";
    } catch (const ENetConnectException& e) {
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
}

TEST(LoopbackRead, PeerCloseWithUnreadBytes) {
    ScriptedTcpServer server(ServerScript().send("HTTP/1.0 200 OK\r\nX").close());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    EXPECT_EQ(c.client.ReadLine(), "HTTP/1.0 200 OK");
    EXPECT_THROW(c.client.ReadLine(), ENetConnClosedGracefully);
    EXPECT_EQ(std::string(c.client.InputBuffer().Memory(), 1), "X");
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_EQ(c.log.count("Disconnected."), 1);
    EXPECT_EQ(c.log.count("OnDisconnected"), 1);
    c.client.CloseConnection();  // already closed: no second report
    EXPECT_EQ(c.log.count("OnDisconnected"), 1);
}

TEST(LoopbackRead, ResetRaises10054WhereACloseIsGraceful) {
    // Each server starts only when the client speaks, after its connect.
    ScriptedTcpServer reset(ServerScript().expect("go").send("line\r\npartial").pause(100ms).reset());
    LoopbackClient r(reset.port());
    r.client.OpenConnection();
    r.client.WriteText("go");
    EXPECT_EQ(r.client.ReadLine(), "line");
    try {
        r.client.ReadLine();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
    }

    ScriptedTcpServer closed(ServerScript().expect("go").send("line\r\npartial").pause(100ms).close());
    LoopbackClient c(closed.port());
    c.client.OpenConnection();
    c.client.WriteText("go");
    EXPECT_EQ(c.client.ReadLine(), "line");
    EXPECT_THROW(c.client.ReadLine(), ENetConnClosedGracefully);
}

TEST(LoopbackRead, ShortBodyStaysBufferedAndUntilCloseTakesAll) {
    const std::string sixty(60, 's');
    ScriptedTcpServer server(ServerScript().send(sixty).close());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    TNetMemoryStream s;
    EXPECT_THROW(c.client.ReadIntoStream(s, 100, false), ENetConnClosedGracefully);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(c.client.InputBuffer().Size(), 60);

    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    ScriptedTcpServer bulk(ServerScript().send(big).close());
    LoopbackClient b(bulk.port());
    b.client.OpenConnection();
    TNetMemoryStream all;
    EXPECT_NO_THROW(b.client.ReadIntoStream(all, -1, true));
    EXPECT_EQ(all.View(), big);
}

TEST(LoopbackRead, CountedBodyInPiecesWithPauses) {
    std::string body(100000, 'b');
    ServerScript script;
    script.send("HEAD\n" + body.substr(0, 30000)).pause(50ms).send(body.substr(30000) + "tail\n");
    script.waitForClose();
    ScriptedTcpServer server(script);
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    EXPECT_EQ(c.client.ReadLine(), "HEAD");
    TNetMemoryStream s;
    c.client.ReadIntoStream(s, 100000, false);
    EXPECT_EQ(s.View(), body);
    EXPECT_EQ(c.client.ReadLine(), "tail");
}

TEST(LoopbackTimeout, ReadTimeoutRaisesAfterTheWaitAndKeepsTheConnection) {
    ScriptedTcpServer server(ServerScript().send("part").hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    c.client.SetReadTimeout(150);
    const auto start = Clock::now();
    EXPECT_THROW(c.client.ReadLine(), ENetReadTimeout);
    EXPECT_GE(msSince(start), 140);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_TRUE(c.client.IsConnected());
    EXPECT_EQ(c.client.InputBuffer().Size(), 4);

    // An explicit wait returns an empty line instead.
    EXPECT_EQ(c.client.ReadLine("\n", 50), "");
    EXPECT_TRUE(c.client.LineTimedOut());
}

TEST(LoopbackTimeout, NoReadTimeoutWaitsUntilThePeerActs) {
    ScriptedTcpServer server(ServerScript().hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    ASSERT_EQ(c.client.ReadTimeout(), 0);
    auto reading = std::async(std::launch::async, [&] { return c.client.ReadLine(); });
    EXPECT_EQ(reading.wait_for(300ms), std::future_status::timeout);
    server.stop();  // closes the connection
    ASSERT_EQ(reading.wait_for(5s), std::future_status::ready);
    EXPECT_THROW(reading.get(), ENetConnClosedGracefully);
}

TEST(LoopbackWrite, BufferedWritesReachThePeerOnlyAtTheEnd) {
    ScriptedTcpServer server(ServerScript().expectUntil("\r\n\r\n").send("ok\n").waitForClose());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    c.client.BeginWriteBuffering();
    c.client.WriteLine("GET / HTTP/1.1");
    c.client.WriteLine("Host: 127.0.0.1");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.received(), "");
    c.client.WriteLine("");
    c.client.EndWriteBuffering();
    EXPECT_EQ(c.client.ReadLine(), "ok");
    EXPECT_EQ(server.received(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_TRUE(server.failures().empty());
}

TEST(LoopbackWrite, WriteToAResetPeerRaisesASocketError) {
    // The reset comes only after the client's first byte, so the connect itself
    // always succeeds.
    ScriptedTcpServer server(ServerScript().expect("x").reset());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    c.client.WriteText("x");
    ASSERT_TRUE(server.waitUntilDone(5s));
    const std::string block(65536, 'w');
    // The first send may still be accepted locally; the reset shows up soon.
    auto writeAll = [&] {
        for (int i = 0; i < 100; ++i) c.client.WriteText(block);
    };
    EXPECT_THROW(writeAll(), ENetException);
    EXPECT_FALSE(c.client.IsConnected());
}

// ---- interrupts from another thread

class LoopbackInterrupt : public testing::Test {
protected:
    // Runs `blocked` on a thread, interrupts after 200 ms, and checks that the
    // call ends within a second with ENetInterrupted.
    template <class Call>
    void expectInterrupted(TNetTCPClient& client, Call blocked) {
        auto running = std::async(std::launch::async, blocked);
        ASSERT_EQ(running.wait_for(200ms), std::future_status::timeout) << "did not block";
        const auto start = Clock::now();
        client.Interrupt();
        ASSERT_EQ(running.wait_for(1s), std::future_status::ready) << "still blocked";
        EXPECT_LT(msSince(start), 1000);
        EXPECT_THROW(running.get(), ENetInterrupted);
        EXPECT_FALSE(client.IsConnected());
    }

    // The same client works afterwards.
    void expectUsableAgain(TNetTCPClient& client) {
        ScriptedTcpServer fresh(ServerScript().send("again\n").waitForClose());
        client.SetPort(fresh.port());
        client.OpenConnection();
        EXPECT_EQ(client.ReadLine(), "again");
        client.CloseConnection();
    }
};

TEST_F(LoopbackInterrupt, BlockedReadReturnsPromptly) {
    ScriptedTcpServer server(ServerScript().hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    expectInterrupted(c.client, [&] { return c.client.ReadLine(); });
    expectUsableAgain(c.client);
}

TEST_F(LoopbackInterrupt, BlockedBodyReadReturnsPromptly) {
    ScriptedTcpServer server(ServerScript().send(std::string(1000, 'x')).hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    TNetMemoryStream s;
    expectInterrupted(c.client, [&] { c.client.ReadIntoStream(s, 100000, false); });
    expectUsableAgain(c.client);
}

TEST_F(LoopbackInterrupt, BlockedConnectReturnsPromptly) {
    testsupport::UnansweredListener silent;
    LoopbackClient c(silent.port());
    expectInterrupted(c.client, [&] { c.client.OpenConnection(); });
    expectUsableAgain(c.client);
}

TEST_F(LoopbackInterrupt, BlockedTimedConnectReturnsPromptly) {
    testsupport::UnansweredListener silent;
    LoopbackClient c(silent.port());
    expectInterrupted(c.client, [&] { c.client.OpenConnection(10000); });
    expectUsableAgain(c.client);
}

TEST_F(LoopbackInterrupt, BlockedWriteReturnsPromptly) {
    ScriptedTcpServer server(ServerScript().stall());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    const std::string block(1 << 20, 'w');
    expectInterrupted(c.client, [&] {
        for (int i = 0; i < 256; ++i) c.client.WriteText(block);
    });
    expectUsableAgain(c.client);
}

TEST_F(LoopbackInterrupt, InterruptOfAnIdleConnectionIsSeenAsAClose) {
    ScriptedTcpServer server(ServerScript().hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    c.client.Interrupt();
    EXPECT_NO_THROW(c.client.PollPeerClosed(false));
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_EQ(c.log.count("OnDisconnected"), 1);
    expectUsableAgain(c.client);
}

TEST_F(LoopbackInterrupt, InterruptDuringTheConnectSetupStopsIt) {
    ScriptedTcpServer server(ServerScript().waitForClose());
    LoopbackClient c(server.port());
    // Interrupts before the connect call is made (from its status).
    c.client.OnStatus = [&](TNetBaseComponent*, TNetStatus status, const std::string&) {
        if (status == hsConnecting) c.client.Interrupt();
    };
    EXPECT_THROW(c.client.OpenConnection(), ENetInterrupted);
    EXPECT_FALSE(c.client.IsConnected());
    c.client.OnStatus = nullptr;
    c.client.CloseConnection();  // the transport kept a copy of the handler
    expectUsableAgain(c.client);
}

TEST(LoopbackRead, ConnectAndGetAllReadsUntilTheCloseAndCloses) {
    ScriptedTcpServer server(ServerScript().send("one\r\n").pause(30ms).send("two").close());
    LoopbackClient c(server.port());
    EXPECT_EQ(c.client.ConnectAndGetAll(), "one\r\ntwo");
    EXPECT_FALSE(c.client.IsConnected());
}

namespace {

class CountingAntiFreeze : public TNetAntiFreezeBase {
public:
    void Process() override { ++turns; }
    int turns = 0;
};

}  // namespace

TEST(LoopbackAntiFreeze, WaitsOnTheMainThreadGiveTheUserInterfaceTurns) {
    TNetAntiFreezeBase::SetMainThread();
    ScriptedTcpServer server(ServerScript().hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    CountingAntiFreeze antiFreeze;
    antiFreeze.IdleTimeOut = 20;
    c.client.SetReadTimeout(200);
    EXPECT_THROW(c.client.ReadLine(), ENetReadTimeout);
    EXPECT_GE(antiFreeze.turns, 3);

    // Another thread's waits do not.
    const int before = antiFreeze.turns;
    std::async(std::launch::async, [&] { EXPECT_THROW(c.client.ReadLine(), ENetReadTimeout); })
        .wait();
    EXPECT_EQ(antiFreeze.turns, before);
}

TEST_F(LoopbackInterrupt, InterruptedConnectionReportsClosedAndFurtherCallsRaise) {
    ScriptedTcpServer server(ServerScript().hold());
    LoopbackClient c(server.port());
    c.client.OpenConnection();
    c.client.Interrupt();
    EXPECT_FALSE(c.client.IsConnected());
    EXPECT_THROW(c.client.WriteLine("x"), ENetInterrupted);
    EXPECT_THROW(c.client.ReadLine(), ENetInterrupted);
    EXPECT_EQ(c.log.count("OnDisconnected"), 1);
    c.client.CloseConnection();  // nothing more to report
    EXPECT_EQ(c.log.count("OnDisconnected"), 1);
    expectUsableAgain(c.client);
}
