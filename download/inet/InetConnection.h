#pragma once
// A connection handle: the server (host, port, credentials) and the service
// that requests made through it speak. Like the platform's, it only names the
// server: the TCP connection is made when a request is sent. Closing it, or
// its internet handle, from any thread interrupts its requests.
#include <memory>
#include <string>

#include "download/inet/InetAbortSignal.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetSession.h"

namespace inet {

enum class Service { Ftp = 1, Http = 3 };

class Connection {
public:
    // Fails with kErrStopped when the internet handle is closed, with
    // kErrInvalidUrl without a host.
    static Result<std::shared_ptr<Connection>> connect(std::shared_ptr<Session> session, std::string host, int port,
                                                       std::string userName, std::string password, Service service);

    Connection(std::shared_ptr<Session> session, std::string host, int port, std::string userName,
               std::string password, Service service);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sent to a named proxy with every request of this connection.
    void setProxyCredentials(std::string userName, std::string password);

    const std::shared_ptr<Session>& session() const { return session_; }
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    const std::string& userName() const { return userName_; }
    const std::string& password() const { return password_; }
    Service service() const { return service_; }
    const std::string& proxyUserName() const { return proxyUserName_; }
    const std::string& proxyPassword() const { return proxyPassword_; }

    // Any thread.
    void close();
    bool closed() const { return signal_->aborted() || session_->closed(); }
    const std::shared_ptr<AbortSignal>& signal() const { return signal_; }

private:
    std::shared_ptr<Session> session_;
    std::string host_;
    int port_;
    std::string userName_;
    std::string password_;
    Service service_;
    std::string proxyUserName_;
    std::string proxyPassword_;
    std::shared_ptr<AbortSignal> signal_;
};

}  // namespace inet
