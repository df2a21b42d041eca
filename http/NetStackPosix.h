#pragma once
// The socket stack over POSIX sockets (IPv4 only). errno and resolver
// failures are reported with the classic socket error numbers.
#include <string>

#include <sys/socket.h>

#include "http/NetStack.h"

namespace net {

class TNetStackPosix : public TNetStack {
public:
    TNetStackPosix();

    void FillLocalAddresses(std::vector<std::string>& list) override;
    TNetSocket SockAccept(TNetSocket socket, std::string& ip, int& port) override;
    int SockBind(TNetSocket socket, int family, int port, const std::string& ip) override;
    int SockClose(TNetSocket socket) override;
    int SockConnect(TNetSocket socket, int family, int port, const std::string& ip) override;
    int SockConnectWatched(TNetSocket socket, int family, int port, const std::string& ip,
                           const std::function<bool()>& cancelled) override;
    std::string SockHostByName(const std::string& host) override;
    std::string SockHostName() override;
    std::string SockHostByAddr(const std::string& ip) override;
    int SockServiceByName(const std::string& name, const std::string& protocol) override;
    std::string SockServiceByPort(int port, const std::string& protocol) override;
    std::uint16_t SockHostToNet16(std::uint16_t value) override;
    int SockListen(TNetSocket socket, int backlog) override;
    std::uint16_t SockNetToHost16(std::uint16_t value) override;
    std::uint32_t SockHostToNet32(std::uint32_t value) override;
    std::uint32_t SockNetToHost32(std::uint32_t value) override;
    int SockRecv(TNetSocket socket, void* buffer, int length, int flags) override;
    int SockRecvFrom(TNetSocket socket, void* buffer, int length, int flags, std::string& ip,
                     int& port) override;
    int SockSelect(std::vector<TNetSocket>* read, std::vector<TNetSocket>* write, int timeout,
                   std::vector<TNetSocket>* errors) override;
    int SockSend(TNetSocket socket, const void* buffer, int length, int flags) override;
    int SockSendTo(TNetSocket socket, const void* buffer, int length, int flags,
                   const std::string& ip, int port) override;
    int SockSetOption(TNetSocket socket, int level, int option, const void* value,
                      int length) override;
    TNetSocket SockCreate(int family, int type, int protocol) override;
    int SockShutdown(TNetSocket socket, int how) override;
    std::string SockErrorText(int code) override;
    int SockLastError() override;
    void SockSetLastError(int code) override;
    void SockPeerName(TNetSocket socket, int& family, int& port, std::string& ip) override;
    void SockLocalName(TNetSocket socket, int& family, int& port, std::string& ip) override;
    int SockGetOption(TNetSocket socket, int level, int option, void* value,
                      int& length) override;

    // The socket error number for an errno value (ECONNREFUSED -> 10061, ...).
    static int ErrnoToSocketError(int err);
    // The socket error number for a getaddrinfo failure (EAI_NONAME -> 11001, ...).
    static int ResolverErrorToSocketError(int eaiCode, int err);
    // Names under the reserved "invalid" top-level domain never resolve; they
    // are answered at once without asking any name server.
    static bool IsReservedInvalidName(const std::string& host);

private:
    // Records the current errno as this thread's last socket error; returns -1.
    int fail();
    // Records 10022 (invalid argument); returns -1.
    int invalidArgument();
    // The outcome of a connect that was waited for: 0, or -1 with the error recorded.
    int pendingConnectResult(TNetSocket socket);
    // The address `query` (getpeername or getsockname) reports for `socket`.
    void socketName(int (*query)(int, sockaddr*, socklen_t*), TNetSocket socket, int& family, int& port,
                    std::string& ip);
};

}  // namespace net
