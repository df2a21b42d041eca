#include "http/NetStackPosix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

namespace net {
namespace {

// Code of this thread's last failed socket call, as SockLastError reports it.
thread_local int tSockError = 0;

constexpr std::size_t kMaxSelectSet = 64;
// How often a watched connect looks at its cancel flag.
constexpr int kConnectWatchSliceMs = 100;

enum class EmptyIP { any, invalid };

// The 16-byte IPv4 socket address. An empty IP text means "any address" only
// for a bind; elsewhere it is an invalid address (0.0.0.0 would reach this host).
sockaddr_in makeAddress(int family, int port, const std::string& ip, EmptyIP empty) {
    sockaddr_in addr{};
    addr.sin_family = static_cast<sa_family_t>(family);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (!ip.empty() || empty == EmptyIP::invalid) {
        const TNetIPv4Bytes bytes = TNetStack::ParseAddress(ip);
        std::memcpy(&addr.sin_addr, bytes.data(), 4);
    }
    return addr;
}

// A port the 16-bit address field can hold; anything else would silently
// wrap to another port.
bool portFits(int port) { return port >= 0 && port <= 65535; }

std::string addressText(const sockaddr_in& addr) {
    TNetIPv4Bytes bytes{};
    std::memcpy(bytes.data(), &addr.sin_addr, 4);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace

TNetStackPosix::TNetStackPosix() = default;

int TNetStackPosix::fail() {
    tSockError = ErrnoToSocketError(errno);
    return kSocketError;
}

int TNetStackPosix::invalidArgument() {
    errno = EINVAL;
    return fail();
}

int TNetStackPosix::ErrnoToSocketError(int err) {
    switch (err) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES:
        case EPERM: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
        case EAGAIN: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case ECONNRESET: return 10054;
        case ENOBUFS:
        case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN:
        case EPIPE: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        default: return err;  // no classic equivalent: keep the system's number
    }
}

int TNetStackPosix::ResolverErrorToSocketError(int eaiCode, int err) {
    switch (eaiCode) {
        case EAI_NONAME: return wsa::kHostNotFound;
        case EAI_AGAIN: return wsa::kTryAgain;
        case EAI_FAIL: return wsa::kNoRecovery;
#ifdef EAI_NODATA
        case EAI_NODATA: return wsa::kNoData;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return wsa::kNoData;
#endif
        case EAI_MEMORY: return 10055;
        case EAI_FAMILY: return 10047;
        case EAI_SOCKTYPE: return 10044;
        case EAI_SYSTEM: return ErrnoToSocketError(err);
        default: return wsa::kNoRecovery;
    }
}

bool TNetStackPosix::IsReservedInvalidName(const std::string& host) {
    std::string name = host;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!name.empty() && name.back() == '.') name.pop_back();
    constexpr std::string_view kTld = "invalid";
    if (name == kTld) return true;
    return name.size() > kTld.size() && name.ends_with(kTld) &&
           name[name.size() - kTld.size() - 1] == '.';
}

// ---- error state

std::string TNetStackPosix::SockErrorText(int code) {
    // Resolver failure: the one code outside the base table.
    if (code == wsa::kHostNotFound) return "Socket Error # 11001\r\nHost not found.";
    return TNetStack::SockErrorText(code);
}

int TNetStackPosix::SockLastError() { return tSockError; }

void TNetStackPosix::SockSetLastError(int code) { tSockError = code; }

// ---- sockets

TNetSocket TNetStackPosix::SockCreate(int family, int type, int protocol) {
    const int s = ::socket(family, type | SOCK_CLOEXEC, protocol);
    if (s < 0) fail();
    return s < 0 ? kInvalidSocket : s;
}

int TNetStackPosix::SockBind(TNetSocket socket, int family, int port, const std::string& ip) {
    const sockaddr_in addr = makeAddress(family, port, ip, EmptyIP::any);
    if (!portFits(port)) return invalidArgument();
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return fail();
    return 0;
}

int TNetStackPosix::SockConnect(TNetSocket socket, int family, int port, const std::string& ip) {
    const sockaddr_in addr = makeAddress(family, port, ip, EmptyIP::invalid);
    if (!portFits(port)) return invalidArgument();
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return 0;
    if (errno != EINTR) return fail();
    // A signal cut the wait short; the connect goes on in the background.
    pollfd p{socket, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0)
        if (errno != EINTR) return fail();
    return pendingConnectResult(socket);
}

int TNetStackPosix::SockConnectWatched(TNetSocket socket, int family, int port,
                                       const std::string& ip,
                                       const std::function<bool()>& cancelled) {
    const sockaddr_in addr = makeAddress(family, port, ip, EmptyIP::invalid);
    if (!portFits(port)) return invalidArgument();
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) return fail();
    // Back to blocking whatever happens: the transport relies on blocking calls.
    struct RestoreBlocking {
        int socket, flags;
        ~RestoreBlocking() { ::fcntl(socket, F_SETFL, flags); }
    } restore{socket, flags};

    if (::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return fail();
    for (;;) {
        if (cancelled && cancelled()) {
            tSockError = wsa::kInterrupted;
            return kSocketError;
        }
        pollfd p{socket, POLLOUT, 0};
        const int r = ::poll(&p, 1, kConnectWatchSliceMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (r == 0) continue;
        if (cancelled && cancelled()) {
            tSockError = wsa::kInterrupted;
            return kSocketError;
        }
        if (pendingConnectResult(socket) != 0) return kSocketError;
        if (p.revents & (POLLHUP | POLLERR)) {
            // Woken by a shutdown before the attempt completed.
            errno = ECONNABORTED;
            return fail();
        }
        return 0;
    }
}

int TNetStackPosix::SockClose(TNetSocket socket) {
    if (::close(socket) != 0) return fail();
    return 0;
}

int TNetStackPosix::SockShutdown(TNetSocket socket, int how) {
    if (::shutdown(socket, how) != 0) return fail();
    return 0;
}

int TNetStackPosix::SockListen(TNetSocket socket, int backlog) {
    if (::listen(socket, backlog) != 0) return fail();
    return 0;
}

TNetSocket TNetStackPosix::SockAccept(TNetSocket socket, std::string& ip, int& port) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    int s;
    do {
        s = ::accept4(socket, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) {
        fail();
        return kInvalidSocket;
    }
    ip = addressText(addr);
    port = ntohs(addr.sin_port);
    return s;
}

int TNetStackPosix::SockRecv(TNetSocket socket, void* buffer, int length, int flags) {
    ssize_t n;
    do {
        n = ::recv(socket, buffer, static_cast<std::size_t>(std::max(length, 0)), flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail();
    return static_cast<int>(n);
}

int TNetStackPosix::SockSend(TNetSocket socket, const void* buffer, int length, int flags) {
    ssize_t n;
    do {
        // No SIGPIPE: a send to a closed peer is an error result, not a signal.
        n = ::send(socket, buffer, static_cast<std::size_t>(std::max(length, 0)),
                   flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail();
    return static_cast<int>(n);
}

int TNetStackPosix::SockRecvFrom(TNetSocket socket, void* buffer, int length, int flags,
                                 std::string& ip, int& port) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ssize_t n;
    do {
        n = ::recvfrom(socket, buffer, static_cast<std::size_t>(std::max(length, 0)), flags,
                       reinterpret_cast<sockaddr*>(&addr), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail();
    ip = addressText(addr);
    port = ntohs(addr.sin_port);
    return static_cast<int>(n);
}

int TNetStackPosix::SockSendTo(TNetSocket socket, const void* buffer, int length, int flags,
                               const std::string& ip, int port) {
    const sockaddr_in addr = makeAddress(AF_INET, port, ip, EmptyIP::invalid);
    if (!portFits(port)) return invalidArgument();
    ssize_t n;
    do {
        n = ::sendto(socket, buffer, static_cast<std::size_t>(std::max(length, 0)),
                     flags | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail();
    return static_cast<int>(n);
}

int TNetStackPosix::SockSelect(std::vector<TNetSocket>* read, std::vector<TNetSocket>* write,
                               int timeout, std::vector<TNetSocket>* errors) {
    for (const auto* list : {read, write, errors})
        if (list && list->size() > kMaxSelectSet) throw ENetStackSetSizeExceeded();

    // poll() has no FD_SETSIZE ceiling on socket numbers, unlike select().
    std::vector<pollfd> polls;
    std::map<TNetSocket, std::size_t> index;
    auto add = [&](const std::vector<TNetSocket>* list, short events) {
        if (!list) return;
        for (TNetSocket s : *list) {
            auto [it, fresh] = index.try_emplace(s, polls.size());
            if (fresh) polls.push_back(pollfd{s, 0, 0});
            polls[it->second].events = static_cast<short>(polls[it->second].events | events);
        }
    };
    add(read, POLLIN);
    add(write, POLLOUT);
    add(errors, POLLPRI);

    const bool unlimited = timeout == -2;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    int r;
    for (;;) {
        const int wait = unlimited ? -1 : remainingMs(deadline);
        r = ::poll(polls.data(), polls.size(), wait);
        if (r >= 0 || errno != EINTR) break;
    }
    if (r < 0) return fail();
    for (const pollfd& p : polls) {
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return fail();
        }
    }
    auto keep = [&](std::vector<TNetSocket>* list, short ready) {
        if (!list) return 0;
        std::erase_if(*list, [&](TNetSocket s) { return (polls[index[s]].revents & ready) == 0; });
        return static_cast<int>(list->size());
    };
    int count = 0;
    count += keep(read, POLLIN | POLLHUP | POLLERR);
    count += keep(write, POLLOUT | POLLHUP | POLLERR);
    count += keep(errors, POLLPRI);
    return count;
}

int TNetStackPosix::SockSetOption(TNetSocket socket, int level, int option, const void* value,
                                  int length) {
    if (::setsockopt(socket, level, option, value, static_cast<socklen_t>(length)) != 0)
        return fail();
    return 0;
}

int TNetStackPosix::SockGetOption(TNetSocket socket, int level, int option, void* value,
                                  int& length) {
    socklen_t len = static_cast<socklen_t>(length);
    if (::getsockopt(socket, level, option, value, &len) != 0) return fail();
    length = static_cast<int>(len);
    return 0;
}

int TNetStackPosix::pendingConnectResult(TNetSocket socket) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return fail();
    if (err != 0) {
        errno = err;
        return fail();
    }
    return 0;
}

void TNetStackPosix::socketName(int (*query)(int, sockaddr*, socklen_t*), TNetSocket socket, int& family,
                                int& port, std::string& ip) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (query(socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0) CheckSocketResult(fail());
    family = addr.sin_family;
    port = ntohs(addr.sin_port);
    ip = addressText(addr);
}

void TNetStackPosix::SockPeerName(TNetSocket socket, int& family, int& port, std::string& ip) {
    socketName(::getpeername, socket, family, port, ip);
}

void TNetStackPosix::SockLocalName(TNetSocket socket, int& family, int& port, std::string& ip) {
    socketName(::getsockname, socket, family, port, ip);
}

// ---- names

std::string TNetStackPosix::SockHostByName(const std::string& host) {
    if (IsReservedInvalidName(host)) {
        tSockError = wsa::kHostNotFound;
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
    if (rc != 0) {
        tSockError = ResolverErrorToSocketError(rc, errno);
        return {};
    }
    std::string ip;
    for (const addrinfo* a = answer; a; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            ip = addressText(*reinterpret_cast<const sockaddr_in*>(a->ai_addr));
            break;
        }
    }
    ::freeaddrinfo(answer);
    if (ip.empty()) tSockError = wsa::kNoData;
    return ip;
}

std::string TNetStackPosix::SockHostName() {
    char name[250] = {};
    if (::gethostname(name, sizeof name - 1) != 0) CheckSocketResult(fail());
    return name;
}

std::string TNetStackPosix::SockHostByAddr(const std::string& ip) {
    const sockaddr_in addr = makeAddress(AF_INET, 0, ip, EmptyIP::invalid);
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host,
                                 sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        tSockError = ResolverErrorToSocketError(rc, errno);
        CheckSocketResult(kSocketError);
    }
    return host;
}

int TNetStackPosix::SockServiceByName(const std::string& name, const std::string& protocol) {
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    ::getservbyname_r(name.c_str(), protocol.empty() ? nullptr : protocol.c_str(), &entry, buffer,
                      sizeof buffer, &found);
    if (!found) throw ENetInvalidServiceName(name);
    return ntohs(static_cast<std::uint16_t>(found->s_port));
}

std::string TNetStackPosix::SockServiceByPort(int port, const std::string& protocol) {
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    ::getservbyport_r(htons(static_cast<std::uint16_t>(port)),
                      protocol.empty() ? nullptr : protocol.c_str(), &entry, buffer, sizeof buffer,
                      &found);
    return found ? std::string(found->s_name) : std::string();
}

void TNetStackPosix::FillLocalAddresses(std::vector<std::string>& list) {
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) CheckSocketResult(fail());
    for (const ifaddrs* a = all; a; a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET)
            list.push_back(addressText(*reinterpret_cast<const sockaddr_in*>(a->ifa_addr)));
    }
    ::freeifaddrs(all);
}

// ---- byte order

std::uint16_t TNetStackPosix::SockHostToNet16(std::uint16_t value) { return htons(value); }
std::uint16_t TNetStackPosix::SockNetToHost16(std::uint16_t value) { return ntohs(value); }
std::uint32_t TNetStackPosix::SockHostToNet32(std::uint32_t value) { return htonl(value); }
std::uint32_t TNetStackPosix::SockNetToHost32(std::uint32_t value) { return ntohl(value); }

}  // namespace net
