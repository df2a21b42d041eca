#pragma once
// One socket with its local and peer address, and the gate through which
// another thread may interrupt calls blocked on it.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "http/NetStack.h"

namespace net {

// Shared by a connection and its socket. Interrupt() may be called from any
// thread: it marks the gate and shuts the attached socket down in both
// directions, which wakes a connect, receive, send or readability wait
// blocked on it. Closing the socket goes through the gate under the same lock,
// so an interrupt never reaches a socket number that was closed and reused.
class TNetInterruptGate {
public:
    void Interrupt();
    void Clear() { interrupted_.store(false); }
    bool Interrupted() const { return interrupted_.load(); }

    // Registers the open socket; false (socket left alone) when interrupted.
    bool Attach(TNetSocket socket);
    // Shuts the socket down in both directions without marking the gate.
    void ShutdownAttached();
    // Unregisters the socket and runs `closeSocket` under the gate's lock.
    template <class Close>
    void Detach(TNetSocket socket, Close&& closeSocket) {
        std::lock_guard lock(mutex_);
        if (socket_ == socket) socket_ = kInvalidSocket;
        closeSocket();
    }

private:
    std::mutex mutex_;
    std::atomic<bool> interrupted_{false};
    TNetSocket socket_ = kInvalidSocket;
};

class TNetSocketHandle {
public:
    TNetSocketHandle();
    TNetSocketHandle(const TNetSocketHandle&) = delete;
    TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;
    virtual ~TNetSocketHandle();

    // Forgets the socket (without closing it) and the peer; with resetLocal
    // also the local address and port.
    void ResetHandle(bool resetLocal);
    // Closes any open socket and opens a new one (stream, protocol 0 by default).
    void AllocateHandle(int type = kSocketTypeStream, int protocol = 0);
    // Binds to IP:Port, or to the highest free port of ClientPortMin..Max.
    void BindLocal();
    void SetPeerAddress(const std::string& ip, int port);
    void SetOption(int level, int option, int length, const void* value);
    // Connects to the peer; returns the call's result (-1 = failed, the code
    // is then GStack().LastError()).
    virtual int ConnectPeer(int family = kAddressFamilyIPv4);
    // Raises ENetConnClosedGracefully when no socket is open; otherwise waits
    // up to `timeout` ms (-2 = no limit) and says whether data (or a close)
    // is waiting.
    bool WaitReadable(int timeout);
    int ReceiveBytes(void* buffer, int length, int flags = 0);
    int SendBytes(const void* buffer, int length, int flags = 0);
    // Datagram receive; fills the sender's address.
    virtual int ReceiveFrom(void* buffer, int length, std::string& ip, int& port);
    // Shuts sending down and closes the socket, when one is open.
    virtual void ReleaseHandle();
    // Wakes a call blocked on the socket (from another thread); the socket
    // stays open until ReleaseHandle.
    void ShutdownBoth();

    // The gate that Interrupt() of the owning connection goes through.
    void SetInterruptGate(std::shared_ptr<TNetInterruptGate> gate);
    const std::shared_ptr<TNetInterruptGate>& InterruptGate() const { return gate_; }

    TNetSocket Handle() const { return handle_.load(); }
    bool HandleAllocated() const { return allocated_.load(); }
    const std::string& IP() const { return ip_; }
    void SetIP(const std::string& ip) { ip_ = ip; }
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    const std::string& PeerIP() const { return peerIP_; }
    int PeerPort() const { return peerPort_; }
    int ClientPortMin() const { return clientPortMin_; }
    void SetClientPortMin(int port) { clientPortMin_ = port; }
    int ClientPortMax() const { return clientPortMax_; }
    void SetClientPortMax(int port) { clientPortMax_ = port; }

private:
    // One bind attempt to IP:port; false when the address is in use.
    bool tryBind(int port);
    void refreshLocalName();

    std::atomic<TNetSocket> handle_{kInvalidSocket};
    std::atomic<bool> allocated_{false};
    std::atomic<bool> abortConnect_{false};
    std::string ip_;
    std::string peerIP_;
    int port_ = 0;
    int peerPort_ = 0;
    int clientPortMin_ = 0;
    int clientPortMax_ = 0;
    std::shared_ptr<TNetInterruptGate> gate_;
};

}  // namespace net
