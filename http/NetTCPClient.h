#pragma once
// The client side of a TCP connection: where to connect, and the connect.
#include <string>

#include "http/NetTCPConnection.h"

namespace net {

class TNetTCPClient : public TNetTCPConnection {
public:
    TNetTCPClient() = default;
    ~TNetTCPClient() override = default;

    const std::string& Host() const { return host_; }
    virtual void SetHost(const std::string& host) { host_ = host; }
    int Port() const { return port_; }
    virtual void SetPort(int port) { port_ = port; }
    // Local address and port to bind before connecting ("" / 0 = any).
    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
    int BoundPort() const { return boundPort_; }
    void SetBoundPort(int port) { boundPort_ = port; }
    // Local port range to bind in (both 0 = no range).
    int BoundPortMin() const { return boundPortMin_; }
    void SetBoundPortMin(int port) { boundPortMin_ = port; }
    int BoundPortMax() const { return boundPortMax_; }
    void SetBoundPortMax(int port) { boundPortMax_ = port; }

    TNetNotifyEvent OnConnected;

    virtual void DoOnConnected();
    // Connects to Host:Port. timeout 0 or -1 = plain blocking connect; > 0 =
    // give up after that many ms with ENetConnectTimeout. Raises
    // ENetAlreadyConnected when the transport is open. On failure the socket
    // is closed again.
    virtual void OpenConnection(int timeout = 0);
    // Connects, reads until the peer closes, closes; returns what was read.
    virtual std::string ConnectAndGetAll();

private:
    std::string host_;
    int port_ = 0;
    std::string boundIP_;
    int boundPort_ = 0;
    int boundPortMin_ = 0;
    int boundPortMax_ = 0;
};

}  // namespace net
