#include "http/NetTCPClient.h"

#include "http/NetSocketErrors.h"

namespace net {

void TNetTCPClient::DoOnConnected() {
    if (OnConnected) OnConnected(this);
}

void TNetTCPClient::OpenConnection(int timeout) {
    if (!IOHandler())
        ensureTransport();
    else if (IOHandler()->HandlerIsConnected())
        throw ENetAlreadyConnected();
    // A fresh connection: an interrupt aimed at an earlier one is over.
    ClearInterrupt();
    try {
        TNetIOHandler& transport = *IOHandler();
        transport.HandlerOpen();
        ResetConnectionState();
        transport.HandlerConnect(host_, port_, boundIP_, boundPort_, boundPortMin_, boundPortMax_,
                                 timeout);
        if (Interrupted()) throw ENetInterrupted();
        if (Intercept()) Intercept()->Connect(this);
        SignalStatus(hsConnected, {host_});
        DoOnConnected();
    } catch (...) {
        DropSocket();
        if (Interrupted()) throw ENetInterrupted();
        throw;
    }
}

std::string TNetTCPClient::ConnectAndGetAll() {
    OpenConnection();
    struct CloseAtEnd {
        TNetTCPClient& client;
        ~CloseAtEnd() {
            try {
                client.CloseConnection();
            } catch (...) {
                // Closing only releases; what was read stands.
            }
        }
    } closeAtEnd{*this};
    return ReadUntilClosed();
}

}  // namespace net
