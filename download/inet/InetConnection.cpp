#include "download/inet/InetConnection.h"

#include "download/inet/InetErrors.h"

namespace inet {

Result<std::shared_ptr<Connection>> Connection::connect(std::shared_ptr<Session> session, std::string host,
                                                        int port, std::string userName, std::string password,
                                                        Service service) {
    if (!session || session->closed()) return dl::kErrStopped;
    if (host.empty()) return dl::kErrInvalidUrl;
    return std::make_shared<Connection>(std::move(session), std::move(host), port, std::move(userName),
                                        std::move(password), service);
}

Connection::Connection(std::shared_ptr<Session> session, std::string host, int port, std::string userName,
                       std::string password, Service service)
    : session_(std::move(session)),
      host_(std::move(host)),
      port_(port),
      userName_(std::move(userName)),
      password_(std::move(password)),
      service_(service),
      signal_(std::make_shared<AbortSignal>()) {}

void Connection::setProxyCredentials(std::string userName, std::string password) {
    proxyUserName_ = std::move(userName);
    proxyPassword_ = std::move(password);
}

void Connection::close() { signal_->abort(); }

}  // namespace inet
