#pragma once
// The socket stack: one shared object per process that wraps the socket
// calls, converts IPv4 addresses, resolves names and turns failed calls into
// exceptions carrying the classic socket error numbers (10061, 11001, ...).
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "http/NetSocketErrors.h"

namespace net {

using TNetSocket = int;
constexpr TNetSocket kInvalidSocket = -1;
constexpr int kSocketError = -1;

// Address family, socket types and shutdown direction as the callers pass them.
constexpr int kAddressFamilyIPv4 = 2;
constexpr int kSocketTypeStream = 1;
constexpr int kSocketTypeDatagram = 2;
constexpr int kShutdownSend = 1;

// Socket error numbers the connection layer checks by value.
namespace wsa {
constexpr int kInterrupted = 10004;
constexpr int kBadFile = 10009;
constexpr int kWouldBlock = 10035;
constexpr int kNotSocket = 10038;
constexpr int kAddressInUse = 10048;
constexpr int kConnectionAborted = 10053;
constexpr int kConnectionReset = 10054;
constexpr int kNotConnected = 10057;
constexpr int kShutdown = 10058;
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;
constexpr int kNotInitialised = 10093;
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNoRecovery = 11003;
constexpr int kNoData = 11004;
}  // namespace wsa

using TNetIPv4Bytes = std::array<std::uint8_t, 4>;

enum TNetAddressKind { akInvalid, akNumeric, akDotted };
enum TNetAddressClass { acNone, acA, acB, acC, acD, acE };

struct TNetAddressInfo {
    TNetAddressKind kind = akInvalid;
    TNetIPv4Bytes bytes{};
    TNetAddressClass addressClass = acNone;
};

class TNetStack {
public:
    TNetStack() = default;
    TNetStack(const TNetStack&) = delete;
    TNetStack& operator=(const TNetStack&) = delete;
    virtual ~TNetStack() = default;

    // ---- local addresses (not used on the fetch path)
    virtual void FillLocalAddresses(std::vector<std::string>& list) = 0;
    std::string FirstLocalAddress();
    const std::vector<std::string>& LocalAddressList();

    // ---- socket calls; results as the system gives them (-1 = failed,
    //      the code then comes from SockLastError)
    virtual TNetSocket SockAccept(TNetSocket socket, std::string& ip, int& port) = 0;
    virtual int SockBind(TNetSocket socket, int family, int port, const std::string& ip) = 0;
    virtual int SockClose(TNetSocket socket) = 0;
    virtual int SockConnect(TNetSocket socket, int family, int port, const std::string& ip) = 0;
    // A connect that gives up (-1, code 10004) soon after `cancelled` turns
    // true or the socket is shut down from another thread; otherwise like
    // SockConnect.
    virtual int SockConnectWatched(TNetSocket socket, int family, int port, const std::string& ip,
                                   const std::function<bool()>& cancelled) {
        (void)cancelled;
        return SockConnect(socket, family, port, ip);
    }
    // First IPv4 address of `host` as text; "" with SockLastError set on failure.
    virtual std::string SockHostByName(const std::string& host) = 0;
    virtual std::string SockHostName() = 0;
    virtual std::string SockHostByAddr(const std::string& ip) = 0;
    // Port of a service name; raises ENetInvalidServiceName when unknown.
    virtual int SockServiceByName(const std::string& name, const std::string& protocol) = 0;
    // Names of the service on a port ("" when none).
    virtual std::string SockServiceByPort(int port, const std::string& protocol) = 0;
    virtual std::uint16_t SockHostToNet16(std::uint16_t value) = 0;
    virtual int SockListen(TNetSocket socket, int backlog) = 0;
    virtual std::uint16_t SockNetToHost16(std::uint16_t value) = 0;
    virtual std::uint32_t SockHostToNet32(std::uint32_t value) = 0;
    virtual std::uint32_t SockNetToHost32(std::uint32_t value) = 0;
    virtual int SockRecv(TNetSocket socket, void* buffer, int length, int flags) = 0;
    virtual int SockRecvFrom(TNetSocket socket, void* buffer, int length, int flags,
                             std::string& ip, int& port) = 0;
    // Waits until a socket of `read` is readable, one of `write` writable or
    // one of `errors` has an exception; each non-null list is refilled with the
    // sockets that are ready. Timeout in ms, -2 = no limit. More than 64
    // sockets in one list raises ENetStackSetSizeExceeded.
    virtual int SockSelect(std::vector<TNetSocket>* read, std::vector<TNetSocket>* write,
                           int timeout, std::vector<TNetSocket>* errors) = 0;
    virtual int SockSend(TNetSocket socket, const void* buffer, int length, int flags) = 0;
    virtual int SockSendTo(TNetSocket socket, const void* buffer, int length, int flags,
                           const std::string& ip, int port) = 0;
    virtual int SockSetOption(TNetSocket socket, int level, int option, const void* value,
                              int length) = 0;
    virtual TNetSocket SockCreate(int family, int type, int protocol) = 0;
    virtual int SockShutdown(TNetSocket socket, int how) = 0;
    // "Socket Error # <code>" CR LF and the code's text ("" for unknown codes).
    virtual std::string SockErrorText(int code);
    virtual int SockLastError() = 0;
    virtual void SockSetLastError(int code) = 0;
    virtual void SockPeerName(TNetSocket socket, int& family, int& port, std::string& ip) = 0;
    virtual void SockLocalName(TNetSocket socket, int& family, int& port, std::string& ip) = 0;
    virtual int SockGetOption(TNetSocket socket, int level, int option, void* value,
                              int& length) = 0;
    virtual std::string AddressToText(const TNetIPv4Bytes& bytes);
    // ParseAddress, for symmetry with AddressToText.
    virtual TNetIPv4Bytes TextToAddress(const std::string& text);

    // ---- helpers
    // false when result is not -1; true when the failure's code is tolerated;
    // otherwise raises ENetSocketError.
    bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
    [[noreturn]] void RaiseSocketFailure(int code);
    // A new IPv4 socket; raises ENetInvalidSocket.
    TNetSocket NewSocket(int type, int protocol);
    // "LOCALHOST" (any case) gives "127.0.0.1" without asking the resolver;
    // an address text is returned as it is; anything else goes to the resolver.
    std::string ResolveHostAddress(const std::string& host);
    // Code of the last failed call on this thread.
    int LastError() const;

    static bool IsIPAddress(const std::string& text);
    static TNetAddressInfo ClassifyAddress(const std::string& text);
    // The 4 bytes of an address text; raises ENetInvalidIPAddress.
    static TNetIPv4Bytes ParseAddress(const std::string& text);
    // The text of a known socket error code, "" when unknown.
    static const char* ErrorCodeText(int code);

private:
    std::unique_ptr<std::vector<std::string>> localAddresses_;
};

// The shared stack. Valid while a TNetStackLease (every TNetComponent holds
// one) is alive; raises ENetStackError otherwise.
TNetStack& GStack();

// Keeps the shared stack alive: the first lease creates it, the last one
// frees it, under one process-wide lock.
class TNetStackLease {
public:
    TNetStackLease();
    ~TNetStackLease();
    TNetStackLease(const TNetStackLease&) : TNetStackLease() {}
    TNetStackLease& operator=(const TNetStackLease&) { return *this; }

    // Number of live leases (for tests and diagnostics).
    static int LiveCount();
};

}  // namespace net
