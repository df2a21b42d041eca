#include "http/NetIOHandlerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace net {

// ---- TNetConnectThread

TNetConnectThread::TNetConnectThread(TNetSocketHandle& handle)
    : handle_(handle), thread_([this] { run(); }) {}

TNetConnectThread::~TNetConnectThread() {
    if (!thread_.joinable()) return;
    bool finished;
    {
        std::lock_guard lock(mutex_);
        finished = finished_;
    }
    if (!finished) handle_.ShutdownBoth();
    thread_.join();
}

void TNetConnectThread::run() {
    std::optional<std::string> failure;
    try {
        const int result = handle_.ConnectPeer(kAddressFamilyIPv4);
        // 10009 and 10038 mean the socket went away under the connect.
        GStack().CheckSocketResult(result, {wsa::kBadFile, wsa::kNotSocket});
    } catch (const std::exception& e) {
        failure = e.what();
    }
    std::lock_guard lock(mutex_);
    if (!stopRequested_) failure_ = std::move(failure);
    finished_ = true;
    finishedChanged_.notify_all();
}

bool TNetConnectThread::WaitFor(int timeout) {
    std::unique_lock lock(mutex_);
    if (timeout == -2) {
        finishedChanged_.wait(lock, [this] { return finished_; });
        return true;
    }
    return finishedChanged_.wait_for(lock, std::chrono::milliseconds(std::max(timeout, 0)),
                                     [this] { return finished_; });
}

void TNetConnectThread::Terminate() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    // A shutdown wakes a connect that is still waiting for the peer.
    handle_.ShutdownBoth();
    if (thread_.joinable()) thread_.join();
}

// ---- TNetIOHandlerSocket

TNetIOHandlerSocket::TNetIOHandlerSocket() = default;

TNetIOHandlerSocket::~TNetIOHandlerSocket() {
    if (binding_) binding_->ReleaseHandle();
}

void TNetIOHandlerSocket::SetInterruptGate(std::shared_ptr<TNetInterruptGate> gate) {
    TNetIOHandler::SetInterruptGate(gate);
    if (binding_) binding_->SetInterruptGate(std::move(gate));
}

void TNetIOHandlerSocket::HandlerOpen() {
    TNetIOHandler::HandlerOpen();
    if (binding_) {
        binding_->ReleaseHandle();
        binding_->ResetHandle(true);
    } else {
        binding_ = std::make_unique<TNetSocketHandle>();
        binding_->SetInterruptGate(gate_);
    }
}

void TNetIOHandlerSocket::HandlerClose() {
    TNetIOHandler::HandlerClose();
    if (binding_) binding_->ReleaseHandle();
}

bool TNetIOHandlerSocket::HandlerIsConnected() { return binding_ && binding_->HandleAllocated(); }

void TNetIOHandlerSocket::HandlerConnect(const std::string& host, int port,
                                         const std::string& boundIP, int boundPort,
                                         int boundPortMin, int boundPortMax, int timeout) {
    if (!binding_) HandlerOpen();
    TNetSocketHandle& handle = *binding_;
    handle.AllocateHandle(kSocketTypeStream, 0);
    handle.SetIP(boundIP);
    handle.SetPort(boundPort);
    handle.SetClientPortMin(boundPortMin);
    handle.SetClientPortMax(boundPortMax);
    handle.BindLocal();

    std::string ip;
    if (!TNetStack::IsIPAddress(host)) SignalStatus(hsResolving, {host});
    ip = GStack().ResolveHostAddress(host);
    handle.SetPeerAddress(ip, port);
    if (gate_ && gate_->Interrupted()) throw ENetInterrupted();

    if (!useNagle_) {
        const int one = 1;
        handle.SetOption(IPPROTO_TCP, TCP_NODELAY, sizeof one, &one);
    }
    SignalStatus(hsConnecting, {handle.PeerIP()});

    if (timeout != -1 && timeout != 0) {
        timedConnect(timeout);
    } else if (TNetAntiFreezeBase::InUse()) {
        timedConnect(kAntiFreezeConnectTimeout);
    } else {
        GStack().CheckSocketResult(handle.ConnectPeer(kAddressFamilyIPv4));
    }
}

void TNetIOHandlerSocket::timedConnect(int timeout) {
    TNetConnectThread thread(*binding_);
    bool finished;
    if (TNetAntiFreezeBase::InUse()) {
        // Let the user interface run while waiting.
        const int slice = std::min(125, TNetAntiFreezeBase::ActiveIdleTimeOut());
        int remaining = timeout;
        for (;;) {
            finished = thread.WaitFor(timeout == -2 ? slice : std::min(slice, remaining));
            if (finished) break;
            TNetAntiFreezeBase::DoProcess();
            if (timeout != -2) {
                remaining -= slice;
                if (remaining <= 0) break;
            }
        }
    } else {
        finished = thread.WaitFor(timeout);
    }
    if (!finished) {
        thread.Terminate();
        HandlerClose();
        throw ENetConnectTimeout();
    }
    if (thread.FailureMessage()) throw ENetConnectException(*thread.FailureMessage());
}

bool TNetIOHandlerSocket::HandlerReadable(int timeout) {
    if (!binding_) throw ENetConnClosedGracefully();
    return binding_->WaitReadable(timeout);
}

int TNetIOHandlerSocket::HandlerReceive(void* buffer, int length) {
    if (!binding_ || !binding_->HandleAllocated()) throw ENetClosedSocket();
    return binding_->ReceiveBytes(buffer, length, 0);
}

int TNetIOHandlerSocket::HandlerSend(const void* buffer, int length) {
    if (!binding_ || !binding_->HandleAllocated()) throw ENetClosedSocket();
    return binding_->SendBytes(buffer, length, 0);
}

}  // namespace net
