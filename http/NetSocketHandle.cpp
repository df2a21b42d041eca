#include "http/NetSocketHandle.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "http/NetComponent.h"

namespace net {

// ---- TNetInterruptGate

void TNetInterruptGate::Interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_.store(true);
    if (socket_ != kInvalidSocket) ::shutdown(socket_, SHUT_RDWR);
}

bool TNetInterruptGate::Attach(TNetSocket socket) {
    std::lock_guard lock(mutex_);
    if (interrupted_.load()) return false;
    socket_ = socket;
    return true;
}

void TNetInterruptGate::ShutdownAttached() {
    std::lock_guard lock(mutex_);
    if (socket_ != kInvalidSocket) ::shutdown(socket_, SHUT_RDWR);
}

// ---- TNetSocketHandle

TNetSocketHandle::TNetSocketHandle() { ResetHandle(true); }

TNetSocketHandle::~TNetSocketHandle() { ReleaseHandle(); }

void TNetSocketHandle::ResetHandle(bool resetLocal) {
    allocated_.store(false);
    handle_.store(kInvalidSocket);
    if (resetLocal) {
        ip_.clear();
        port_ = 0;
    }
    peerIP_.clear();
    peerPort_ = 0;
}

void TNetSocketHandle::SetInterruptGate(std::shared_ptr<TNetInterruptGate> gate) {
    gate_ = std::move(gate);
}

void TNetSocketHandle::AllocateHandle(int type, int protocol) {
    ReleaseHandle();
    if (allocated_.load()) ResetHandle(true);
    const TNetSocket s = GStack().NewSocket(type, protocol);
    if (gate_ && !gate_->Attach(s)) {
        GStack().SockClose(s);
        throw ENetInterrupted();
    }
    handle_.store(s);
    allocated_.store(true);
}

bool TNetSocketHandle::tryBind(int port) {
    TNetStack& stack = GStack();
    const int result = stack.SockBind(handle_.load(), kAddressFamilyIPv4, port, ip_);
    if (stack.CheckSocketResult(result, {wsa::kAddressInUse})) return false;
    refreshLocalName();
    return true;
}

void TNetSocketHandle::BindLocal() {
    if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
        if (!tryBind(port_)) throw ENetCouldNotBindSocket();
        return;
    }
    if (clientPortMax_ < clientPortMin_) throw ENetInvalidPortRange(clientPortMin_, clientPortMax_);
    for (int port = clientPortMax_; port >= clientPortMin_; --port)
        if (tryBind(port)) return;
    throw ENetCanNotBindPortInRange(clientPortMin_, clientPortMax_);
}

void TNetSocketHandle::SetPeerAddress(const std::string& ip, int port) {
    peerIP_ = ip;
    peerPort_ = port;
}

void TNetSocketHandle::SetOption(int level, int option, int length, const void* value) {
    TNetStack& stack = GStack();
    stack.CheckSocketResult(stack.SockSetOption(handle_.load(), level, option, value, length));
}

int TNetSocketHandle::ConnectPeer(int family) {
    TNetStack& stack = GStack();
    abortConnect_.store(false);
    const auto cancelled = [this] {
        return abortConnect_.load() || (gate_ && gate_->Interrupted());
    };
    const int result = stack.SockConnectWatched(handle_.load(), family, peerPort_, peerIP_, cancelled);
    if (result != kSocketError) {
        refreshLocalName();
        int peerFamily = 0;
        stack.SockPeerName(handle_.load(), peerFamily, peerPort_, peerIP_);
    }
    return result;
}

void TNetSocketHandle::refreshLocalName() {
    int family = 0;
    GStack().SockLocalName(handle_.load(), family, port_, ip_);
}

bool TNetSocketHandle::WaitReadable(int timeout) {
    if (!allocated_.load()) throw ENetConnClosedGracefully();
    TNetStack& stack = GStack();
    auto waitOnce = [&](int ms) {
        std::vector<TNetSocket> read{handle_.load()};
        return stack.SockSelect(&read, nullptr, ms, nullptr) == 1;
    };
    if (!TNetAntiFreezeBase::InUse()) return waitOnce(timeout);

    // Let the user interface run between slices of the wait.
    const int slice = TNetAntiFreezeBase::ActiveIdleTimeOut();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        int ms = slice;
        if (timeout != -2) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            ms = static_cast<int>(std::min<long long>(slice, std::max<long long>(0, timeout - spent)));
        }
        if (waitOnce(ms)) return true;
        TNetAntiFreezeBase::DoProcess();
        if (timeout != -2 && std::chrono::steady_clock::now() - start >=
                                 std::chrono::milliseconds(timeout))
            return false;
        if (!allocated_.load()) throw ENetConnClosedGracefully();
    }
}

int TNetSocketHandle::ReceiveBytes(void* buffer, int length, int flags) {
    return GStack().SockRecv(handle_.load(), buffer, length, flags);
}

int TNetSocketHandle::SendBytes(const void* buffer, int length, int flags) {
    return GStack().SockSend(handle_.load(), buffer, length, flags);
}

int TNetSocketHandle::ReceiveFrom(void* buffer, int length, std::string& ip, int& port) {
    TNetStack& stack = GStack();
    const int n = stack.SockRecvFrom(handle_.load(), buffer, length, 0, ip, port);
    stack.CheckSocketResult(n);
    return n;
}

void TNetSocketHandle::ReleaseHandle() {
    if (!allocated_.load()) return;
    allocated_.store(false);
    const TNetSocket s = handle_.load();
    auto close = [s] {
        TNetStack& stack = GStack();
        stack.SockShutdown(s, kShutdownSend);
        stack.SockClose(s);
    };
    if (gate_)
        gate_->Detach(s, close);
    else
        close();
}

void TNetSocketHandle::ShutdownBoth() {
    abortConnect_.store(true);
    if (allocated_.load()) ::shutdown(handle_.load(), SHUT_RDWR);
}

}  // namespace net
