// Socket stack: error texts, address forms, name resolution, select limits,
// bind ranges and the shared stack's lifetime.
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "http/NetComponent.h"
#include "http/NetSocketHandle.h"
#include "http/NetStackPosix.h"
#include "tests/support/ScriptedTcpServer.h"

using namespace net;

namespace {

// Counts the questions that reach the resolver.
class CountingStack : public TNetStackPosix {
public:
    std::string SockHostByName(const std::string& host) override {
        ++resolverCalls;
        return TNetStackPosix::SockHostByName(host);
    }
    int resolverCalls = 0;
};

std::string socketErrorMessage(int code) { return TNetStackPosix().SockErrorText(code); }

}  // namespace

TEST(NetStackErrorText, KnownCodesGiveTheirLineAfterCrLf) {
    EXPECT_EQ(socketErrorMessage(10054), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(socketErrorMessage(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(socketErrorMessage(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(socketErrorMessage(10035), "Socket Error # 10035\r\nOperation would block. ");
    EXPECT_EQ(socketErrorMessage(10066), "Socket Error # 10066\r\nDirectory not empty");
}

TEST(NetStackErrorText, UnknownCodeLeavesTheSecondLineEmpty) {
    EXPECT_EQ(socketErrorMessage(99999), "Socket Error # 99999\r\n");
}

TEST(NetStackErrorText, SystemErrorsMapToClassicNumbers) {
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(ECONNREFUSED), 10061);
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(ECONNRESET), 10054);
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(ETIMEDOUT), 10060);
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(ECONNABORTED), 10053);
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(EPIPE), 10058);
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(EADDRINUSE), 10048);
    EXPECT_EQ(TNetStackPosix::ErrnoToSocketError(EHOSTUNREACH), 10065);
    EXPECT_EQ(TNetStackPosix::ResolverErrorToSocketError(EAI_NONAME, 0), 11001);
}

TEST(NetStackErrorText, CheckSocketResultRaisesUnlessTolerated) {
    TNetStackPosix stack;
    EXPECT_FALSE(stack.CheckSocketResult(0));
    stack.SockSetLastError(10053);
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10058, 10053}));
    EXPECT_EQ(stack.LastError(), 10053);
    stack.SockSetLastError(10061);
    try {
        stack.CheckSocketResult(-1, {10053});
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
}

struct AddressCase {
    const char* text;
    TNetAddressKind kind;
    TNetIPv4Bytes bytes;
    TNetAddressClass addressClass;
};

class ClassifyAddressTest : public testing::TestWithParam<AddressCase> {};

TEST_P(ClassifyAddressTest, GivesKindBytesAndClass) {
    const AddressCase& c = GetParam();
    const TNetAddressInfo info = TNetStack::ClassifyAddress(c.text);
    EXPECT_EQ(info.kind, c.kind) << c.text;
    if (c.kind != akInvalid) {
        EXPECT_EQ(info.bytes, c.bytes) << c.text;
        EXPECT_EQ(info.addressClass, c.addressClass) << c.text;
    }
    EXPECT_EQ(TNetStack::IsIPAddress(c.text), c.kind != akInvalid) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ClassifyAddressTest,
    testing::Values(AddressCase{"10.1.2.3", akDotted, {10, 1, 2, 3}, acA},
                    AddressCase{"130.1.2.3", akDotted, {130, 1, 2, 3}, acB},
                    AddressCase{"200.1.2.3", akDotted, {200, 1, 2, 3}, acC},
                    AddressCase{"230.1.2.3", akDotted, {230, 1, 2, 3}, acD},
                    AddressCase{"250.1.2.3", akDotted, {250, 1, 2, 3}, acE},
                    AddressCase{"10.258", akDotted, {10, 0, 1, 2}, acA},
                    AddressCase{"192.168.257", akDotted, {192, 168, 1, 1}, acB},
                    AddressCase{"3232235777", akNumeric, {192, 168, 1, 1}, acNone},
                    AddressCase{"4294967295", akNumeric, {255, 255, 255, 255}, acNone},
                    AddressCase{"1.", akNumeric, {0, 0, 0, 1}, acNone},
                    AddressCase{"1..2", akNumeric, {0, 0, 0, 1}, acNone},
                    AddressCase{"1.2..4", akDotted, {1, 0, 0, 2}, acA},
                    AddressCase{"127.0.0.1", akDotted, {127, 0, 0, 1}, acA},
                    // Leading zeros make long texts whose values still fit.
                    AddressCase{"000000000010.1.2.3", akDotted, {10, 1, 2, 3}, acA},
                    AddressCase{"000000004294967295", akNumeric, {255, 255, 255, 255}, acNone},
                    AddressCase{"000000004294967296", akInvalid, {}, acNone},
                    AddressCase{"99999999999999999999999", akInvalid, {}, acNone},
                    AddressCase{"1.2.3.256", akInvalid, {}, acNone},
                    AddressCase{"1.2.3.4.5", akInvalid, {}, acNone},
                    AddressCase{"4294967296", akInvalid, {}, acNone},
                    AddressCase{"256.1", akInvalid, {}, acNone},
                    AddressCase{"1.16777216", akInvalid, {}, acNone},
                    AddressCase{"1.2.65536", akInvalid, {}, acNone},
                    AddressCase{"example.com", akInvalid, {}, acNone},
                    AddressCase{"1.2.3.x", akInvalid, {}, acNone},
                    AddressCase{"-1.2.3.4", akInvalid, {}, acNone},
                    AddressCase{"", akInvalid, {}, acNone},
                    AddressCase{"$7F.0.0.1", akInvalid, {}, acNone}));

TEST(NetStackAddress, ParseAddressRaisesWithTheText) {
    try {
        TNetStack::ParseAddress("1.2.3.256");
        FAIL() << "no exception";
    } catch (const ENetInvalidIPAddress& e) {
        EXPECT_STREQ(e.what(), "1.2.3.256 is not a valid IP address.");
    }
    TNetStackPosix stack;
    EXPECT_EQ(stack.AddressToText(TNetStack::ParseAddress("10.258")), "10.0.1.2");
}

TEST(NetStackResolve, LocalhostInAnyCaseNeedsNoResolver) {
    CountingStack stack;
    EXPECT_EQ(stack.ResolveHostAddress("LOCALHOST"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveHostAddress("localhost"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveHostAddress("LocalHost"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveHostAddress("127.1"), "127.1");
    EXPECT_EQ(stack.resolverCalls, 0);
}

TEST(NetStackResolve, NamesThatAreNotAddressesGoToTheResolver) {
    CountingStack stack;
    EXPECT_THROW(stack.ResolveHostAddress("1.2.3.256.invalid"), ENetSocketError);
    EXPECT_EQ(stack.resolverCalls, 1);
}

TEST(NetStackResolve, ReservedInvalidNameIsHostNotFound) {
    TNetStackPosix stack;
    try {
        stack.ResolveHostAddress("no-such-host.invalid");
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 11001);
        EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_TRUE(TNetStackPosix::IsReservedInvalidName("A.B.INVALID."));
    EXPECT_FALSE(TNetStackPosix::IsReservedInvalidName("notinvalid"));
}

class NetStackSelect : public testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 65; ++i) sockets.push_back(stack().NewSocket(kSocketTypeStream, 0));
    }
    void TearDown() override {
        for (TNetSocket s : sockets) stack().SockClose(s);
    }
    TNetStack& stack() { return GStack(); }

    TNetStackLease lease;
    std::vector<TNetSocket> sockets;
};

TEST_F(NetStackSelect, SixtyFiveSocketsInOneListExceedTheSet) {
    std::vector<TNetSocket> read = sockets;
    try {
        stack().SockSelect(&read, nullptr, 0, nullptr);
        FAIL() << "no exception";
    } catch (const ENetStackSetSizeExceeded& e) {
        EXPECT_STREQ(e.what(), "Set Size Exceeded.");
    }
    std::vector<TNetSocket> write = sockets;
    EXPECT_THROW(stack().SockSelect(nullptr, &write, 0, nullptr), ENetStackSetSizeExceeded);
}

TEST_F(NetStackSelect, SixtyFourSocketsAreAccepted) {
    std::vector<TNetSocket> read(sockets.begin(), sockets.begin() + 64);
    // Unconnected stream sockets report a hang-up at once, so every one is ready.
    EXPECT_EQ(stack().SockSelect(&read, nullptr, 0, nullptr), 64);
    EXPECT_EQ(read.size(), 64u);
}

TEST(NetStackSelectWait, SilentSocketIsNotReadableAndLeavesTheList) {
    TNetStackLease lease;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::vector<TNetSocket> read{pair[0]};
    EXPECT_EQ(GStack().SockSelect(&read, nullptr, 20, nullptr), 0);
    EXPECT_TRUE(read.empty());
    ASSERT_EQ(::write(pair[1], "x", 1), 1);
    read = {pair[0]};
    EXPECT_EQ(GStack().SockSelect(&read, nullptr, -2, nullptr), 1);
    EXPECT_EQ(read, std::vector<TNetSocket>{pair[0]});
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST(NetSocketHandleBind, InvalidPortRangeNamesBothEnds) {
    TNetStackLease lease;
    TNetSocketHandle handle;
    handle.AllocateHandle();
    handle.SetClientPortMin(5000);
    handle.SetClientPortMax(4999);
    try {
        handle.BindLocal();
        FAIL() << "no exception";
    } catch (const ENetInvalidPortRange& e) {
        EXPECT_STREQ(e.what(), "Invalid Port Range (5000 - 4999)");
    }
}

TEST(NetSocketHandleBind, RangeBindsTheHighestFreePortAndReportsAFullRange) {
    TNetStackLease lease;
    // Find a free port, then occupy it so that the range below has none left.
    TNetSocketHandle probe;
    probe.AllocateHandle();
    probe.SetIP("127.0.0.1");
    probe.BindLocal();
    const int port = probe.Port();
    ASSERT_GT(port, 0);
    probe.ReleaseHandle();

    TNetSocketHandle first;
    first.AllocateHandle();
    first.SetIP("127.0.0.1");
    first.SetClientPortMin(port);
    first.SetClientPortMax(port);
    first.BindLocal();
    EXPECT_EQ(first.Port(), port);
    ASSERT_EQ(GStack().SockListen(first.Handle(), 1), 0);  // a listener keeps the port busy

    TNetSocketHandle second;
    second.AllocateHandle();
    second.SetIP("127.0.0.1");
    second.SetClientPortMin(port);
    second.SetClientPortMax(port);
    try {
        second.BindLocal();
        FAIL() << "no exception";
    } catch (const ENetCanNotBindPortInRange& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Can not bind in port range (" + std::to_string(port) + " - " +
                      std::to_string(port) + ")");
    }

    TNetSocketHandle fixed;
    fixed.AllocateHandle();
    fixed.SetIP("127.0.0.1");
    fixed.SetPort(port);
    try {
        fixed.BindLocal();
        FAIL() << "no exception";
    } catch (const ENetCouldNotBindSocket& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
}

TEST(NetSocketHandleConnect, NoPeerAddressIsInvalidNotThisHost) {
    TNetStackLease lease;
    TNetSocketHandle handle;
    handle.AllocateHandle();
    // Without a peer the connect must not go to 0.0.0.0 (which reaches this host).
    try {
        handle.ConnectPeer();
        FAIL() << "no exception";
    } catch (const ENetInvalidIPAddress& e) {
        EXPECT_STREQ(e.what(), " is not a valid IP address.");
    }
}

TEST(NetSocketHandleConnect, PortBeyondSixteenBitsFailsInsteadOfWrapping) {
    TNetStackLease lease;
    testsupport::ScriptedTcpServer server(testsupport::ServerScript().hold());
    TNetSocketHandle handle;
    handle.AllocateHandle();
    handle.SetPeerAddress("127.0.0.1", server.port() + 65536);
    EXPECT_EQ(handle.ConnectPeer(), kSocketError);
    EXPECT_EQ(GStack().SockLastError(), 10022);
    EXPECT_EQ(server.connectionCount(), 0u);

    TNetSocketHandle bound;
    bound.AllocateHandle();
    bound.SetIP("127.0.0.1");
    bound.SetPort(-1);
    try {
        bound.BindLocal();
        FAIL() << "no exception";
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10022);
    }
    server.stop();
}

TEST(NetStackLifetime, SharedStackLivesWhileAComponentLives) {
    const int before = TNetStackLease::LiveCount();
    {
        TNetComponent a;
        TNetComponent b;
        EXPECT_EQ(TNetStackLease::LiveCount(), before + 2);
        EXPECT_NO_THROW(GStack());
    }
    EXPECT_EQ(TNetStackLease::LiveCount(), before);
    if (before == 0) {
        EXPECT_THROW(GStack(), ENetStackError);
    }
}
