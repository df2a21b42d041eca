#pragma once
// The transport under a TCP connection. The socket transport is
// TNetIOHandlerSocket; tests put an in-memory one in its place.
#include <memory>
#include <string>

#include "http/NetComponent.h"
#include "http/NetSocketHandle.h"

namespace net {

class TNetIOHandler : public TNetComponent {
public:
    TNetIOHandler() = default;
    ~TNetIOHandler() override = default;

    // After an accepted connection (nothing for a client).
    virtual void HandlerAfterAccept() {}
    // Closes the transport's socket; marks it inactive.
    virtual void HandlerClose() { active_ = false; }
    // Connects to host:port. timeout 0 or -1 = plain blocking connect,
    // > 0 = give up after that many ms, -2 = no limit.
    virtual void HandlerConnect(const std::string& host, int port, const std::string& boundIP,
                                int boundPort, int boundPortMin, int boundPortMax,
                                int timeout) = 0;
    virtual bool HandlerIsConnected() { return active_; }
    virtual void HandlerOpen() { active_ = true; }
    // Waits up to `timeout` ms (-2 = no limit) for data or a close.
    virtual bool HandlerReadable(int timeout) = 0;
    // Bytes received (0 = closed by the peer, -1 = failed: the code is
    // GStack().LastError()).
    virtual int HandlerReceive(void* buffer, int length) = 0;
    // Bytes sent (-1 = failed, as above).
    virtual int HandlerSend(const void* buffer, int length) = 0;

    // The connection's interrupt gate; a socket transport routes its socket
    // through it. The base keeps it only so that it can be asked back.
    virtual void SetInterruptGate(std::shared_ptr<TNetInterruptGate> gate) {
        gate_ = std::move(gate);
    }
    const std::shared_ptr<TNetInterruptGate>& InterruptGate() const { return gate_; }

protected:
    bool active_ = false;
    std::shared_ptr<TNetInterruptGate> gate_;
};

}  // namespace net
